#!/usr/bin/env python3
"""Whole-program test of a file of 2 GiB and more: published with
torvane-publish and installed by the launcher from nginx on 127.0.0.1:80.

Usage:
  launcher_large_file_tests.py --publish PATH --client PATH
                               [--update-root ROOT] [--update-manifest NAME] LAUNCHER

Runs in a private network namespace (scripts/in_netns.sh), like
launcher_update_tests.py, whose server and harness it uses. The served file
is sparse, so that the release takes no disk space; the installed copy is a
real file of 2 GiB and one byte, removed with the case's directory.

nginx sends at most SERVED_BYTES_PER_S, so that the download lasts several
of the launcher's 3-second percentage intervals whatever the machine.
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys

import launcher_update_tests
from launcher_test_kit import CLIENT_GREETING, count_line, expect_equal, expect_true, run_cases
from launcher_update_tests import CLIENT, Harness, update_count

LARGE_NAME = "data/huge.pak"
LARGE_SIZE = 2 ** 31 + 1
SERVED_BYTES_PER_S = 256 * 1024 * 1024  # 2 GiB in 8 s: two percentage lines at least
# A launcher run moves 2 GiB: far longer than the other cases' runs.
LARGE_RUN_TIMEOUT_S = 240
HASH_BLOCK_LEN = 1 << 20
PERCENT_LINE = re.compile(r"^([ \d]{2}\d\.\d)% complete\.\n", re.M)


def sha256_of_zeros(size):
    digest = hashlib.sha256()
    block = bytes(HASH_BLOCK_LEN)
    left = size
    while left > 0:
        digest.update(block[:min(left, HASH_BLOCK_LEN)])
        left -= HASH_BLOCK_LEN
    return digest.hexdigest()


def publish_with_large_file(h):
    """Publishes the client and LARGE_NAME, LARGE_SIZE zero bytes left as a
    hole in the served file."""
    directory = h.release_directory()
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(os.path.join(directory, os.path.dirname(LARGE_NAME)))
    shutil.copyfile(h.client_program, os.path.join(directory, CLIENT))
    with open(os.path.join(directory, LARGE_NAME), "wb") as out:
        out.truncate(LARGE_SIZE)
    completed = subprocess.run(h.publish_program + ["--manifest", h.manifest, directory],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=LARGE_RUN_TIMEOUT_S)
    output = completed.stdout.decode("latin-1")
    expect_equal("torvane-publish exit code (%r)" % output, completed.returncode, 0)
    total = LARGE_SIZE + os.path.getsize(h.client_program)
    expect_true("torvane-publish did not list both files with their bytes:\n" + output,
                "torvane-publish: 2 files, %d bytes" % total in output)


def manifest_line(name, sha, size):
    return "%s %10d %s\n" % (sha, size, name)


def case_file_of_2_gib_and_one_byte_is_published_and_installed(h):
    publish_with_large_file(h)

    # Every percentage is of the release's 2 GiB and more.
    result = h.run()
    percents = PERCENT_LINE.findall(result.output)
    expect_equal("output without its percentage lines", PERCENT_LINE.sub("", result.output),
                 update_count(2) + count_line(2, 2) + CLIENT_GREETING)
    values = [float(value) for value in percents]
    expect_true("fewer than two percentage lines in a download of 8 s or more:\n" + result.output,
                len(values) >= 2)
    expect_true("percentages not growing from 0 to 100: %r" % values,
                all(0 < value <= 100 for value in values) and values == sorted(values))
    expect_true("no percentage line past half of the release: %r" % values, values[-1] > 50)
    expect_equal("installed size", os.path.getsize(os.path.join(h.game, LARGE_NAME)), LARGE_SIZE)
    sha = sha256_of_zeros(LARGE_SIZE)
    with open(os.path.join(h.game, "update_manifest.lst"), "rb") as source:
        recorded = source.read().decode("latin-1")
    expect_true("local manifest line of the large file missing:\n" + recorded,
                manifest_line(LARGE_NAME, sha, LARGE_SIZE) in recorded.splitlines(True))

    # Without the file the entry is dropped and the file comes again; the
    # verbose run shows the byte counts and the statistics.
    os.remove(os.path.join(h.game, LARGE_NAME))
    result = h.run(["-v"])
    out = result.output
    for line in ("Loaded 2 entries from current manifest file 'update_manifest.lst'.\n",
                 "File '%s' missing, should update.\n" % LARGE_NAME,
                 "Received %10d / %10d bytes.\n" % (LARGE_SIZE, LARGE_SIZE),
                 count_line(1, 1),
                 "\nlocal_manifest_initial_entry_count: 2\n"
                 "local_manifest_pruned_entry_count:  1\n"
                 "remote_manifest_entry_count:        2\n"
                 "\n"
                 "exclude_manifest_file_count         0\n"
                 "expected_download_file_count:       1\n"
                 "successfully_saved_file_count:      1\n"
                 "failed_download_file_count:         0\n"
                 "failed_save_file_count:             0\n"
                 "\n"
                 "expected_download_byte_count:       %d\n"
                 "current_download_byte_count:        %d\n"
                 "downloaded_bytes:                   %d\n"
                 "saved_bytes:                        %d\n" % ((LARGE_SIZE,) * 4)):
        expect_true("line %r missing:\n%s" % (line, out[-2000:]), line in out)
    expect_true("a percentage line in verbose mode", "% complete." not in out)
    expect_equal("installed size", os.path.getsize(os.path.join(h.game, LARGE_NAME)), LARGE_SIZE)


CASES = [
    case_file_of_2_gib_and_one_byte_is_published_and_installed,
]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--publish", required=True, help="torvane-publish of the same build")
    parser.add_argument("--client", required=True, help="the compiled stand-in game client")
    parser.add_argument("--update-root", default="/torvane")
    parser.add_argument("--update-manifest", default="manifest.lst.z")
    parser.add_argument("launcher", help="the launcher program")
    options = parser.parse_args()
    # The harness's signed-release settings are not used here.
    options.emulator = None
    options.keyed_launcher = options.launcher
    options.release_key = os.devnull
    options.signer = os.devnull
    launcher_update_tests.RUN_TIMEOUT_S = LARGE_RUN_TIMEOUT_S
    harness = Harness(options, "  limit_rate %d;\n" % SERVED_BYTES_PER_S)
    return run_cases(harness, CASES, lambda case: None, harness.begin, harness.end)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    sys.exit(main())
