#!/usr/bin/env python3
"""Process-level tests of the single-instance lock on POSIX, each with real
launcher processes on real installation directories.

Usage:
  instance_lock_process_tests.py --scripted PATH LAUNCHER

LAUNCHER is the launcher binary (torvane-launcher); --scripted names the test
build of the launcher whose update attempts follow the file
"update_script.txt" (lines "R E S"; a line with R = 5 starts the launcher
again elevated with "-a", as the update run does for an installation it
cannot write).

A launcher that holds the lock is one that stops at its "Press return to
start the game." prompt. Cases that run launchers as two users need root (CI
runs as root) and the unprivileged user "nobody"; without them they are
skipped with the reason.
"""

import argparse
import fcntl
import os
import pwd
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from launcher_test_kit import (FINAL_PROMPT, LOCK_REFUSED, NO_SERVER, UNABLE_TO_START, CaseFailure,
                               expect_equal, expect_true)

LOCK_NAME = "torvane_updater_lock.tmp"
SCRIPT_FILE = "update_script.txt"
RUN_TIMEOUT_S = 30
# A launcher that meets a planted FIFO must be done long before this.
PLANTED_NAME_TIMEOUT_S = 10
ROOT = 0
UNPRIVILEGED_USER = "nobody"
# The updater's result for an installation it cannot write.
RESULT_NOT_WRITABLE = 5

# A scripted run whose update could not reach the server, without a client:
# proof that the launcher got past the lock.
RAN_PAST_THE_LOCK = NO_SERVER + UNABLE_TO_START + FINAL_PROMPT
NO_UPDATE_SCRIPT = [(0, 0, 0)]


class CaseSkipped(Exception):
    pass


class User:
    """Who a process runs as. None for uid means the test's own user."""

    def __init__(self, label, uid=None, gid=None):
        self.label = label
        self.uid = uid
        self.gid = gid

    def become(self):
        """Drops this process to the user; for a child before its exec."""
        if self.uid is None:
            return
        os.setgroups([])
        os.setgid(self.gid)
        os.setuid(self.uid)

    def owner(self):
        return (os.geteuid() if self.uid is None else self.uid,
                os.getegid() if self.gid is None else self.gid)


def unused_user_id(start):
    """A user id without an account: a second user of nobody's group."""
    uid = start
    while True:
        try:
            pwd.getpwuid(uid)
        except KeyError:
            return uid
        uid -= 1


class Harness:
    def __init__(self, launcher, scripted):
        self.programs = None
        self.launcher = launcher
        self.scripted = scripted
        self.me = User("this user")
        self.base = None
        self.environment = dict(os.environ)
        self.nobody = None
        self.group_peer = None
        self.two_users_missing = self.find_users()

    def close(self):
        if self.programs is not None:
            shutil.rmtree(self.programs, ignore_errors=True)

    def place_programs_within_reach(self):
        """The build directory may lie where an unprivileged user cannot
        go: the launchers then run from copies in a directory that anyone
        may enter."""
        self.programs = tempfile.mkdtemp(prefix="torvane-lock-programs-")
        os.chmod(self.programs, 0o755)
        copies = []
        for program in (self.launcher, self.scripted):
            copy = os.path.join(self.programs, os.path.basename(program))
            shutil.copy2(program, copy)
            copies.append(copy)
        self.launcher, self.scripted = copies

    def find_users(self):
        """Finds nobody and a second user of nobody's group. Returns why
        that is impossible, or None."""
        if os.geteuid() != ROOT:
            return "needs root to start launchers as two users"
        try:
            account = pwd.getpwnam(UNPRIVILEGED_USER)
        except KeyError:
            return "this machine has no user %r" % UNPRIVILEGED_USER
        self.nobody = User(UNPRIVILEGED_USER, account.pw_uid, account.pw_gid)
        self.group_peer = User("another user of nobody's group",
                               unused_user_id(account.pw_uid - 1), account.pw_gid)
        self.place_programs_within_reach()
        for program in (self.launcher, self.scripted):
            probe = subprocess.run([program, "-h"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, preexec_fn=self.nobody.become,
                                   timeout=RUN_TIMEOUT_S)
            if probe.returncode != 1:
                return "%s cannot run %s (exit code %d)" % (UNPRIVILEGED_USER, program,
                                                             probe.returncode)
        return None

    def needs_two_users(self):
        if self.two_users_missing:
            raise CaseSkipped(self.two_users_missing)

    # --- scratch directories ---------------------------------------------

    def enter_scratch(self):
        self.base = tempfile.mkdtemp(prefix="torvane-lock-")
        # The unprivileged users must reach their installations inside.
        os.chmod(self.base, 0o755)

    def leave_scratch(self):
        # Read-only installations must be writable again to be removed.
        for directory, _, _ in os.walk(self.base):
            try:
                os.chmod(directory, 0o755)
            except OSError:
                pass
        shutil.rmtree(self.base, ignore_errors=True)
        self.base = None

    def installation(self, name, owner=None, mode=0o755, script=NO_UPDATE_SCRIPT):
        """Makes an installation directory with an update script, owned by
        |owner| (a User) with |mode|."""
        path = os.path.join(self.base, name)
        os.mkdir(path)
        write_script(path, script)
        if owner is not None:
            os.chown(path, *owner.owner())
        os.chmod(path, mode)
        return path

    def directory(self, name):
        path = os.path.join(self.base, name)
        os.mkdir(path)
        return path

    # --- launchers -----------------------------------------------------------

    def start(self, installation, program=None, user=None, environment=None, arguments=()):
        return subprocess.Popen([program or self.scripted] + list(arguments), cwd=installation,
                                env=self.environment if environment is None else environment,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT,
                                preexec_fn=(user or self.me).become)

    def run(self, installation, program=None, user=None, environment=None, answers=b"\n\n\n",
            timeout=RUN_TIMEOUT_S):
        process = self.start(installation, program, user, environment)
        try:
            output, _ = process.communicate(answers, timeout=timeout)
        except subprocess.TimeoutExpired:
            stop(process)
            raise
        return process.returncode, output.decode("latin-1")

    def hold(self, installation, user=None, environment=None):
        """Starts a scripted launcher that stops at its prompt after its
        update, holding the lock; its standard input stays open."""
        process = self.start(installation, user=user, environment=environment)
        wait_for_output(process, NO_SERVER, "the holding launcher")
        return process

    def expect_refused(self, installation, user=None, environment=None, what="second launcher"):
        """Runs the real launcher, which must be refused at once."""
        code, output = self.run(installation, program=self.launcher, user=user,
                                environment=environment)
        expect_equal("%s's output" % what, output, LOCK_REFUSED)
        expect_equal("%s's exit code" % what, code, 1)

    def expect_runs(self, installation, user=None, environment=None, what="launcher"):
        """Runs the scripted launcher, which must get past the lock to its
        update."""
        code, output = self.run(installation, user=user, environment=environment)
        expect_equal("%s's output" % what, output, RAN_PAST_THE_LOCK)
        expect_equal("%s's exit code" % what, code, 1)


def write_script(installation, script):
    with open(os.path.join(installation, SCRIPT_FILE), "w") as out:
        out.write("".join("%d %d %d\n" % line for line in script))
    os.chmod(os.path.join(installation, SCRIPT_FILE), 0o644)


def wait_for_output(process, text, what):
    """Reads |process|'s output until it ends with |text|."""
    seen = b""
    deadline = time.monotonic() + RUN_TIMEOUT_S
    while not seen.decode("latin-1").endswith(text):
        remaining = deadline - time.monotonic()
        ready, _, _ = select.select([process.stdout], [], [], max(remaining, 0))
        if not ready:
            stop(process)
            raise CaseFailure("%s never reached %r: %r" % (what, text, seen))
        piece = os.read(process.stdout.fileno(), 4096)
        if not piece:
            process.wait()
            raise CaseFailure("%s ended early: %r" % (what, seen))
        seen += piece
    return seen.decode("latin-1")


def finish(process, what="holding launcher"):
    """Answers the holding launcher's prompts; it ends as a run without
    server and client does."""
    rest, _ = process.communicate(b"\n\n", timeout=RUN_TIMEOUT_S)
    expect_equal("rest of the %s's output" % what, rest.decode("latin-1"),
                 UNABLE_TO_START + FINAL_PROMPT)


def stop(process):
    """Ends a launcher this test started, by its id."""
    if process.poll() is None:
        process.kill()
    process.wait()


class Holding:
    """A holding launcher for a with-block; it is stopped if the case
    fails before finishing it."""

    def __init__(self, harness, installation, user=None, environment=None):
        self.process = harness.hold(installation, user, environment)

    def __enter__(self):
        return self.process

    def __exit__(self, kind, value, trace):
        stop(self.process)
        return False


# --- a user who grabs whatever lock he can -----------------------------------

FLOCK_FORMAT = "@hhqqi4x"  # struct flock: type, whence, start, length, pid


def whole_file_lock(lock_type):
    return struct.pack(FLOCK_FORMAT, lock_type, os.SEEK_SET, 0, 0, 0)


def grab_everything(name):
    """Takes every lock that this user can take on the lock file |name|
    and on the installation, and returns what it holds (descriptors stay
    open)."""
    held = []
    attempts = (("write descriptor", os.O_RDWR | os.O_CREAT),
                ("read descriptor", os.O_RDONLY))
    for label, flags in attempts:
        try:
            fd = os.open(name, flags | os.O_NOFOLLOW | os.O_NONBLOCK, 0o666)
        except OSError:
            continue
        held.append(label)
        locks = (("flock", lambda: fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)),
                 ("shared flock", lambda: fcntl.flock(fd, fcntl.LOCK_SH | fcntl.LOCK_NB)),
                 ("open-file write lock",
                  lambda: fcntl.fcntl(fd, fcntl.F_OFD_SETLK, whole_file_lock(fcntl.F_WRLCK))),
                 ("open-file read lock",
                  lambda: fcntl.fcntl(fd, fcntl.F_OFD_SETLK, whole_file_lock(fcntl.F_RDLCK))),
                 ("record read lock",
                  lambda: fcntl.fcntl(fd, fcntl.F_SETLK, whole_file_lock(fcntl.F_RDLCK))))
        for lock_label, take in locks:
            try:
                take()
                held.append("%s on the %s" % (lock_label, label))
            except OSError:
                pass
    directory = os.open(".", os.O_RDONLY)
    try:
        fcntl.flock(directory, fcntl.LOCK_EX | fcntl.LOCK_NB)
        held.append("flock on the installation")
    except OSError:
        pass
    return held


class Grabber:
    """A forked child, as |user| in |installation|, that holds whatever lock
    it could take until the with-block ends."""

    def __init__(self, user, installation):
        report_read, report_write = os.pipe()
        self.end_read, self.end_write = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            code = 0
            try:
                os.close(report_read)
                os.close(self.end_write)
                user.become()
                os.chdir(installation)
                held = grab_everything(LOCK_NAME)
                os.write(report_write, (";".join(held) or "nothing").encode())
                os.close(report_write)
                os.read(self.end_read, 1)  # until the test closes its end
            except BaseException:
                code = 1
            finally:
                os._exit(code)
        os.close(report_write)
        os.close(self.end_read)
        ready, _, _ = select.select([report_read], [], [], RUN_TIMEOUT_S)
        self.held = os.read(report_read, 4096).decode() if ready else "(no report)"
        os.close(report_read)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        os.close(self.end_write)
        os.waitpid(self.pid, 0)
        return False


# --- cases ---------------------------------------------------------------------


def case_other_environments_share_the_lock(h):
    """Launchers of one installation started with other environments (cron,
    su, env -u) meet on one lock."""
    installation = h.installation("game")
    runtime = h.directory("runtime")
    holder_environment = dict(h.environment, XDG_RUNTIME_DIR=runtime, HOME=runtime)
    other = h.directory("other")
    without_runtime = {k: v for k, v in h.environment.items() if k != "XDG_RUNTIME_DIR"}
    environments = (
        ("without XDG_RUNTIME_DIR", without_runtime),
        ("another XDG_RUNTIME_DIR, HOME and TMPDIR",
         dict(h.environment, XDG_RUNTIME_DIR=other, HOME=other, TMPDIR=other)),
        ("an empty environment", {}),
    )
    for label, environment in environments:
        with Holding(h, installation, environment=holder_environment) as holder:
            h.expect_refused(installation, environment=environment,
                             what="launcher with %s" % label)
            finish(holder)
        h.expect_runs(installation, environment=environment,
                      what="launcher with %s after the holder ended" % label)


def case_root_and_users_share_the_lock(h):
    """The elevated copy (root) and the user, and two users of a group
    installation, never both hold the lock; whoever made the lock file, the
    other can take it once it is free."""
    h.needs_two_users()
    root, nobody, peer = h.me, h.nobody, h.group_peer
    root_of_the_group = User("root", ROOT, nobody.gid)
    rows = (
        # installation owner, mode, first holder, second launcher
        (nobody, 0o755, root, nobody),
        (nobody, 0o755, nobody, root),
        (nobody, 0o775, peer, nobody),
        (nobody, 0o775, nobody, peer),
        (root_of_the_group, 0o775, peer, root),
        (root_of_the_group, 0o775, root, peer),
    )
    for index, (owner, mode, first, second) in enumerate(rows):
        installation = h.installation("game%d" % index, owner=owner, mode=mode)
        what = "%s after %s (installation of %s, mode %o)" % (second.label, first.label,
                                                             owner.label, mode)
        with Holding(h, installation, user=first) as holder:
            h.expect_refused(installation, user=second, what=what)
            finish(holder)
        h.expect_runs(installation, user=second, what=what + " once it ended")


def case_who_cannot_write_the_installation_cannot_block_it(h):
    """A user who cannot write the installation, whether a launcher (let
    through holding nothing) or a process grabbing every lock it can, never
    keeps a writer's launcher out; also when he is in the installation's
    group or the lock file's owner's group."""
    h.needs_two_users()
    root, nobody, peer = h.me, h.nobody, h.group_peer
    rows = (
        # installation owner, mode, earlier launcher run by, outsider, writer
        (root, 0o755, None, nobody, root),
        (root, 0o755, root, nobody, root),
        (nobody, 0o755, nobody, peer, nobody),
        (nobody, 0o755, None, peer, nobody),
        (nobody, 0o755, root, peer, nobody),
    )
    for index, (owner, mode, earlier, outsider, writer) in enumerate(rows):
        installation = h.installation("game%d" % index, owner=owner, mode=mode)
        if earlier is not None:
            h.expect_runs(installation, user=earlier, what="earlier run by %s" % earlier.label)
        what = "%s while %s holds what he can (installation of %s, earlier run by %s)" % (
            writer.label, outsider.label, owner.label, earlier.label if earlier else "no one")
        with Holding(h, installation, user=outsider) as outsider_launcher:
            with Grabber(outsider, installation) as grabber:
                try:
                    h.expect_runs(installation, user=writer, what=what)
                except CaseFailure as failure:
                    raise CaseFailure("%s\n  the outsider held: %s" % (failure, grabber.held))
            finish(outsider_launcher, "outsider's launcher")


def case_planted_names_neither_redirect_nor_hang(h):
    """A link under the lock name is not followed: nothing is made where it
    points, and no other installation's lock is taken through it. A FIFO or
    a directory under the name cannot make the launcher wait."""
    installation = h.installation("game")
    other = h.installation("other")
    elsewhere = h.directory("elsewhere")
    lock = os.path.join(installation, LOCK_NAME)
    missing_target = os.path.join(elsewhere, "made-by-the-launcher")

    # A link to another installation's lock file: a launcher of this
    # installation must not hold the other one's lock.
    h.expect_runs(other, what="launcher of the other installation")
    os.symlink(os.path.join(other, LOCK_NAME), lock)
    first = h.start(installation)
    try:
        wait_for_output(first, LOCK_REFUSED, "launcher with a planted link")
        # Still running, at its last prompt.
        h.expect_runs(other, what="other installation's launcher beside the planted link's")
    finally:
        stop(first)

    plants = (
        ("link to a missing file", lambda: os.symlink(missing_target, lock)),
        ("dangling relative link", lambda: os.symlink("missing", lock)),
        ("FIFO", lambda: plant_fifo(lock)),
        ("directory", lambda: os.mkdir(lock)),
    )
    for label, plant in plants:
        remove_planted(lock)
        plant()
        code, output = h.run(installation, program=h.launcher, timeout=PLANTED_NAME_TIMEOUT_S)
        expect_equal("launcher with a planted %s" % label, output, LOCK_REFUSED)
        expect_equal("exit code with a planted %s" % label, code, 1)
        expect_true("a file was made through the planted %s" % label,
                    os.listdir(elsewhere) == [] and not os.path.exists(
                        os.path.join(installation, "missing")))


def plant_fifo(path):
    """A FIFO that anybody may open, for reading and for writing."""
    os.mkfifo(path)
    os.chmod(path, 0o666)


def remove_planted(path):
    """Removes whatever is under |path|, if anything."""
    if os.path.isdir(path) and not os.path.islink(path):
        os.rmdir(path)
    elif os.path.lexists(path):
        os.unlink(path)


def case_read_only_installation_still_runs_the_update(h):
    """A user who cannot write the installation gets past the lock to the
    update, which then asks for the elevated re-run: whatever lies under the
    lock name, and while the elevated copy (root) holds the lock. Without
    root, this user's own read-only installation stands in, and the case
    with root holding is left out."""
    reader = h.me if h.two_users_missing else h.nobody
    modes = (0o555,) if h.two_users_missing else (0o755, 0o555)
    for mode in modes:
        installation = h.installation("game%o" % mode, mode=mode)
        lock = os.path.join(installation, LOCK_NAME)
        what = "%s in a read-only installation (mode %o)" % (reader.label, mode)
        h.expect_runs(installation, user=reader, what=what + " without a lock file")
        expect_true("the read-only run made a lock file", not os.path.exists(lock))
        if not h.two_users_missing:
            with Holding(h, installation, user=h.me) as elevated:
                h.expect_runs(installation, user=reader,
                              what=what + " while root holds the lock")
                finish(elevated, "root's launcher")
            h.expect_runs(installation, user=reader, what=what + " with root's lock file")
        os.chmod(installation, 0o755)
        remove_planted(lock)
        plant_fifo(lock)
        os.chmod(installation, mode)
        h.expect_runs(installation, user=reader, what=what + " with a planted FIFO")
        os.chmod(installation, 0o755)
        remove_planted(lock)
        os.symlink("/nonexistent/lock", lock)
        os.chmod(installation, mode)
        h.expect_runs(installation, user=reader, what=what + " with a planted link")


def case_read_only_file_system_still_runs_the_update(h):
    """Root on a read-only file system cannot write the installation
    either, and gets past the lock."""
    if os.geteuid() != ROOT or shutil.which("unshare") is None:
        raise CaseSkipped("needs root and unshare for a read-only mount")
    installation = h.installation("game")
    script = 'mount -o bind,ro "$1" "$1" && cd "$1" && exec "$2"'
    command = ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh",
               installation, h.scripted]
    completed = subprocess.run(command, input=b"\n\n\n", stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
    output = completed.stdout.decode("latin-1")
    if "mount" in output and not output.endswith(FINAL_PROMPT):
        raise CaseSkipped("no read-only bind mount here: %r" % output)
    expect_equal("output on a read-only file system", output, RAN_PAST_THE_LOCK)
    expect_true("a lock file was made", not os.path.exists(os.path.join(installation, LOCK_NAME)))


def case_killed_holder_frees_the_lock(h):
    rows = [(h.me, h.me)]
    if not h.two_users_missing:
        rows += [(h.nobody, h.me), (h.me, h.nobody)]
    for index, (first, second) in enumerate(rows):
        installation = h.installation("game%d" % index, owner=h.nobody or h.me)
        holder = h.hold(installation, user=first)
        holder.kill()
        holder.wait()
        h.expect_runs(installation, user=second,
                      what="%s after %s's launcher was killed" % (second.label, first.label))


def case_installations_have_their_own_locks(h):
    first = h.installation("first")
    second = h.installation("second")
    with Holding(h, first) as holder:
        h.expect_runs(second, what="launcher of another installation")
        h.expect_refused(first, what="launcher of the same installation")
        finish(holder)


def case_elevated_copy_takes_the_lock(h):
    """The launcher that holds the lock and starts its elevated copy frees
    the lock for it: the copy takes it and runs its update."""
    helpers = h.directory("helpers")
    helper = os.path.join(helpers, "pkexec")
    with open(helper, "w") as out:
        out.write('#!/bin/sh\necho "$@" >"%s.args"\nexec "$@"\n' % helper)
    os.chmod(helper, 0o755)
    os.chmod(helpers, 0o777)  # the helper's record of its arguments
    users = [h.me] + ([] if h.two_users_missing else [h.nobody])
    for index, user in enumerate(users):
        installation = h.installation("game%d" % index, owner=user,
                                      script=[(RESULT_NOT_WRITABLE, 0, 0)] + NO_UPDATE_SCRIPT)
        environment = dict(h.environment, PATH=helpers + os.pathsep + h.environment["PATH"])
        code, output = h.run(installation, user=user, environment=environment)
        expect_true("%s's launcher did not elevate" % user.label, os.path.exists(helper + ".args"))
        with open(helper + ".args") as record:
            arguments = record.read().split()
        os.unlink(helper + ".args")
        expect_equal("the elevated copy's last argument", arguments[-1:], ["-a"])
        expect_equal("elevated copy's output (%s)" % user.label, output, RAN_PAST_THE_LOCK)
        expect_equal("elevated copy's exit code (%s)" % user.label, code, 1)


CASES = [
    case_other_environments_share_the_lock,
    case_root_and_users_share_the_lock,
    case_who_cannot_write_the_installation_cannot_block_it,
    case_planted_names_neither_redirect_nor_hang,
    case_read_only_installation_still_runs_the_update,
    case_read_only_file_system_still_runs_the_update,
    case_killed_holder_frees_the_lock,
    case_installations_have_their_own_locks,
    case_elevated_copy_takes_the_lock,
]


def run_case(harness, case):
    name = case.__name__[len("case_"):]
    harness.enter_scratch()
    try:
        case(harness)
    except CaseSkipped as reason:
        print("skip %s (%s)" % (name, reason))
        return None
    except CaseFailure as failure:
        print("FAIL %s: %s" % (name, failure))
        return False
    except subprocess.TimeoutExpired as timeout:
        print("FAIL %s: timed out: %s" % (name, timeout))
        return False
    finally:
        harness.leave_scratch()
    print("ok   %s" % name)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scripted", required=True,
                        help="the launcher build with scripted update attempts")
    parser.add_argument("launcher", help="the launcher binary")
    options = parser.parse_args()
    harness = Harness(os.path.abspath(options.launcher), os.path.abspath(options.scripted))
    if harness.two_users_missing:
        print("note: cases with two users are skipped: %s" % harness.two_users_missing)
    try:
        outcomes = [run_case(harness, case) for case in CASES]
    finally:
        harness.close()
    print("%d passed, %d failed, %d skipped" % (outcomes.count(True), outcomes.count(False),
                                                 outcomes.count(None)))
    return 1 if outcomes.count(False) else 0


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    sys.exit(main())
