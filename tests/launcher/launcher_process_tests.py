#!/usr/bin/env python3
"""Process-level tests of the launcher binary.

Usage:
  launcher_process_tests.py [--scripted PATH] [--client PATH] [--update-root ROOT]
                            [--update-manifest NAME] LAUNCHER_COMMAND...

LAUNCHER_COMMAND is how to run the launcher, for example
  /build/launcher/torvane-launcher
  wine /build/launcher/torvane-launcher.exe
--scripted names the test build of the launcher whose update attempts follow
the file "update_script.txt" (lines "R E S": result, expected and saved file
counts); it runs with the same command prefix (wine) as the launcher.
--client names the compiled stand-in game client (fake_client.c) that takes
the place of the shell-script client under Wine. --update-root and
--update-manifest are the root path and the remote manifest name built into
the launcher (the defaults are the build's defaults).

Nothing answers on port 80 where these cases run (a private network
namespace), so every real update attempt ends with the connect failure and
the fetch message; each scratch directory holds the header-only local
manifest that an installation ships with.

Every case runs in a fresh scratch directory with standard input fed by the
test and compares the output byte for byte. Under Wine, CRLF line ends are
turned into LF first, the program path in the usage text is Wine's DOS path
of the launcher, a started client ends the launcher with exit code 0, and the
cases that need a startable game client are skipped when --client is missing.
"""

import argparse
import errno
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from launcher_test_kit import (CLIENT_EXIT_CODE, CLIENT_GREETING, DAMAGED_CLIENT, FINAL_PROMPT,
                            GIVE_UP, LOCK_REFUSED, MANIFEST_HEADER, MISSING_CLIENT_NOTICE,
                            NO_SERVER, PRODUCT_LINE, TITLE_ESCAPE, TLS_START_UP_ALARMS, UNABLE_TO_START,
                            UNKNOWN_OPTION, CaseFailure, count_line, expect_equal, expect_true,
                            fetch_failed, retry_line, run_cases, server_line, usage_text)

CLIENT = "BRUXclient.exe"
MIN_CLIENT_BYTES = 100
RETRY_PAUSE_S = 3.0
# Time the launcher may take beyond its pauses.
SLACK_S = 2.5
RUN_TIMEOUT_S = 30
# How long the elevated copy, a process of its own, may take to start the
# client.
ELEVATED_COPY_WAIT_S = 20
# errno of an exec of a file that is no program: ENOEXEC in glibc and in
# Windows' own C runtime; Wine's C runtime answers EINVAL.
ENOEXEC = 8
EINVAL = 22


class Result:
    def __init__(self, exit_code, output, elapsed):
        self.exit_code = exit_code
        self.output = output
        self.elapsed = elapsed


class Harness:
    def __init__(self, launcher_command, scripted_path, client_program, root, manifest):
        self.launcher = launcher_command
        self.root = root
        self.manifest = manifest
        self.under_wine = os.path.basename(launcher_command[0]).startswith("wine")
        prefix = launcher_command[:-1]
        self.scripted = prefix + [scripted_path] if scripted_path else None
        self.client_program = client_program
        self.program_path = self.launcher_program_path()
        self.scratch = None
        self.environment = None

    def launcher_program_path(self):
        """The launcher's argv[0] as the launcher sees it: Wine hands a
        Windows program the DOS form of its path."""
        if not self.under_wine:
            return self.launcher[-1]
        # winepath through the same loader: Debian's winepath command
        # always takes the 32-bit one.
        wine_path = subprocess.run([self.launcher[0], "winepath", "--windows", self.launcher[-1]],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   check=True, timeout=RUN_TIMEOUT_S)
        return wine_path.stdout.decode().rstrip("\r\n")

    def can_start_client(self):
        return not self.under_wine or self.client_program is not None

    # --- scratch directory ------------------------------------------------

    def enter_scratch(self):
        # The lock lives in the installation: no case meets a launcher
        # outside the test.
        self.scratch = tempfile.mkdtemp(prefix="torvane-launcher-")
        self.environment = dict(os.environ)
        self.environment.setdefault("WINEDEBUG", "-all")
        self.write("update_manifest.lst", MANIFEST_HEADER)

    def fetch_failed(self):
        return fetch_failed(self.root, self.manifest)

    def no_server(self):
        """What a real update attempt without a server shows, up to the
        prompt."""
        return self.fetch_failed() + NO_SERVER

    def no_server_without_client(self):
        return self.no_server() + UNABLE_TO_START + FINAL_PROMPT

    def leave_scratch(self):
        shutil.rmtree(self.scratch, ignore_errors=True)
        self.scratch = None

    def path(self, name):
        return os.path.join(self.scratch, name)

    def write(self, name, data, mode=0o644):
        with open(self.path(name), "wb") as out:
            out.write(data)
        os.chmod(self.path(name), mode)

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def exists(self, name):
        return os.path.exists(self.path(name))

    # --- game clients -----------------------------------------------------

    def write_script_client(self, size):
        """A shell-script client of exactly |size| bytes that records its
        arguments and the descriptors it inherited, greets and exits with
        code 7. It is
        written without execute permission, as a download would be.
        Under Wine a client that is to start is the compiled stand-in, which
        does the same and is far longer than 100 bytes."""
        if self.under_wine and size >= MIN_CLIENT_BYTES:
            shutil.copyfile(self.client_program, self.path(CLIENT))
            return
        script = ("#!/bin/sh\n"
                  "echo \"$0 $#\" \"$@\">args\n"
                  "ls -l /proc/self/fd>fds\n"
                  "echo client running\n"
                  "exit %d\n" % CLIENT_EXIT_CODE).encode()
        expect_true("client script longer than %d bytes" % size, len(script) <= size)
        self.write(CLIENT, script + b"#" * (size - len(script)))

    def write_garbage_client(self, size):
        self.write(CLIENT, bytes((i * 37 + 11) % 256 for i in range(size)).replace(b"#!", b"#?"))

    def client_exit_code(self):
        return 0 if self.under_wine else CLIENT_EXIT_CODE

    def not_a_program_errno(self):
        return EINVAL if self.under_wine else ENOEXEC

    def leaked_descriptors(self):
        """Descriptors that reached the client beyond the standard three. The
        list comes from an ls started by the client, so its own handle on
        the listed directory is left out too."""
        leaked = []
        for line in self.read("fds").decode().splitlines():
            if " -> " not in line:
                continue
            left, target = line.split(" -> ", 1)
            fd = left.split()[-1]
            if fd in ("0", "1", "2") or re.fullmatch(r"/proc/\d+/fd", target):
                continue
            leaked.append("%s -> %s" % (fd, target))
        return leaked

    # --- running ----------------------------------------------------------

    def normalise(self, output):
        if self.under_wine:
            output = output.replace(b"\r\n", b"\n")
        return output.decode("latin-1")

    def run(self, arguments=(), answers=b"\n\n\n", command=None):
        command = (command or self.launcher) + list(arguments)
        start = time.monotonic()
        completed = subprocess.run(command, cwd=self.scratch, env=self.environment,
                                   input=answers, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        elapsed = time.monotonic() - start
        return Result(completed.returncode, self.normalise(completed.stdout), elapsed)

    def run_on_terminal(self, arguments=()):
        """Runs the launcher with its standard output on a pseudo-terminal
        and returns what it wrote there, line ends as the terminal shows
        them (CR LF)."""
        controller, terminal = pty.openpty()
        try:
            process = subprocess.Popen(self.launcher + list(arguments), cwd=self.scratch,
                                       env=self.environment, stdin=subprocess.DEVNULL,
                                       stdout=terminal, stderr=terminal)
        finally:
            os.close(terminal)
        seen = b""
        deadline = time.monotonic() + RUN_TIMEOUT_S
        try:
            while time.monotonic() < deadline:
                ready, _, _ = select.select([controller], [], [], 0.5)
                if not ready:
                    if process.poll() is not None:
                        break
                    continue
                try:
                    piece = os.read(controller, 4096)
                except OSError as error:
                    if error.errno != errno.EIO:  # the terminal's last writer has gone
                        raise
                    break
                if not piece:
                    break
                seen += piece
            process.wait(timeout=RUN_TIMEOUT_S)
        finally:
            os.close(controller)
        return Result(process.returncode, seen.decode("latin-1"), 0)

    def run_scripted(self, script, answers=b"\n\n\n"):
        expect_true("the scripted launcher was not given (--scripted)", self.scripted)
        self.write("update_script.txt", "".join("%d %d %d\n" % line for line in script).encode())
        return self.run(answers=answers, command=self.scripted)

    def start_held(self):
        """Starts a launcher that stops at its "Press return to start the
        game." prompt, holding the lock; its standard input stays open."""
        process = subprocess.Popen(self.launcher, cwd=self.scratch, env=self.environment,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        seen = b""
        deadline = time.monotonic() + RUN_TIMEOUT_S
        while not self.normalise(seen).endswith(NO_SERVER):
            remaining = deadline - time.monotonic()
            ready, _, _ = select.select([process.stdout], [], [], max(remaining, 0))
            if not ready:
                process.kill()
                process.wait()
                raise CaseFailure("first launcher never reached its prompt: %r" % seen)
            piece = os.read(process.stdout.fileno(), 4096)
            if not piece:
                process.wait()
                raise CaseFailure("first launcher ended early: %r" % seen)
            seen += piece
        return process, self.normalise(seen)


# --- cases -----------------------------------------------------------------

def case_help_prints_usage(h):
    program = h.program_path
    for arguments in (["-h"], ["-H"], ["-v", "-a", "-h", "-x"], ["-q", "-h"]):
        result = h.run(arguments)
        expect_equal("output of %s" % arguments, result.output, usage_text(program) + PRODUCT_LINE)
        expect_equal("exit code of %s" % arguments, result.exit_code, 1)


def case_unknown_option_prints_usage(h):
    program = h.program_path
    for arguments in (["-x"], ["-x", "-h"], ["-v", "--verbose"], ["v"]):
        result = h.run(arguments)
        expect_equal("output of %s" % arguments, result.output,
                     UNKNOWN_OPTION + usage_text(program) + PRODUCT_LINE)
        expect_equal("exit code of %s" % arguments, result.exit_code, 1)
    expect_equal("files after help or an unknown option", sorted(os.listdir(h.scratch)),
                 ["update_manifest.lst"])


def case_title_escape_only_on_a_terminal(h):
    result = h.run_on_terminal(["-h"])
    expected = TITLE_ESCAPE + (usage_text(h.program_path) + PRODUCT_LINE).replace("\n", "\r\n")
    expect_equal("output on a terminal", result.output, expected)
    expect_equal("exit code", result.exit_code, 1)
    piped = h.run(["-h"])
    expect_true("the title escape went into a pipe", TITLE_ESCAPE not in piped.output)


def case_upper_case_options_accepted(h):
    # -V unmasks the diagnostics, so the missing client's notice shows.
    verbose_output = (server_line(h.root, h.manifest) +
                      "Loaded 0 entries from current manifest file 'update_manifest.lst'.\n" +
                      fetch_failed(h.root, h.manifest) + NO_SERVER + MISSING_CLIENT_NOTICE +
                      UNABLE_TO_START + FINAL_PROMPT)
    quiet_output = h.no_server_without_client()
    for arguments, expected in ((["-V"], verbose_output), (["-A"], quiet_output),
                                (["-Q"], quiet_output),
                                (["-A", "-V", "-q"], verbose_output)):
        result = h.run(arguments)
        expect_equal("output of %s" % arguments, result.output, expected)
        expect_equal("exit code of %s" % arguments, result.exit_code, 1)


def case_no_server_and_no_client(h):
    result = h.run()
    expect_equal("output", result.output, h.no_server_without_client())
    expect_equal("exit code", result.exit_code, 1)


def case_start_says_nothing_about_tls(h):
    # The update attempt starts the TLS library; the downloads are plain
    # HTTP, so neither a build with TLS nor one without mentions it.
    for arguments, first_line in (([], fetch_failed(h.root, h.manifest)),
                                  (["-v"], server_line(h.root, h.manifest))):
        result = h.run(arguments)
        for alarm in TLS_START_UP_ALARMS:
            expect_true("%s printed %r:\n%s" % (arguments, alarm, result.output), alarm not in result.output)
        expect_true("%s did not start with the update attempt:\n%s" % (arguments, result.output),
                    result.output.startswith(first_line))


def case_missing_local_manifest_aborts_the_update(h):
    os.remove(h.path("update_manifest.lst"))
    result = h.run()
    expect_equal("output", result.output,
                 "Error loading manifest file 'update_manifest.lst', aborting update.\n" +
                 NO_SERVER + UNABLE_TO_START + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 1)


def case_end_of_input_answers_the_prompts(h):
    result = h.run(answers=b"")
    expect_equal("output", result.output, h.no_server_without_client())
    expect_equal("exit code", result.exit_code, 1)


def case_second_launcher_is_refused_while_first_holds_lock(h):
    first, first_output = h.start_held()
    try:
        second = h.run()
        expect_equal("second launcher's output", second.output, LOCK_REFUSED)
        expect_equal("second launcher's exit code", second.exit_code, 1)
    finally:
        rest, _ = first.communicate(b"\n\n", timeout=RUN_TIMEOUT_S)
    expect_equal("first launcher's output", first_output + h.normalise(rest),
                 h.no_server_without_client())
    expect_equal("first launcher's exit code", first.returncode, 1)
    third = h.run()
    expect_equal("launcher after the first ended", third.output, h.no_server_without_client())


def case_lock_of_a_killed_launcher_is_free(h):
    first, _ = h.start_held()
    first.kill()
    first.wait()
    result = h.run()
    expect_equal("output", result.output, h.no_server_without_client())
    expect_equal("exit code", result.exit_code, 1)


def case_short_client_is_deleted_not_started(h):
    h.write_script_client(MIN_CLIENT_BYTES - 1)
    result = h.run()
    expect_equal("output", result.output, h.no_server_without_client())
    expect_equal("exit code", result.exit_code, 1)
    expect_true("the 99-byte client is still there", not h.exists(CLIENT))
    expect_true("the 99-byte client ran", not h.exists("args"))


def case_client_replaces_launcher(h):
    h.write_script_client(MIN_CLIENT_BYTES)
    result = h.run()
    expect_equal("output", result.output, h.no_server() + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    expect_equal("client arguments", h.read("args"), b"BRUXclient.exe 0\n")
    expect_true("the started client was deleted", h.exists(CLIENT))
    # Windows' _execv hands the C runtime's handles to the client on purpose.
    if not h.under_wine:
        expect_equal("descriptors leaked into the client", h.leaked_descriptors(), [])


def case_unstartable_client_is_deleted(h):
    h.write_garbage_client(MIN_CLIENT_BYTES)
    result = h.run()
    expected = (h.no_server() +
                "Error in qarn_boot_exec(), exec failed.  Return code -1, error code %d."
                " Filename: BRUXclient.exe\n" % h.not_a_program_errno() +
                UNABLE_TO_START + FINAL_PROMPT)
    expect_equal("output", result.output, expected)
    expect_equal("exit code", result.exit_code, 1)
    expect_true("the unstartable client is still there", not h.exists(CLIENT))


def case_scripted_up_to_date_starts_game_at_once(h):
    h.write_script_client(MIN_CLIENT_BYTES)
    result = h.run_scripted([(1, 0, 0)])
    expect_equal("output", result.output, CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    expect_true("paused before the start (%.2f s)" % result.elapsed,
                result.elapsed < RETRY_PAUSE_S)


def case_scripted_retry_pauses_then_starts_game(h):
    h.write_script_client(MIN_CLIENT_BYTES)
    result = h.run_scripted([(1, 5, 3), (1, 2, 2)])
    expect_equal("output", result.output,
                 count_line(3, 5) + retry_line(2) + count_line(2, 2) + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    expect_true("one pause of 3 s took %.2f s" % result.elapsed,
                RETRY_PAUSE_S <= result.elapsed < RETRY_PAUSE_S + SLACK_S)


def case_scripted_three_short_attempts_give_up(h):
    h.write_script_client(MIN_CLIENT_BYTES)
    result = h.run_scripted([(1, 5, 3), (1, 2, 1), (1, 1, 0)])
    expect_equal("output", result.output,
                 count_line(3, 5) + retry_line(2) + count_line(1, 2) + retry_line(3) +
                 count_line(0, 1) + GIVE_UP + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 0)
    expect_true("client started after giving up", not h.exists("args"))
    expect_true("two pauses of 3 s took %.2f s" % result.elapsed,
                2 * RETRY_PAUSE_S <= result.elapsed < 2 * RETRY_PAUSE_S + SLACK_S)


def case_scripted_failed_run_is_not_retried(h):
    h.write_script_client(MIN_CLIENT_BYTES)
    result = h.run_scripted([(0, 4, 1), (1, 0, 0)])
    expect_equal("output", result.output, NO_SERVER + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())


def case_scripted_damaged_client_after_update(h):
    h.write_script_client(MIN_CLIENT_BYTES - 1)
    result = h.run_scripted([(1, 2, 2)])
    expect_equal("output", result.output, count_line(2, 2) + DAMAGED_CLIENT + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 0)
    expect_true("the damaged client is still there", not h.exists(CLIENT))


def case_scripted_elevated_copy_starts_in_the_installation(h):
    # The launcher lives in a directory named beyond ASCII (a letter beyond
    # the Basic Multilingual Plane has no ANSI form anywhere); the shell's
    # "runas" start must still find it, and the elevated copy works on the
    # installation, where it starts the client.
    programs = h.path("Programme-é-😀")
    os.mkdir(programs)
    launcher = os.path.join(programs, "launcher-ü.exe")
    shutil.copyfile(h.scripted[-1], launcher)
    h.write_script_client(MIN_CLIENT_BYTES)
    h.write("update_script.txt", b"5 0 0\n1 0 0\n")
    result = h.run(command=h.scripted[:-1] + [launcher])
    expect_equal("output of the launcher that asked for elevation", result.output, "")
    expect_equal("its exit code", result.exit_code, 1)
    deadline = time.monotonic() + ELEVATED_COPY_WAIT_S
    while not h.exists("args") and time.monotonic() < deadline:
        time.sleep(0.1)
    expect_true("the elevated copy did not start the client in the installation", h.exists("args"))
    expect_equal("client arguments", h.read("args"), b"BRUXclient.exe 0\n")


# Cases that need the terminal title escape, which only the POSIX build
# writes (Windows sets the console title through its own call).
POSIX_TERMINAL_CASES = {
    case_title_escape_only_on_a_terminal,
}

# Cases whose game client must start.
STARTED_CLIENT_CASES = {
    case_client_replaces_launcher,
    case_scripted_elevated_copy_starts_in_the_installation,
    case_scripted_up_to_date_starts_game_at_once,
    case_scripted_retry_pauses_then_starts_game,
    case_scripted_three_short_attempts_give_up,
    case_scripted_failed_run_is_not_retried,
}

# Cases of the Windows shell's elevated start; POSIX elevates through its
# own helper, which instance_lock_process_tests.py covers.
WINDOWS_SHELL_CASES = {
    case_scripted_elevated_copy_starts_in_the_installation,
}

CASES = [
    case_help_prints_usage,
    case_unknown_option_prints_usage,
    case_title_escape_only_on_a_terminal,
    case_upper_case_options_accepted,
    case_no_server_and_no_client,
    case_start_says_nothing_about_tls,
    case_missing_local_manifest_aborts_the_update,
    case_end_of_input_answers_the_prompts,
    case_second_launcher_is_refused_while_first_holds_lock,
    case_lock_of_a_killed_launcher_is_free,
    case_short_client_is_deleted_not_started,
    case_client_replaces_launcher,
    case_unstartable_client_is_deleted,
    case_scripted_up_to_date_starts_game_at_once,
    case_scripted_retry_pauses_then_starts_game,
    case_scripted_three_short_attempts_give_up,
    case_scripted_failed_run_is_not_retried,
    case_scripted_damaged_client_after_update,
    case_scripted_elevated_copy_starts_in_the_installation,
]


def skip_reason(harness, case):
    if case in POSIX_TERMINAL_CASES and harness.under_wine:
        return "the terminal title escape is POSIX only"
    if case in WINDOWS_SHELL_CASES and not harness.under_wine:
        return "the shell's elevated start is Windows only"
    if case in STARTED_CLIENT_CASES and not harness.can_start_client():
        return "needs --client under Wine"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scripted", help="the launcher build with scripted update attempts")
    parser.add_argument("--client", help="the compiled stand-in game client, used under Wine")
    parser.add_argument("--update-root", default="/torvane", help="the launcher's built-in root path")
    parser.add_argument("--update-manifest", default="manifest.lst.z",
                        help="the launcher's built-in remote manifest name")
    parser.add_argument("launcher", nargs=argparse.REMAINDER, help="command that runs the launcher")
    options = parser.parse_args()
    if not options.launcher:
        parser.error("the launcher command is missing")
    scripted = os.path.abspath(options.scripted) if options.scripted else None
    client = os.path.abspath(options.client) if options.client else None
    launcher = list(options.launcher)
    # Cases run in their own directories; a relative path would not be found.
    if not os.path.isabs(launcher[-1]) and os.path.exists(launcher[-1]):
        launcher[-1] = os.path.abspath(launcher[-1])
    harness = Harness(launcher, scripted, client, options.update_root, options.update_manifest)

    return run_cases(harness, CASES, lambda case: skip_reason(harness, case), harness.enter_scratch,
                     harness.leave_scratch)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    sys.exit(main())
