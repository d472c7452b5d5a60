#!/usr/bin/env python3
"""Checks that a program holds none of the built-in configuration values in
plain text, as `strings` would find them.

Usage: no_plain_configuration.py --objcopy PATH PROGRAM VALUE...

The program's debug information is stripped from a copy first (it names
source paths, which may contain anything, and is not shipped); the code and
data that remain must not contain any VALUE as bytes, nor as UTF-16.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("program")
    parser.add_argument("values", nargs="+")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="torvane-strings-")
    try:
        stripped = os.path.join(work, os.path.basename(options.program))
        shutil.copyfile(options.program, stripped)
        subprocess.run([options.objcopy, "--strip-debug", stripped], check=True)
        with open(stripped, "rb") as source:
            data = source.read()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    found = []
    for value in options.values:
        for encoding in ("latin-1", "utf-16-le"):
            if value.encode(encoding) in data:
                found.append("%r (%s)" % (value, encoding))
    if found:
        print("plain configuration values in %s: %s" % (options.program, ", ".join(found)))
        return 1
    print("none of %d values in %s" % (len(options.values), options.program))
    return 0


if __name__ == "__main__":
    sys.exit(main())
