#!/usr/bin/env python3
"""Prints, from Python's own str and unicodedata, the simple case fold of every assigned code
point: the rule worked out apart from the build's table (made from Debian's CaseFolding.txt,
maybe another Unicode version).

  case_fold_rule.py

The first line is "unicodedata VERSION"; then one line per code point assigned in Python's
database (surrogates left out), in hex: CODEPOINT FOLD. A code point folds to the single
character str.casefold() gives; where that gives several (the full folding, ß -> ss), to the
single character str.lower() gives, folded again when it folds to one; else to itself.
"""
import sys
import unicodedata


def simple_fold(ch):
    folded = ch.casefold()
    if len(folded) == 1:
        return folded
    lower = ch.lower()
    if len(lower) == 1 and lower != ch:
        again = lower.casefold()
        return again if len(again) == 1 else lower
    return ch


def main():
    out = [f"unicodedata {unicodedata.unidata_version}"]
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        ch = chr(cp)
        if unicodedata.category(ch) == "Cn":
            continue
        out.append(f"{cp:X} {ord(simple_fold(ch)):X}")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
