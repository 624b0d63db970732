#!/usr/bin/env python3
"""Prints, from Python's own Unicode database, what the removal of accents does to each code
point: the rule worked out apart from the build's tables (which come from Debian's
unicode-data, maybe another Unicode version).

  accent_rule.py UnicodeData.txt Scripts.txt

The first line is "unicodedata VERSION"; then one line per code point assigned both in
Python's database and in the given UnicodeData.txt (surrogates left out), in hex:

  CODEPOINT KIND BASE SCRIPT

KIND is "M" for a combining mark (category M*), "A" for a letter (L*) of a script whose
marks are accents (ACCENTED, the README's list), "L" for any other letter, "-" otherwise;
SCRIPT is its script in Scripts.txt. BASE is the letter the code point becomes, "-" when it
stays: a character becomes a letter when its canonical decomposition (NFD) is that letter,
of a script whose marks are accents, followed by one or more marks, nothing else.
"""
import sys
import unicodedata

# The scripts whose marks are accents, as the README lists them.
ACCENTED = {"Latin", "Greek", "Cyrillic", "Armenian", "Georgian", "Coptic", "Glagolitic",
            "Adlam", "Cherokee", "Deseret", "Osage", "Medefaidrin", "Old_Hungarian", "Vithkuqi",
            "Warang_Citi"}


def assigned_in(path):
    """The code points UnicodeData.txt assigns, First/Last ranges expanded."""
    assigned = set()
    first = None
    with open(path, encoding="utf-8") as data:
        for line in data:
            fields = line.split(";")
            if len(fields) < 3:
                continue
            code, name = int(fields[0], 16), fields[1]
            if name.endswith(", First>"):
                first = code
            elif name.endswith(", Last>"):
                assigned.update(range(first, code + 1))
            else:
                assigned.add(code)
    return assigned


def scripts_in(path):
    """The script of each code point Scripts.txt names."""
    script = {}
    with open(path, encoding="utf-8") as data:
        for line in data:
            line = line.split("#", 1)[0].strip()
            if line:
                codes, name = (part.strip() for part in line.split(";"))
                first, _, last = codes.partition("..")
                for cp in range(int(first, 16), int(last or first, 16) + 1):
                    script[cp] = name
    return script


def base_letter(ch, script):
    nfd = unicodedata.normalize("NFD", ch)
    if len(nfd) < 2 or not unicodedata.category(nfd[0]).startswith("L"):
        return None
    if script.get(ord(nfd[0])) not in ACCENTED:
        return None
    if all(unicodedata.category(m).startswith("M") for m in nfd[1:]):
        return nfd[0]
    return None


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    debian = assigned_in(sys.argv[1])
    script = scripts_in(sys.argv[2])
    out = [f"unicodedata {unicodedata.unidata_version}"]
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF or cp not in debian:
            continue
        ch = chr(cp)
        category = unicodedata.category(ch)
        if category == "Cn":
            continue  # not assigned in Python's version
        base = base_letter(ch, script)
        name = script.get(cp, "Unknown")
        if category.startswith("M"):
            kind = "M"
        elif category.startswith("L"):
            kind = "A" if name in ACCENTED else "L"
        else:
            kind = "-"
        out.append(f"{cp:X} {kind} {f'{ord(base):X}' if base else '-'} {name}")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
