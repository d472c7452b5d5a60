#!/usr/bin/env python3
"""Whole-program tests of the launcher against a real update server.

Usage:
  launcher_update_tests.py --publish PATH --client PATH --keyed-launcher PATH
                           --release-key KEYFILE [--emulator PROGRAM]
                           [--update-root ROOT] [--update-manifest NAME] LAUNCHER

nginx serves releases on 127.0.0.1:80, so this runs in a private network
namespace (scripts/in_netns.sh) where port 80 is free. Each release is
published with torvane-publish (PATH, run through --emulator when it is a
Windows program) and its game client is the compiled stand-in client
(fake_client.c), which greets, records its arguments in "args" and exits
with code 7. LAUNCHER is the launcher program, run through --emulator (wine)
for the Windows build; under Wine a started client ends the launcher with
exit code 0 and lines end in CR LF, which is turned into LF first.

--keyed-launcher is the same launcher built with the public half of
KEYFILE as its release key; the signed cases sign with KEYFILE.

Each case runs against a fresh installation directory that holds only the
header-only local manifest, as a new player's does.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib

from launcher_test_kit import (CLIENT_EXIT_CODE, CLIENT_GREETING, FINAL_PROMPT, GIVE_UP,
                            MANIFEST_HEADER, NO_SERVER, TLS_ABSENT, UNABLE_TO_START, CaseFailure,
                            count_line, expect_equal, expect_true, fetch_failed, retry_line,
                            run_cases, server_line)

CLIENT = "BRUXclient.exe"
UPDATE_PORT = 80
RUN_TIMEOUT_S = 60
LOG_WAIT_S = 3
NGINX = "/usr/sbin/nginx"
UNPRIVILEGED_USER = "nobody"
BAD_CONFIGURATION_FREE = "Segmentation fault."
ELEVATION_TRY = "Trying to get admin permissions.\n"
WARNINGS = ("Warning - failed to set download target directory to pwd.\n"
            "Warning - failed to set temporary download file 'tmp/update.tmp'.\n")
UPDATE_FAILED = "Update failed.\n"
STATISTICS_LINES = ("local_manifest_initial_entry_count:", "local_manifest_pruned_entry_count:",
                    "remote_manifest_entry_count:", "exclude_manifest_file_count",
                    "expected_download_file_count:", "successfully_saved_file_count:",
                    "failed_download_file_count:", "failed_save_file_count:",
                    "expected_download_byte_count:", "current_download_byte_count:",
                    "downloaded_bytes:", "saved_bytes:")


class Result:
    def __init__(self, exit_code, output):
        self.exit_code = exit_code
        self.output = output


class Server:
    """nginx on 127.0.0.1:80 serving WORK/docroot, started and stopped by
    its own process id; |directives| go into its http block."""

    def __init__(self, work, directives=""):
        self.work = work
        self.directives = directives
        self.docroot = os.path.join(work, "docroot")
        self.process = None
        os.makedirs(self.docroot, exist_ok=True)

    def start(self):
        user = "user root;\n" if os.geteuid() == 0 else ""
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as out:
            out.write("daemon off;\nmaster_process on;\nworker_processes 1;\n%s"
                      "pid %s/nginx.pid;\nerror_log %s/error.log warn;\n"
                      "events { worker_connections 64; }\n"
                      "http {\n  access_log %s/access.log;\n"
                      "  client_body_temp_path %s/cb;\n  proxy_temp_path %s/px;\n"
                      "  fastcgi_temp_path %s/fc;\n  uwsgi_temp_path %s/uw;\n  scgi_temp_path %s/sc;\n"
                      "  default_type application/octet-stream;\n%s"
                      "  server { listen 127.0.0.1:%d; root %s; }\n}\n"
                      % ((user,) + (self.work,) * 8 + (self.directives, UPDATE_PORT, self.docroot)))
        self.process = subprocess.Popen([NGINX, "-p", self.work + "/", "-c", conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if subprocess.run(["curl", "-s", "-o", "/dev/null", "http://127.0.0.1/"]).returncode == 0:
                return
            time.sleep(0.05)
        self.stop()
        raise CaseFailure("nginx did not start on 127.0.0.1:80")

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None

    def requests(self, path, expected=None):
        """How many GET requests for |path| nginx has logged. nginx logs a
        request after the client may already have gone: with |expected|,
        waits a little for the count to reach it."""
        log = os.path.join(self.work, "access.log")
        deadline = time.monotonic() + LOG_WAIT_S
        while True:
            count = 0
            if os.path.exists(log):
                with open(log) as source:
                    count = sum(1 for line in source if '"GET %s HTTP/1.1"' % path in line)
            if expected is None or count >= expected or time.monotonic() > deadline:
                return count
            time.sleep(0.02)


class Harness:
    def __init__(self, options, server_directives=""):
        self.emulator = [options.emulator] if options.emulator else []
        self.under_wine = bool(options.emulator)
        self.launcher = self.emulator + [os.path.abspath(options.launcher)]
        self.keyed_launcher = self.emulator + [os.path.abspath(options.keyed_launcher)]
        self.release_key = os.path.abspath(options.release_key)
        self.publish_program = self.emulator + [os.path.abspath(options.publish)]
        self.client_program = os.path.abspath(options.client)
        self.root = options.update_root
        self.manifest = options.update_manifest
        self.server_directives = server_directives
        self.work = None
        self.server = None
        self.game = None

    # --- set-up -----------------------------------------------------------

    def begin(self):
        self.work = tempfile.mkdtemp(prefix="torvane-update-tests-")
        os.chmod(self.work, 0o755)
        self.server = Server(os.path.join(self.work, "server"), self.server_directives)
        self.server.start()
        self.game = os.path.join(self.work, "game")
        os.mkdir(self.game)
        with open(os.path.join(self.game, "update_manifest.lst"), "wb") as out:
            out.write(MANIFEST_HEADER)

    def end(self):
        self.server.stop()
        subprocess.run(["umount", self.game], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)

    def release_directory(self):
        return os.path.join(self.server.docroot, self.root.lstrip("/"))

    def publish(self, files, options=()):
        """Serves |files| (name -> bytes; the client is added) as the
        release, published with torvane-publish and |options|."""
        directory = self.release_directory()
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        with open(self.client_program, "rb") as client:
            files = dict(files, **{CLIENT: client.read()})
        for name, data in files.items():
            path = os.path.join(directory, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
        completed = subprocess.run(self.publish_program + ["--manifest", self.manifest] + list(options) + [directory],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   timeout=RUN_TIMEOUT_S)
        expect_equal("torvane-publish exit code (%r)" % completed.stdout, completed.returncode, 0)
        return files

    def installed(self, name):
        path = os.path.join(self.game, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as source:
            return source.read()

    def expect_installed(self, files):
        for name, data in files.items():
            expect_true("%s is not installed as published" % name, self.installed(name) == data)

    # --- running ----------------------------------------------------------

    def publish_signed(self, files, options=()):
        return self.publish(files, ["--sign", self.release_key] + list(options))

    def served(self, name):
        return os.path.join(self.release_directory(), name)

    def make_other_key(self):
        path = os.path.join(self.work, "other.key")
        completed = subprocess.run(self.publish_program + ["--make-key", path], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        expect_equal("torvane-publish --make-key (%r)" % completed.stdout, completed.returncode, 0)
        return path

    def run(self, arguments=(), answers=b"\n\n\n", user=None, keyed=False):
        command = (self.keyed_launcher if keyed else self.launcher) + list(arguments)
        if user is not None:
            command = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups"] + command
        completed = subprocess.run(command, cwd=self.game, input=answers, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        output = completed.stdout
        if self.under_wine:
            output = output.replace(b"\r\n", b"\n")
        output = output.decode("latin-1")
        # A build without TLS says so at its first update attempt; that is
        # not what these cases are about.
        if output.startswith(TLS_ABSENT):
            output = output[len(TLS_ABSENT):]
        return Result(completed.returncode, output)

    def client_exit_code(self):
        return 0 if self.under_wine else CLIENT_EXIT_CODE

    def client_ran_with_its_name_only(self):
        expect_equal("client arguments", self.installed("args"), b"BRUXclient.exe 0\n")

    def make_read_only(self):
        """Makes the installation read-only even for root: a read-only bind
        mount of the directory over itself (the tests run in a mount
        namespace of their own)."""
        subprocess.run(["mount", "--bind", self.game, self.game], check=True)
        subprocess.run(["mount", "-o", "remount,bind,ro", self.game], check=True)


RELEASE = {
    "readme.txt": b"Welcome to Torvane.\n",
    "data/maps/level 1.map": bytes(range(256)) * 300,
    "data/sounds/bell.wav": b"\x00\x01ding" * 999,
}


def update_count(count):
    return "One file to update.\n" if count == 1 else "%d files to update.\n" % count


# --- cases -----------------------------------------------------------------

def case_fresh_installation_is_brought_up_to_date_and_the_client_starts(h):
    files = h.publish(RELEASE)
    result = h.run()
    expect_equal("output", result.output, update_count(4) + count_line(4, 4) + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    h.expect_installed(files)
    h.client_ran_with_its_name_only()


def case_second_run_updates_nothing_and_starts_the_client_at_once(h):
    h.publish(RELEASE)
    h.run()
    readme_requests = h.server.requests(h.root + "/readme.txt", 1)
    manifest_requests = h.server.requests(h.root + "/" + h.manifest, 1)
    result = h.run()
    expect_equal("output", result.output, CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    expect_equal("manifest requests", h.server.requests(h.root + "/" + h.manifest, manifest_requests + 1),
                 manifest_requests + 1)
    expect_equal("readme requests", h.server.requests(h.root + "/readme.txt"), readme_requests)


def case_one_changed_file_is_the_only_download(h):
    h.publish(RELEASE)
    h.run()
    changed = dict(RELEASE, **{"data/sounds/bell.wav": b"\x00\x02dong" * 999})
    files = h.publish(changed)
    before = {name: h.server.requests(h.root + "/" + name, 1) for name in ("readme.txt", CLIENT)}
    bell_requests = h.server.requests(h.root + "/data/sounds/bell.wav", 1)
    result = h.run()
    expect_equal("output", result.output, update_count(1) + count_line(1, 1) + CLIENT_GREETING)
    h.expect_installed(files)
    expect_equal("bell requests", h.server.requests(h.root + "/data/sounds/bell.wav", bell_requests + 1),
                 bell_requests + 1)
    for name, count in before.items():
        expect_equal("requests for %s" % name, h.server.requests(h.root + "/" + name), count)


def case_verbose_run_shows_details_dots_and_statistics(h):
    h.publish(RELEASE)
    result = h.run(["-v"])
    out = result.output
    expect_true("server line missing:\n" + out, out.startswith(server_line(h.root, h.manifest)))
    for line in ("Loaded 0 entries from current manifest file 'update_manifest.lst'.\n",
                 "Retrieved 4 records from remote server.\n",
                 "File 'readme.txt' missing, should update.\n",
                 "4 files to update.\n",
                 "Updating file 'data/maps/level 1.map'.\n",
                 "Starting download of file '%s/data/maps/level 1.map'.\n" % h.root,
                 "Saving file manifest due to completion.\n",
                 count_line(4, 4)):
        expect_true("line %r missing:\n%s" % (line, out), line in out)
    expect_true("no dots:\n" + out, re.search(r"^\.+\n", out, re.M) is not None)
    for name in STATISTICS_LINES:
        expect_true("statistics line %r missing" % name, "\n" + name in out)
    expect_true("a percentage line in verbose mode", "% complete." not in out)
    expect_true("client did not start", out.endswith(CLIENT_GREETING))


def case_server_down_starts_the_client_after_return(h):
    h.publish(RELEASE)
    h.run()
    h.server.stop()
    result = h.run(answers=b"\n")
    expect_equal("output", result.output, fetch_failed(h.root, h.manifest) + NO_SERVER + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())


def case_file_the_server_lacks_is_tried_three_times_then_given_up(h):
    h.publish(RELEASE)
    os.remove(os.path.join(h.release_directory(), "readme.txt"))
    result = h.run()
    failed = "Unable to update file 'readme.txt' - download failed.\n"
    expect_equal("output", result.output,
                 update_count(4) + failed + count_line(3, 4) + retry_line(2) +
                 update_count(1) + failed + count_line(0, 1) + retry_line(3) +
                 update_count(1) + failed + count_line(0, 1) +
                 GIVE_UP + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 0)
    expect_equal("readme requests", h.server.requests(h.root + "/readme.txt", 3), 3)
    expect_true("the client started after giving up", h.installed("args") is None)


def case_missing_local_manifest_aborts_the_update(h):
    h.publish(RELEASE)
    os.remove(os.path.join(h.game, "update_manifest.lst"))
    result = h.run()
    expect_equal("output", result.output,
                 "Error loading manifest file 'update_manifest.lst', aborting update.\n" +
                 NO_SERVER + UNABLE_TO_START + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 1)
    expect_equal("manifest requests", h.server.requests(h.root + "/" + h.manifest), 0)


def case_read_only_installation_of_a_user_asks_for_elevation(h):
    h.publish(RELEASE)
    h.run()
    h.publish(dict(RELEASE, **{"readme.txt": b"Release two.\n"}))
    os.chmod(h.game, 0o555)
    result = h.run(["-v"], user=UNPRIVILEGED_USER)
    expect_true("no elevation attempt:\n" + result.output, ELEVATION_TRY in result.output)
    expect_true("the client started:\n" + result.output, CLIENT_GREETING not in result.output)
    expect_equal("exit code", result.exit_code, 1)


def case_read_only_installation_with_admin_rights_fails_and_starts_the_client(h):
    h.publish(RELEASE)
    h.run()
    h.publish(dict(RELEASE, **{"readme.txt": b"Release two.\n"}))
    h.make_read_only()
    result = h.run(["-a"])
    expect_equal("output", result.output,
                 WARNINGS + update_count(1) + "Temporary file unwriteable.\n" + UPDATE_FAILED +
                 NO_SERVER + CLIENT_GREETING)


# --- signed releases -------------------------------------------------------

def refused(h, why):
    return "Release '%s/%s' %s, update refused.\n" % (h.root, h.manifest, why)


def install_signed(h, serial=100):
    """A player who has the first signed release installed."""
    files = h.publish_signed(RELEASE, ["--serial", str(serial)])
    result = h.run(keyed=True)
    expect_equal("first signed release", result.output, update_count(4) + count_line(4, 4) + CLIENT_GREETING)
    return files


SECOND = dict(RELEASE, **{"readme.txt": b"Release two of Torvane.\n"})


def expect_refused_untouched(h, result, why, installed):
    """The release was refused with |why|: nothing was downloaded, the old
    files stay, and the client starts as when the server is away."""
    expect_equal("output", result.output, refused(h, why) + NO_SERVER + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    expect_equal("readme requests", h.server.requests(h.root + "/readme.txt", 1), 1)
    h.expect_installed(installed)


def case_signed_release_installs_with_the_key(h):
    files = install_signed(h, serial=100)
    h.expect_installed(files)
    with open(os.path.join(h.game, "update_manifest.lst.release"), "rb") as state:
        expect_equal("release state", state.read(), b"# Torvane release state - do not modify\nserial 100\n")
    h.publish_signed(SECOND, ["--serial", "101"])
    result = h.run(keyed=True)
    expect_equal("second signed release", result.output, update_count(1) + count_line(1, 1) + CLIENT_GREETING)
    h.expect_installed(dict(SECOND, **{CLIENT: files[CLIENT]}))


def case_changed_manifest_byte_is_refused(h):
    installed = install_signed(h)
    h.publish_signed(SECOND, ["--serial", "101"])
    with open(h.served(h.manifest), "rb") as source:
        text = zlib.decompress(source.read())
    # One byte of the readme's line: its size 24 becomes 25.
    changed = text.replace(b" 24 readme.txt", b" 25 readme.txt")
    expect_true("the manifest lists the readme", changed != text)
    with open(h.served(h.manifest), "wb") as out:
        out.write(zlib.compress(changed))
    expect_refused_untouched(h, h.run(keyed=True), "does not match its signature", installed)


def case_missing_signature_is_refused(h):
    installed = install_signed(h)
    h.publish_signed(SECOND, ["--serial", "101"])
    os.remove(h.served(h.manifest + ".sig"))
    expect_refused_untouched(h, h.run(keyed=True),
                             "has no signature ('%s/%s.sig' could not be fetched)" % (h.root, h.manifest),
                             installed)


def case_signature_of_another_key_is_refused(h):
    installed = install_signed(h)
    h.publish(SECOND, ["--serial", "101", "--sign", h.make_other_key()])
    expect_refused_untouched(h, h.run(keyed=True), "does not match its signature", installed)


def case_older_signed_release_is_refused(h):
    installed = install_signed(h, serial=200)
    h.publish_signed(SECOND, ["--serial", "150"])
    expect_refused_untouched(h, h.run(keyed=True),
                             "is older than the installed release (serial 150 below 200)", installed)


def case_expired_release_is_refused(h):
    installed = install_signed(h)
    h.publish_signed(SECOND, ["--serial", "101", "--expires", "0"])
    time.sleep(1.2)  # the release expires the second it is published
    result = h.run(keyed=True)
    expect_true("not refused as expired:\n" + result.output,
                re.match(r"Release '[^']*' expired at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC, update refused\.\n",
                         result.output) is not None)
    expect_equal("after the refusal", result.output[result.output.index("\n") + 1:], NO_SERVER + CLIENT_GREETING)
    h.expect_installed(installed)


def case_unsigned_release_is_refused_by_a_keyed_launcher(h):
    h.publish(RELEASE)
    result = h.run(keyed=True)
    expect_true("an unsigned release was installed:\n" + result.output,
                result.output.startswith(refused(h, "has no signature ('%s/%s.sig' could not be fetched)"
                                                 % (h.root, h.manifest))))
    expect_true("a file was installed", h.installed("readme.txt") is None)


def case_launcher_without_key_installs_releases_published_the_old_way(h):
    # No declarations, no signature: a manifest as earlier publishers wrote.
    h.publish(RELEASE)
    with open(h.served(h.manifest), "rb") as source:
        text = zlib.decompress(source.read())
    old_style = b"".join(line + b"\n" for line in text.splitlines() if not line.startswith(b"#torvane-"))
    with open(h.served(h.manifest), "wb") as out:
        out.write(zlib.compress(old_style))
    result = h.run()
    expect_equal("output", result.output, update_count(4) + count_line(4, 4) + CLIENT_GREETING)


# --- verified downloads ----------------------------------------------------

def case_files_that_fail_verification_are_refused_and_the_old_versions_stay(h):
    h.publish(RELEASE)
    h.run()
    second = dict(RELEASE, **{"readme.txt": b"Release two of Torvane.\n",
                              "data/sounds/bell.wav": b"\x00\x01dong" * 999})
    h.publish(second)
    # The server answers 200 with other bytes: of the right length, and of
    # another length.
    with open(h.served("readme.txt"), "wb") as out:
        out.write(b"X" * len(second["readme.txt"]))
    with open(h.served("data/sounds/bell.wav"), "ab") as out:
        out.write(b"trailing garbage")
    result = h.run()
    bell = ("File 'data/sounds/bell.wav' failed verification: more bytes than the published size arrived.\n"
            "Unable to update file 'data/sounds/bell.wav' - download failed.\n")
    readme = ("File 'readme.txt' failed verification: its SHA-256 differs from the published one.\n"
              "Unable to update file 'readme.txt' - download failed.\n")
    attempt = update_count(2) + bell + readme + count_line(0, 2)
    expect_equal("output", result.output,
                 attempt + retry_line(2) + attempt + retry_line(3) + attempt + GIVE_UP + FINAL_PROMPT)
    expect_equal("exit code", result.exit_code, 0)
    h.expect_installed(RELEASE)
    expect_true("a temporary file was left", not os.path.exists(os.path.join(h.game, "tmp", "update.tmp")))
    expect_equal("readme requests", h.server.requests(h.root + "/readme.txt", 4), 4)


# Cases that drop to an unprivileged user; Wine keeps its prefix for the
# user that made it, and Windows asks through its own consent dialog.
POSIX_USER_CASES = {
    case_read_only_installation_of_a_user_asks_for_elevation,
}

CASES = [
    case_fresh_installation_is_brought_up_to_date_and_the_client_starts,
    case_second_run_updates_nothing_and_starts_the_client_at_once,
    case_one_changed_file_is_the_only_download,
    case_verbose_run_shows_details_dots_and_statistics,
    case_server_down_starts_the_client_after_return,
    case_file_the_server_lacks_is_tried_three_times_then_given_up,
    case_missing_local_manifest_aborts_the_update,
    case_read_only_installation_of_a_user_asks_for_elevation,
    case_read_only_installation_with_admin_rights_fails_and_starts_the_client,
    case_signed_release_installs_with_the_key,
    case_changed_manifest_byte_is_refused,
    case_missing_signature_is_refused,
    case_signature_of_another_key_is_refused,
    case_older_signed_release_is_refused,
    case_expired_release_is_refused,
    case_unsigned_release_is_refused_by_a_keyed_launcher,
    case_launcher_without_key_installs_releases_published_the_old_way,
    case_files_that_fail_verification_are_refused_and_the_old_versions_stay,
]


def skip_reason(harness, case):
    if case in POSIX_USER_CASES and (harness.under_wine or os.geteuid() != 0):
        return "needs the Linux build run by root, to drop to %s" % UNPRIVILEGED_USER
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--publish", required=True, help="torvane-publish of the same build")
    parser.add_argument("--client", required=True, help="the compiled stand-in game client")
    parser.add_argument("--keyed-launcher", required=True, help="the launcher with the tests' release key")
    parser.add_argument("--release-key", required=True, help="the tests' release key file")
    parser.add_argument("--emulator", help="what runs the build's programs (wine)")
    parser.add_argument("--update-root", default="/torvane")
    parser.add_argument("--update-manifest", default="manifest.lst.z")
    parser.add_argument("launcher", help="the launcher program")
    options = parser.parse_args()
    harness = Harness(options)
    return run_cases(harness, CASES, lambda case: skip_reason(harness, case), harness.begin, harness.end)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    sys.exit(main())
