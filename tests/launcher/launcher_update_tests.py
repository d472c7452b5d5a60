#!/usr/bin/env python3
"""Whole-program tests of the launcher against a real update server.

Usage:
  launcher_update_tests.py --publish PATH --client PATH --keyed-launcher PATH
                           --release-key KEYFILE --signer PATH [--emulator PROGRAM]
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
KEYFILE as its release key; the signed cases sign with KEYFILE, through
torvane-publish or, for hand-made manifests, through --signer (the
manifest_signer helper, run through --emulator like the others).

The cases with hostile manifests measure the launcher's peak memory (its
resident size, from the kernel's accounting of the ended process) and, on
Linux, run it under an address-space limit as well.

Each case runs against a fresh installation directory that holds only the
header-only local manifest, as a new player's does.
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

from launcher_test_kit import (CLIENT_EXIT_CODE, CLIENT_GREETING, FINAL_PROMPT, GIVE_UP,
                            MANIFEST_HEADER, NO_SERVER, UNABLE_TO_START, CaseFailure,
                            count_line, expect_equal, expect_true, fetch_failed, retry_line,
                            run_cases, server_line)

CLIENT = "BRUXclient.exe"
UPDATE_PORT = 80
RUN_TIMEOUT_S = 60
# The hostile-manifest cases: the Linux launcher runs within this address
# space, and no launcher may hold more than this resident. Both are far
# below what the manifests would take if their entries were all built.
ADDRESS_SPACE_LIMIT = 1024 * 1024 * 1024
PEAK_MEMORY_LIMIT = 128 * 1024 * 1024
LOG_WAIT_S = 3
NGINX = "/usr/sbin/nginx"
UNPRIVILEGED_USER = "nobody"
BAD_CONFIGURATION_FREE = "Segmentation fault."
ELEVATION_TRY = "Trying to get admin permissions.\n"
WARNINGS = ("Warning - failed to set download target directory to pwd.\n"
            "Warning - failed to set temporary download file 'tmp/update.tmp'.\n")
UPDATE_FAILED = "Update failed.\n"
# How many downloads the launcher keeps in flight (1 .. 8; 4 when unset).
PARALLEL_VARIABLE = "TORVANE_PARALLEL_DOWNLOADS"
STATISTICS_LINES = ("local_manifest_initial_entry_count:", "local_manifest_pruned_entry_count:",
                    "remote_manifest_entry_count:", "exclude_manifest_file_count",
                    "expected_download_file_count:", "successfully_saved_file_count:",
                    "failed_download_file_count:", "failed_save_file_count:",
                    "expected_download_byte_count:", "current_download_byte_count:",
                    "downloaded_bytes:", "saved_bytes:")


class Result:
    def __init__(self, exit_code, output, peak_memory=None):
        self.exit_code = exit_code
        self.output = output
        self.peak_memory = peak_memory  # bytes resident at most, when measured


class Server:
    """nginx on 127.0.0.1:80 serving WORK/docroot, started and stopped by
    its own process id; |directives| go into its http block."""

    def __init__(self, work, directives="", port=UPDATE_PORT):
        self.work = work
        self.directives = directives
        self.port = port
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
                      "  log_format connections '$connection $request';\n"
                      "  access_log %s/connections.log connections;\n"
                      "  client_body_temp_path %s/cb;\n  proxy_temp_path %s/px;\n"
                      "  fastcgi_temp_path %s/fc;\n  uwsgi_temp_path %s/uw;\n  scgi_temp_path %s/sc;\n"
                      "  default_type application/octet-stream;\n%s"
                      "  server { listen 127.0.0.1:%d; root %s; }\n}\n"
                      % ((user,) + (self.work,) * 9 + (self.directives, self.port, self.docroot)))
        self.process = subprocess.Popen([NGINX, "-p", self.work + "/", "-c", conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if subprocess.run(["curl", "-s", "-o", "/dev/null", "http://127.0.0.1:%d/" % self.port]).returncode == 0:
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


    def connections(self, prefix, expected_requests):
        """The connections (nginx's serial numbers) that carried the GET
        requests for paths under |prefix|, once |expected_requests| of
        them are logged or the wait for the log is over."""
        log = os.path.join(self.work, "connections.log")
        deadline = time.monotonic() + LOG_WAIT_S
        while True:
            carried = []
            if os.path.exists(log):
                with open(log) as source:
                    for line in source:
                        serial, _, request = line.rstrip("\n").partition(" ")
                        if request.startswith("GET %s" % prefix):
                            carried.append(serial)
            if len(carried) >= expected_requests or time.monotonic() > deadline:
                return set(carried)
            time.sleep(0.02)

    def forget_requests(self):
        """Empties both logs: what is counted from now on is the next run's.
        nginx appends, so its next lines go to the start."""
        for name in ("access.log", "connections.log"):
            with open(os.path.join(self.work, name), "w"):
                pass


class LoopbackListener:
    """A listener on 127.0.0.1:80, in nginx's place or in front of it,
    started and stopped as a context manager. Each accepted connection goes
    to take(connection), on the listening thread; more threads that take()
    starts go into |threads|, so that leaving waits for them too."""

    ACCEPT_POLL_S = 0.1

    def __init__(self):
        self.listener = None
        self.threads = []
        self.stopping = threading.Event()

    def __enter__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", UPDATE_PORT))
        self.listener.listen(8)
        self.listener.settimeout(self.ACCEPT_POLL_S)
        self.threads.append(threading.Thread(target=self.serve))
        self.threads[0].start()
        return self

    def __exit__(self, *exception):
        self.stopping.set()
        for thread in self.threads:
            thread.join()
        self.listener.close()

    def serve(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.take(connection)

    def take(self, connection):
        raise NotImplementedError


class CuttingProxy(LoopbackListener):
    """A forwarding proxy on 127.0.0.1:80 in front of nginx on |server_port|,
    started and stopped as a context manager. While |cut_after| is set, it
    ends the first connection that has carried that many bytes of answers,
    as a server that drops the connection in the middle of a file, and
    from then on closes every new connection at once, as a server that has
    gone away. cut_after None passes everything."""

    BLOCK = 64 * 1024

    def __init__(self, server_port, cut_after):
        super().__init__()
        self.server_port = server_port
        self.cut_after = cut_after
        self.cut = threading.Event()

    def take(self, client):
        if self.cut.is_set():
            client.close()
            return
        server = socket.create_connection(("127.0.0.1", self.server_port))
        for pump in (self.requests, self.answers):
            thread = threading.Thread(target=pump, args=(client, server))
            thread.start()
            self.threads.append(thread)

    def requests(self, client, server):
        try:
            while True:
                data = client.recv(self.BLOCK)
                if not data:
                    break
                server.sendall(data)
        except OSError:
            pass
        try:
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def answers(self, client, server):
        carried = 0
        try:
            while True:
                data = server.recv(self.BLOCK)
                if not data:
                    break
                if self.cut_after is not None and not self.cut.is_set() and carried + len(data) >= self.cut_after:
                    client.sendall(data[:self.cut_after - carried])
                    self.cut.set()
                    break
                client.sendall(data)
                carried += len(data)
        except OSError:
            pass
        for end in (client, server):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            end.close()


class ChunkedLengthServer(LoopbackListener):
    """A hostile update server on 127.0.0.1:80, in nginx's place: it serves
    the files of DOCROOT, but sends |path| with chunked framing and a
    Content-Length of |boundary| bytes, where it also ends the first chunk.
    Used as a context manager; one connection at a time, each closed after
    its response."""

    REQUEST_TIMEOUT_S = 5

    def __init__(self, docroot, path, boundary):
        super().__init__()
        self.docroot = docroot
        self.path = path
        self.boundary = boundary

    def take(self, connection):
        with connection:
            connection.settimeout(self.REQUEST_TIMEOUT_S)
            try:
                connection.sendall(self.answer(self.read_head(connection)))
                connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    @staticmethod
    def read_head(connection):
        head = b""
        while b"\r\n\r\n" not in head:
            data = connection.recv(4096)
            if not data:
                break
            head += data
        return head

    def answer(self, head):
        target = head.split(b"\r\n", 1)[0].split(b" ")[1] if head.count(b" ") >= 2 else b"/"
        # As nginx reads a target: the path ends at "?", escapes are decoded.
        path = urllib.parse.unquote_to_bytes(target.split(b"?", 1)[0])
        file_name = os.path.join(os.fsencode(self.docroot), path.lstrip(b"/"))
        if not os.path.isfile(file_name):
            return b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
        with open(file_name, "rb") as source:
            body = source.read()
        if path != os.fsencode(self.path):
            return (b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)) + body
        chunks = (body[:self.boundary], body[self.boundary:])
        return (b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nTransfer-Encoding: chunked\r\n"
                b"Connection: close\r\n\r\n" % self.boundary +
                b"".join(b"%x\r\n%s\r\n" % (len(chunk), chunk) for chunk in chunks if chunk) + b"0\r\n\r\n")


class Harness:
    def __init__(self, options, server_directives=""):
        self.emulator = [options.emulator] if options.emulator else []
        self.under_wine = bool(options.emulator)
        self.launcher = self.emulator + [os.path.abspath(options.launcher)]
        self.keyed_launcher = self.emulator + [os.path.abspath(options.keyed_launcher)]
        self.release_key = os.path.abspath(options.release_key)
        self.signer = self.emulator + [os.path.abspath(options.signer)]
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

    def serve_by_hand(self, files, serial=1):
        """Serves |files| (a list of (name, bytes) in manifest order; the
        client is added first) with a manifest written here, as
        torvane-publish writes one, for names that it would refuse."""
        directory = self.release_directory()
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        with open(self.client_program, "rb") as client:
            files = [(CLIENT.encode(), client.read())] + list(files)
        text = b"#torvane-hash sha256\n#torvane-serial %d\n" % serial
        for name, data in files:
            path = os.path.join(directory, os.fsdecode(name))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
            text += b"%s %d %s\n" % (hashlib.sha256(data).hexdigest().encode(), len(data), name)
        with open(self.served(self.manifest), "wb") as out:
            out.write(zlib.compress(text))

    def empty_installation(self):
        """Makes the installation new again: the header-only manifest alone."""
        shutil.rmtree(self.game)
        os.mkdir(self.game)
        with open(os.path.join(self.game, "update_manifest.lst"), "wb") as out:
            out.write(MANIFEST_HEADER)

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

    def run(self, arguments=(), answers=b"\n\n\n", user=None, keyed=False, parallel=None):
        """Runs the launcher; |parallel| (a string) goes into
        PARALLEL_VARIABLE, which is left out otherwise."""
        command = (self.keyed_launcher if keyed else self.launcher) + list(arguments)
        if user is not None:
            command = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups"] + command
        environment = dict(os.environ)
        environment.pop(PARALLEL_VARIABLE, None)
        if parallel is not None:
            environment[PARALLEL_VARIABLE] = parallel
        completed = subprocess.run(command, cwd=self.game, input=answers, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S, env=environment)
        return Result(completed.returncode, self.player_text(completed.stdout))

    def player_text(self, output):
        if self.under_wine:
            output = output.replace(b"\r\n", b"\n")
        return output.decode("latin-1")

    def run_measured(self, answers=b"\n", keyed=False):
        """Runs the launcher as run does and measures its peak resident
        memory. On Linux it also runs under an address-space limit (Wine
        reserves large address ranges for itself, so not there)."""
        command = self.keyed_launcher if keyed else self.launcher

        def limit_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT))

        process = subprocess.Popen(command, cwd=self.game, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT,
                                   preexec_fn=None if self.under_wine else limit_address_space)
        output = []
        reader = threading.Thread(target=lambda: output.append(process.stdout.read()))
        reader.start()
        try:
            process.stdin.write(answers)
            process.stdin.close()
        except BrokenPipeError:
            pass
        reader.join(RUN_TIMEOUT_S)
        if reader.is_alive():
            process.kill()
            reader.join()
            os.wait4(process.pid, 0)
            raise CaseFailure("the launcher did not end within %d s" % RUN_TIMEOUT_S)
        # wait4, not wait: the kernel's accounting of the ended process.
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        return Result(process.returncode, self.player_text(output[0]), usage.ru_maxrss * 1024)

    def serve_manifest_text(self, pieces, sign=False):
        """Serves the text made of |pieces| (bytes, in order) as the
        manifest, compressed, signed with the release key when |sign| is
        set, else without a signature. The text is compressed piece by
        piece: a large one never sits whole in this process, whose peak
        memory the kernel would count for the launcher it starts next."""
        path = self.served(self.manifest)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        compressor = zlib.compressobj(6)
        with open(path, "wb") as out:
            for piece in pieces:
                out.write(compressor.compress(piece))
            out.write(compressor.flush())
        if os.path.exists(path + ".sig"):
            os.remove(path + ".sig")
        if sign:
            completed = subprocess.run(self.signer + [self.release_key, path], stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
            expect_equal("manifest_signer (%r)" % completed.stdout, completed.returncode, 0)

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


def case_keyed_launcher_refuses_a_signed_release_without_sha256_tokens(h):
    installed = install_signed(h)
    h.publish_signed(SECOND, ["--serial", "101"])
    with open(h.served(h.manifest), "rb") as source:
        text = zlib.decompress(source.read())
    undeclared = b"".join(line + b"\n" for line in text.splitlines() if line != b"#torvane-hash sha256")
    expect_true("the manifest declared SHA-256 tokens", undeclared != text)
    h.serve_manifest_text([undeclared], sign=True)
    expect_refused_untouched(h, h.run(keyed=True), "does not declare SHA-256 hash tokens", installed)


# --- hostile manifests -----------------------------------------------------

MANIFEST_FETCH_FAILED = "Error fetching update file '%s/%s' from remote server, aborting update.\n"


def expect_bounded_memory(result):
    expect_true("peak memory %d bytes, more than %d" % (result.peak_memory, PEAK_MEMORY_LIMIT),
                result.peak_memory <= PEAK_MEMORY_LIMIT)


def case_a_flood_of_one_repeated_line_is_refused_within_bounded_memory(h):
    files = h.publish(RELEASE)
    h.run()
    # 128 MiB of one entry line: a name listed millions of times.
    mebibyte_of_lines = b"0123456789 1 a\n" * (1024 * 1024 // 15)
    h.serve_manifest_text(mebibyte_of_lines for _ in range(128))
    result = h.run_measured()
    expect_equal("output", result.output,
                 "Error in http_fetch_remote_manifest_data::download_data_callback(), manifest lists more than "
                 "2000000 entries, aborting.\n" + MANIFEST_FETCH_FAILED % (h.root, h.manifest) +
                 NO_SERVER + CLIENT_GREETING)
    expect_bounded_memory(result)
    expect_equal("requests for a", h.server.requests(h.root + "/a"), 0)
    h.expect_installed(files)


def case_keyed_launcher_builds_no_entry_before_the_signature_is_checked(h):
    installed = install_signed(h)
    # 1,900,000 distinct entries, within every bound, but unsigned: about
    # 5 MB compressed, so held in tmp/ until the signature check refuses it.
    batch = 10000
    h.serve_manifest_text(b"".join(b"0123456789 1 f%07d\n" % i for i in range(first, first + batch))
                          for first in range(0, 1900000, batch))
    result = h.run_measured(keyed=True)
    expect_equal("output", result.output,
                 refused(h, "has no signature ('%s/%s.sig' could not be fetched)" % (h.root, h.manifest)) +
                 NO_SERVER + CLIENT_GREETING)
    expect_bounded_memory(result)
    expect_true("the held manifest was left in tmp/",
                not os.path.exists(os.path.join(h.game, "tmp", "update.tmp.manifest")))
    h.expect_installed(installed)


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


# --- what a request path and its framing carry ------------------------------

# What the processor says of a response framed both ways.
LENGTH_IGNORED = ("Warning in qarn_http_data_processor_oline::put_rx_data(), got both transfer coding and "
                  "content length, the length is ignored: chunked\n")


def boundary_inside(compressed, head, tail):
    """The count of compressed bytes after which zlib has given out text
    that ends with |head| where the whole text goes on with |tail|: a
    length there would end the text in the middle of that line. None when
    no count does."""
    text = zlib.decompress(compressed)
    for count in range(1, len(compressed)):
        given = zlib.decompressobj().decompress(compressed[:count])
        if given.endswith(head) and text[len(given):].startswith(tail):
            return count
    return None


def case_a_content_length_beside_chunked_coding_does_not_cut_a_signed_line(h):
    # Cut after "music/theme", the line of "music/theme#2.ogg" would list the
    # second theme's size and hash under the first one's name, and its rest
    # "#2.ogg" would pass for a comment.
    themes = {"music/theme": b"The first theme.\n" * 40, "music/theme#2.ogg": b"OggS the second theme" * 50}
    # Whether zlib gives out the text up to just that point depends on every
    # byte before it, the client's hash among them: the serial varies until
    # some compressed length does.
    boundary = None
    for serial in range(100, 164):
        files = h.publish_signed(themes, ["--serial", str(serial)])
        with open(h.served(h.manifest), "rb") as source:
            boundary = boundary_inside(source.read(), b"music/theme", b"#2.ogg")
        if boundary is not None:
            break
    expect_true("no length would cut the second theme's line", boundary is not None)
    h.server.stop()
    with ChunkedLengthServer(h.server.docroot, h.root + "/" + h.manifest, boundary):
        result = h.run(keyed=True)
    expect_equal("output", result.output,
                 LENGTH_IGNORED + update_count(len(files)) + count_line(len(files), len(files)) + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    h.expect_installed(files)


def case_names_with_percent_hash_and_question_mark_are_installed_as_published(h):
    # Beside each name lies the file that the name cut at its "#" or "?"
    # would fetch; "100%.txt" sent raw is a bad escape.
    names = {"100%.txt": b"one hundred per cent\n", "a#b.txt": b"a hash b\n", "a": b"only a\n"}
    if not h.under_wine:  # Windows keeps no "?" in a file name
        names.update({"what_.txt": b"what, asked\n", "what": b"only what\n"})
    files = h.publish(names)
    if not h.under_wine:
        # torvane-publish refuses "?" for the players on Windows; a release
        # made by other means may still carry it to a launcher on Linux.
        with open(h.served(h.manifest), "rb") as source:
            text = zlib.decompress(source.read())
        expect_true("the manifest lists what_.txt", b" what_.txt\n" in text)
        h.serve_manifest_text([text.replace(b" what_.txt\n", b" what?.txt\n")])
        os.rename(h.served("what_.txt"), h.served("what?.txt"))
        files["what?.txt"] = files.pop("what_.txt")
    result = h.run()
    expect_equal("output", result.output,
                 update_count(len(files)) + count_line(len(files), len(files)) + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    h.expect_installed(files)


# --- names beyond ASCII ------------------------------------------------------

# An accented letter, umlauts and letters beyond the Basic Multilingual Plane
# (a surrogate pair in UTF-16), in file and directory names.
NON_ASCII_RELEASE = {
    "musique/café.txt": b"Bienvenue.\n",
    "Grüße/über alles.ogg": bytes(range(256)) * 40,
    "emoji-😀/🎲-würfel.dat": b"\x00\x01dice" * 333,
}


# What an installation holds besides the game: the launcher's own files
# (the lock file on POSIX only) and what the stand-in client records.
INSTALLATION_OWN_FILES = {"update_manifest.lst", "torvane_updater_lock.tmp", "args"}


def game_files_under(directory):
    """Every game file below |directory|, as the UTF-8 names Linux reads."""
    names = set()
    for parent, _, files in os.walk(directory):
        for name in files:
            names.add(os.path.relpath(os.path.join(parent, name), directory))
    return names - INSTALLATION_OWN_FILES


def case_names_beyond_ascii_install_under_their_own_names(h):
    # The installation's own directory is named beyond ASCII too.
    installation = os.path.join(h.work, "Spiele-é-😀")
    os.rename(h.game, installation)
    h.game = installation
    files = h.publish(NON_ASCII_RELEASE)
    result = h.run()
    expect_equal("first run", result.output, update_count(4) + count_line(4, 4) + CLIENT_GREETING)
    h.expect_installed(files)
    expect_equal("game files on the disk", game_files_under(h.game), set(files))
    # Every installed name is found again: nothing to update.
    expect_equal("second run", h.run().output, CLIENT_GREETING)
    # A new version replaces the old one under the same name.
    changed = h.publish(dict(NON_ASCII_RELEASE, **{"Grüße/über alles.ogg": b"Release two.\n"}))
    expect_equal("run after a change", h.run().output, update_count(1) + count_line(1, 1) + CLIENT_GREETING)
    h.expect_installed(changed)
    expect_equal("game files after the change", game_files_under(h.game), set(files))


# --- names the launcher cannot keep -----------------------------------------

OWN_FILE = "unsafe name (the launcher's own file)"
WINDOWS_CHARACTER = "unsafe name (character reserved by Windows)"
DEVICE = "unsafe name (reserved device name)"
TRAILING = "unsafe name (dot or blank at the end of a component)"
TOO_LONG = "its line in the local manifest would be longer than 1023 characters"
# 948 bytes, one more than a SHA-256 token and a ten-column size leave for
# a line of 1023 characters, in components that every file system takes.
OVERLONG = b"/".join(bytes([c]) * 200 for c in b"defg") + b"/" + b"h" * 144

# (name, why it is refused everywhere, why Windows refuses it), in manifest
# order; None where it is installed.
KEPT_NAMES = [
    (b"readme.txt", None, None),
    (b"update_manifest.lst", OWN_FILE, OWN_FILE),
    (b"Update_Exclude.lst", OWN_FILE, OWN_FILE),
    (b"torvane_updater_lock.tmp", OWN_FILE, OWN_FILE),
    (b"update_manifest.lst.release", OWN_FILE, OWN_FILE),
    (b"TMP/update.tmp", OWN_FILE, OWN_FILE),
    (b"tmp/other.dat", OWN_FILE, OWN_FILE),
    (b"a\rb.txt", "unsafe name (carriage return)", "unsafe name (carriage return)"),
    (OVERLONG, TOO_LONG, TOO_LONG),
    (b"Data/a.txt", None, None),
    (b"data/A.txt", "the same file on Windows as 'Data/a.txt'", "the same file on Windows as 'Data/a.txt'"),
    ("COM\u00b9.txt".encode(), None, DEVICE),
    ("lpt\u00b2".encode(), None, DEVICE),
    ("COM\u00b3.log".encode(), None, DEVICE),
    (b"com0", None, DEVICE),
    (b"LPT0.dat", None, DEVICE),
    (b"CONIN$", None, DEVICE),
    (b"data/conout$.txt", None, DEVICE),
    (b"a<b.txt", None, WINDOWS_CHARACTER),
    (b"a>b.txt", None, WINDOWS_CHARACTER),
    (b"pipe|.txt", None, WINDOWS_CHARACTER),
    (b"star*.txt", None, WINDOWS_CHARACTER),
    (b'say"hi".txt', None, WINDOWS_CHARACTER),
    (b"tab\t.txt", None, "unsafe name (control character)"),
    (b"dot.", None, TRAILING),
    (b"blank /a.txt", None, TRAILING),
    (b"more/b.txt", None, None),
]


def shown(name):
    """A name as the launcher's line shows it: control characters escaped,
    bytes as they are (the output is read as Latin-1)."""
    return name.replace(b"\r", b"\\r").replace(b"\t", b"\\t").decode("latin-1")


def case_names_the_launcher_cannot_keep_are_refused_each_with_its_line(h):
    files = [(name, b"bytes of " + name) for name, _, _ in KEPT_NAMES]
    h.serve_by_hand(files)
    refusals = ""
    installed = {CLIENT.encode(): None}
    for (name, everywhere, windows), (_, data) in zip(KEPT_NAMES, files):
        why = windows if h.under_wine else everywhere
        if why is None:
            installed[name] = data
        else:
            refusals += "Skipping file '%s' - %s.\n" % (shown(name), why)
    count = len(installed)
    result = h.run()
    expect_equal("output", result.output,
                 refusals + update_count(count) + count_line(count, count) + CLIENT_GREETING)
    expect_equal("exit code", result.exit_code, h.client_exit_code())
    for name, data in installed.items():
        if data is not None:
            expect_equal("installed %r" % name, h.installed(os.fsdecode(name)), data)
    with open(os.path.join(h.game, "update_manifest.lst"), "rb") as source:
        expect_true("the local manifest was replaced", source.read().startswith(MANIFEST_HEADER))
    for own in ("update_exclude.lst", "update_manifest.lst.release", "tmp/other.dat"):
        expect_true("%s was installed" % own, not os.path.exists(os.path.join(h.game, own)))
    readme_requests = h.server.requests(h.root + "/readme.txt", 1)
    again = h.run()
    expect_equal("output of the next start", again.output, refusals + CLIENT_GREETING)
    expect_equal("readme requests", h.server.requests(h.root + "/readme.txt"), readme_requests)


def case_a_file_spelled_in_another_case_is_fetched_again_when_the_first_spelling_returns(h):
    # One size, other bytes: only the record tells them apart.
    first, second = b"release one bytes", b"release two bytes"
    h.serve_by_hand([(b"data/a.txt", first)], serial=1)
    h.run()
    h.serve_by_hand([(b"Data/A.txt", second)], serial=2)
    h.run()
    h.serve_by_hand([(b"data/a.txt", first)], serial=3)
    result = h.run()
    expect_equal("output", result.output, update_count(1) + count_line(1, 1) + CLIENT_GREETING)
    expect_equal("data/a.txt", h.installed("data/a.txt"), first)


# Cases that drop to an unprivileged user; Wine keeps its prefix for the
# user that made it, and Windows asks through its own consent dialog.
# Enough small files that one connection each would show: a game's patch
# of many small files is what a kept connection is for.
MANY_FILES = {"many/part %02d.dat" % number: (b"%02d" % number) * (number * 37 + 1) for number in range(40)}


def file_lines(h, output):
    """The lines of |output| that a verbose run prints for each file."""
    starts = ("Updating file '", "Starting download of file '%s/" % h.root, "Received ")
    return [line for line in output.splitlines() if line.startswith(starts)]


def expected_file_lines(h, files):
    """The lines a verbose run prints for |files| (name -> bytes), all new,
    in the order of the published manifest, one file after the other."""
    with open(h.served(h.manifest), "rb") as source:
        text = zlib.decompress(source.read()).decode("latin-1")
    names = [line.split(" ", 2)[2] for line in text.splitlines() if line and not line.startswith("#")]
    total = sum(len(files[name]) for name in names)
    lines = []
    received = 0
    for name in names:
        received += len(files[name])
        lines += ["Updating file '%s'." % name,
                  "Starting download of file '%s/%s'." % (h.root, name),
                  "Received %10d / %10d bytes." % (received, total)]
    return lines


def case_many_files_come_over_one_kept_connection(h):
    files = h.publish(MANY_FILES)
    result = h.run(parallel="1")
    expect_equal("output", result.output, update_count(len(files)) + count_line(len(files), len(files)) +
                 CLIENT_GREETING)
    h.expect_installed(files)
    used = h.server.connections(h.root + "/", len(files) + 1)
    # The manifest comes over a connection of its own, every file over the
    # next one.
    expect_equal("connections for the manifest and %d files" % len(files), len(used), 2)


def case_parallel_downloads_show_the_lines_of_one_connection(h):
    files = h.publish(MANY_FILES)
    outputs = {}
    for parallel in ("1", "4", "8"):
        h.empty_installation()
        h.server.forget_requests()
        result = h.run(["-v"], parallel=parallel)
        outputs[parallel] = result.output
        expect_equal("exit code with %s downloads in flight" % parallel, result.exit_code, h.client_exit_code())
        h.expect_installed(files)
        used = h.server.connections(h.root + "/", len(files) + 1)
        if parallel == "1":
            expect_equal("connections with one download in flight", len(used), 2)
        else:
            expect_true("one connection for %s downloads in flight" % parallel, len(used) > 2)
            expect_true("%d connections for %s downloads in flight" % (len(used), parallel),
                        len(used) <= 1 + int(parallel))
    expect_equal("lines of the files", file_lines(h, outputs["1"]), expected_file_lines(h, files))
    for parallel in ("4", "8"):
        expect_equal("output with %s downloads in flight" % parallel,
                     one_dot_per_run(outputs[parallel]), one_dot_per_run(outputs["1"]))


def one_dot_per_run(output):
    """|output| with each line of progress dots cut to one dot: how many
    dots a file gets follows how its bytes came over the network, which
    differs from run to run whatever the number of downloads in flight."""
    return re.sub(r"^\.+$", ".", output, flags=re.M)


def restart_server(h, directives):
    h.server.stop()
    h.server = Server(h.server.work, directives)
    h.server.start()


def case_a_server_that_ends_kept_connections_changes_no_line(h):
    # nginx says "Connection: close" on the fifth answer of a connection and
    # closes it: every fifth file opens a new one.
    answers_per_connection = 5
    restart_server(h, "  keepalive_requests %d;\n" % answers_per_connection)
    files = h.publish(MANY_FILES)
    result = h.run(["-v"], parallel="1")
    expect_equal("lines of the files", file_lines(h, result.output), expected_file_lines(h, files))
    expect_true("count line missing:\n" + result.output, count_line(len(files), len(files)) in result.output)
    expect_true("an error line:\n" + result.output, "Error" not in result.output)
    h.expect_installed(files)
    used = h.server.connections(h.root + "/", len(files) + 1)
    expect_equal("connections", len(used), 1 + (len(files) + answers_per_connection - 1) // answers_per_connection)


def case_a_server_that_closes_every_connection_after_one_answer_still_delivers_every_file(h):
    restart_server(h, "  keepalive_requests 1;\n")
    files = h.publish(MANY_FILES)
    result = h.run(["-v"], parallel="4")
    expect_equal("lines of the files", file_lines(h, result.output), expected_file_lines(h, files))
    expect_true("count line missing:\n" + result.output, count_line(len(files), len(files)) in result.output)
    expect_true("an error line:\n" + result.output, "Error" not in result.output)
    h.expect_installed(files)
    used = h.server.connections(h.root + "/", len(files) + 1)
    expect_equal("connections", len(used), 1 + len(files))
    expect_equal("temporary files left", sorted(os.listdir(os.path.join(h.game, "tmp"))), [])


# --- resumed downloads -------------------------------------------------------

RESUMED_FILE = "music/theme.ogg"
RESUMED_SIZE = 20 * 1024 * 1024
# Where the proxy drops the connection that carries the file: well inside it.
CUT_AFTER = 7 * 1024 * 1024 + 12345
NGINX_BEHIND_PROXY_PORT = 8080


def resumed_file_bytes():
    # Bytes that repeat nowhere, so that a piece in the wrong place shows.
    return b"".join(hashlib.sha256(b"%d" % i).digest() for i in range(RESUMED_SIZE // 32))


def ranges_logged(server, path, expected):
    """(Range header, status, body bytes sent) of each request for |path|
    that nginx has logged, once |expected| of them are or the wait is over."""
    log = os.path.join(server.work, "ranges.log")
    deadline = time.monotonic() + LOG_WAIT_S
    while True:
        logged = []
        if os.path.exists(log):
            with open(log) as source:
                for line in source:
                    uri, range_header, status, sent = line.rsplit(" ", 3)
                    if uri == path:
                        logged.append((range_header, int(status), int(sent)))
        if len(logged) >= expected or time.monotonic() > deadline:
            return logged


def serve_behind_proxy(h, directives=""):
    """Moves nginx behind the proxy's port, logging the Range of every request."""
    h.server.stop()
    log = ("  log_format ranges '$uri \"$http_range\" $status $body_bytes_sent';\n"
           "  access_log %s/ranges.log ranges;\n" % h.server.work)
    h.server = Server(h.server.work, log + directives, NGINX_BEHIND_PROXY_PORT)
    h.server.start()


def partial_files(h):
    directory = os.path.join(h.game, "tmp", "partial")
    if not os.path.isdir(directory):
        return {}
    return {name: os.path.getsize(os.path.join(directory, name))
            for name in os.listdir(directory) if name.endswith(".part")}


def break_the_first_download(h):
    """Publishes the file, and runs the launcher while the connection that
    carries it drops in the middle and the server is then gone. Returns the
    release and the size of the kept partial file."""
    serve_behind_proxy(h)
    files = h.publish({RESUMED_FILE: resumed_file_bytes()})
    with CuttingProxy(NGINX_BEHIND_PROXY_PORT, CUT_AFTER):
        first = h.run()
    expect_true("the file was installed although its connection dropped", h.installed(RESUMED_FILE) is None)
    expect_true("no line says why:\n" + first.output, "Unable to update file '%s'" % RESUMED_FILE in first.output)
    kept = partial_files(h)
    expect_equal("partial files kept", len(kept), 1)
    size = list(kept.values())[0]
    expect_true("partial file of %d bytes" % size, 0 < size <= CUT_AFTER)
    logged = ranges_logged(h.server, h.root + "/" + RESUMED_FILE, 1)
    expect_equal("requests so far", [(header, status) for header, status, _ in logged], [('"-"', 200)])
    expect_true("the whole file went out before the drop", logged[0][2] < RESUMED_SIZE)
    return files, size


def resume_line(size):
    return "Resuming download of file '%s' at byte %d.\n" % (RESUMED_FILE, size)


def case_a_download_dropped_in_the_middle_resumes_at_the_next_start(h):
    files, size = break_the_first_download(h)
    with CuttingProxy(NGINX_BEHIND_PROXY_PORT, None):
        second = h.run(["-v"])
    expect_true("no resume line:\n" + second.output, resume_line(size) in second.output)
    expect_true("a failure:\n" + second.output, "Unable to update" not in second.output)
    h.expect_installed(files)
    logged = ranges_logged(h.server, h.root + "/" + RESUMED_FILE, 2)
    expect_equal("the second request", logged[1:], [('"bytes=%d-"' % size, 206, RESUMED_SIZE - size)])
    expect_equal("partial files left", partial_files(h), {})


def case_a_resume_whose_kept_bytes_are_wrong_is_refused_and_fetched_whole(h):
    files, size = break_the_first_download(h)
    partial = os.path.join(h.game, "tmp", "partial", list(partial_files(h))[0])
    with open(partial, "r+b") as out:
        out.seek(size // 2)
        byte = out.read(1)
        out.seek(size // 2)
        out.write(bytes([byte[0] ^ 0xFF]))
    with CuttingProxy(NGINX_BEHIND_PROXY_PORT, None):
        second = h.run(["-v"])
    expect_true("no resume line:\n" + second.output, resume_line(size) in second.output)
    expect_true("no line of the whole fetch:\n" + second.output,
                "Fetching file '%s' whole.\n" % RESUMED_FILE in second.output)
    expect_true("a failure:\n" + second.output, "Unable to update" not in second.output)
    h.expect_installed(files)
    logged = ranges_logged(h.server, h.root + "/" + RESUMED_FILE, 3)
    expect_equal("the later requests", logged[1:],
                 [('"bytes=%d-"' % size, 206, RESUMED_SIZE - size), ('"-"', 200, RESUMED_SIZE)])


def case_a_server_that_ignores_range_sends_the_file_whole(h):
    files, size = break_the_first_download(h)
    serve_behind_proxy(h, "  max_ranges 0;\n")
    with CuttingProxy(NGINX_BEHIND_PROXY_PORT, None):
        second = h.run(["-v"])
    expect_true("a failure:\n" + second.output, "Unable to update" not in second.output)
    h.expect_installed(files)
    logged = ranges_logged(h.server, h.root + "/" + RESUMED_FILE, 2)
    expect_equal("the second request", logged[1:], [('"bytes=%d-"' % size, 200, RESUMED_SIZE)])


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
    case_keyed_launcher_refuses_a_signed_release_without_sha256_tokens,
    case_a_flood_of_one_repeated_line_is_refused_within_bounded_memory,
    case_keyed_launcher_builds_no_entry_before_the_signature_is_checked,
    case_files_that_fail_verification_are_refused_and_the_old_versions_stay,
    case_a_content_length_beside_chunked_coding_does_not_cut_a_signed_line,
    case_names_with_percent_hash_and_question_mark_are_installed_as_published,
    case_names_beyond_ascii_install_under_their_own_names,
    case_names_the_launcher_cannot_keep_are_refused_each_with_its_line,
    case_a_file_spelled_in_another_case_is_fetched_again_when_the_first_spelling_returns,
    case_many_files_come_over_one_kept_connection,
    case_parallel_downloads_show_the_lines_of_one_connection,
    case_a_server_that_ends_kept_connections_changes_no_line,
    case_a_server_that_closes_every_connection_after_one_answer_still_delivers_every_file,
    case_a_download_dropped_in_the_middle_resumes_at_the_next_start,
    case_a_resume_whose_kept_bytes_are_wrong_is_refused_and_fetched_whole,
    case_a_server_that_ignores_range_sends_the_file_whole,
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
    parser.add_argument("--signer", required=True, help="the manifest_signer helper of the same build")
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
