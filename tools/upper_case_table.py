#!/usr/bin/env python3
"""Prints updater/upper_case_table.cc: the simple upper-case mapping of the
Basic Multilingual Plane, as ranges, from the Unicode data of the Python
that runs it.

Windows' file systems compare names by upper-casing each UTF-16 unit
through a table of this kind, so characters beyond the Basic Multilingual
Plane are never folded there. Python gives the full mappings: where the
full upper-case form is more than one character, the simple mapping is the
title-case form when that is one character (Greek letters with a
subscript iota), and otherwise the character keeps its case (the German
sharp s), as in Unicode's own data.

Usage: tools/upper_case_table.py > updater/upper_case_table.cc
"""

import unicodedata

BMP_END = 0x10000
SURROGATES = range(0xD800, 0xE000)


def simple_upper_mapping():
    mapping = {}
    for code in range(BMP_END):
        if code in SURROGATES:
            continue
        upper = chr(code).upper()
        if len(upper) != 1:
            upper = chr(code).title()
        if len(upper) == 1 and ord(upper) != code and ord(upper) < BMP_END:
            mapping[code] = ord(upper)
    return mapping


def ranges_of(mapping):
    """Runs of characters that move by one distance: every character of a
    range (step 1), or every other one (step 2, where lower and upper case
    alternate)."""
    items = sorted(mapping.items())
    ranges = []
    i = 0
    while i < len(items):
        first, upper = items[i]
        delta = upper - first
        best_end, best_step = i, 1
        for step in (1, 2):
            end = i
            while (end + 1 < len(items) and items[end + 1][0] == items[end][0] + step
                   and items[end + 1][1] - items[end + 1][0] == delta):
                end += 1
            if end > best_end:
                best_end, best_step = end, step
        ranges.append((first, items[best_end][0], best_step, delta))
        i = best_end + 1
    for before, after in zip(ranges, ranges[1:]):
        assert before[1] < after[0], "ranges overlap"
    return ranges


def main():
    ranges = ranges_of(simple_upper_mapping())
    print("// The simple upper-case mapping of the Basic Multilingual Plane (Unicode %s),"
          % unicodedata.unidata_version)
    print("// printed by tools/upper_case_table.py.")
    print('#include "updater/upper_case_table.h"')
    print()
    print("const ovu_case_range OVU_UPPER_CASE_RANGES[] = {")
    for first, last, step, delta in ranges:
        print("    {0x%04X, 0x%04X, %d, %d}," % (first, last, step, delta))
    print("};")
    print()
    print("const size_t OVU_UPPER_CASE_RANGE_COUNT = sizeof(OVU_UPPER_CASE_RANGES) / sizeof(OVU_UPPER_CASE_RANGES[0]);")


if __name__ == "__main__":
    main()
