#!/usr/bin/env python3
"""The names that the platform's file calls leave on the disk, as Linux
reads them.

Usage: file_names_on_disk.py [--emulator PROGRAM] PROBE

PROBE is file_name_probe of the build, run through --emulator (wine) for
the Windows build. Wine's Z: drive is the Linux root, so a Windows program
that names a file right leaves exactly the UTF-8 name on the Linux side;
one that goes through the ANSI code page leaves another name, or none. The
probe gets the directory (a Linux path, which a Windows program under Wine
finds on Z:) and the names as arguments; this test reads what it made with
Linux's own calls.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

RUN_TIMEOUT_S = 60

# An accented letter, an umlaut and letters beyond the Basic Multilingual
# Plane (a surrogate pair in UTF-16), alone and in one name.
NAMES = ["café.txt", "Grüße über.ogg", "emoji-😀.dat", "😀🎲-é-ü"]


def problems_in(directory):
    """What differs between the probe's files and the names and contents
    it was asked for, one line each."""
    problems = []
    top = sorted(os.listdir(directory))
    if top != sorted(name + ".d" for name in NAMES):
        problems.append("top directory holds %r" % top)
    for name in NAMES:
        folder = os.path.join(directory, name + ".d")
        if not os.path.isdir(folder):
            continue
        listed = os.listdir(folder)
        if listed != [name]:
            problems.append("directory of %r holds %r" % (name, listed))
            continue
        with open(os.path.join(folder, name), "rb") as source:
            content = source.read()
        if content != (name + name).encode():
            problems.append("%r holds %r" % (name, content))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--emulator", help="what runs the build's programs (wine)")
    parser.add_argument("probe", help="file_name_probe of the build")
    options = parser.parse_args()
    probe = ([options.emulator] if options.emulator else []) + [os.path.abspath(options.probe)]
    directory = tempfile.mkdtemp(prefix="torvane-file-names-")
    try:
        completed = subprocess.run(probe + [directory] + NAMES, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT_S)
        problems = []
        if completed.returncode != 0:
            problems.append("probe exit code %d: %s" % (completed.returncode,
                                                        completed.stdout.decode("utf-8", "replace")))
        problems += problems_in(directory)
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    for problem in problems:
        print("FAIL names_on_disk: %s" % problem)
    if not problems:
        print("ok   names_on_disk")
    print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
