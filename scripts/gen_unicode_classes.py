#!/usr/bin/env python3
"""Writes the character classes of the Unicode text rules as C++ range tables.

Reads UnicodeData.txt and Scripts.txt (Debian's unicode-data) and writes one .cpp with,
per class, the sorted ranges of code points, the digest of the whole classification (every
code point's class bits), which the compiled lookup must reproduce on every platform, and,
for the removal of accents, the letters of the scripts whose marks are accents and the base
letter of each of their characters whose full canonical decomposition is such a letter
followed by combining marks (e acute -> e).

  gen_unicode_classes.py UnicodeData.txt Scripts.txt OUTPUT.cpp
"""
import sys

MAX_CODE_POINT = 0x10FFFF

# Class bits, in the order of the C++ enum CharClass.
SPACE, NON_PRINTABLE, LETTER, UPPER, LOWER, MARK, DIGIT, SYMBOL = 1, 2, 4, 8, 16, 32, 64, 128
CLASS_NAMES = [(SPACE, "Space"), (NON_PRINTABLE, "NonPrintable"), (LETTER, "Letter"),
               (UPPER, "Upper"), (LOWER, "Lower"), (MARK, "Mark"), (DIGIT, "Digit"),
               (SYMBOL, "PunctuationOrSymbol")]

# Invisible format characters that break or join words without showing: counted as
# non-printable besides the controls. Named, so a renamed or missing one stops the build.
INVISIBLE_NAMES = ["ZERO WIDTH SPACE", "ZERO WIDTH NON-JOINER", "ZERO WIDTH JOINER",
                   "WORD JOINER", "ZERO WIDTH NO-BREAK SPACE"]
# The control that text treats as a space besides the space separators (Unicode 1 name).
TAB_NAME = "CHARACTER TABULATION"

# The scripts whose combining marks are accents: those whose letters come in case pairs
# (Lu and Ll). They are alphabets (Cherokee, a syllabary, has no marks of its own), whose
# vowels are letters, so a mark on a letter changes how it sounds or stresses it. In every
# other script a mark is part of the spelling: Indic and South-East Asian vowel signs and
# viramas, Thai tone marks, Japanese voicing marks, Arabic and Hebrew vowel points. Named,
# so that a new Unicode version with another cased script stops the build until someone
# decides (and the README's list says the same).
ACCENTED_SCRIPTS = ["Adlam", "Armenian", "Cherokee", "Coptic", "Cyrillic", "Deseret",
                    "Georgian", "Glagolitic", "Greek", "Latin", "Medefaidrin", "Old_Hungarian",
                    "Osage", "Vithkuqi", "Warang_Citi"]


def read_records(path):
    """(first, last, name, category, unicode1 name, decomposition) per record; First/Last
    pairs merged."""
    records = []
    pending = None
    with open(path, encoding="utf-8") as data:
        for line in data:
            fields = line.rstrip("\n").split(";")
            if len(fields) < 15:
                continue
            code = int(fields[0], 16)
            name, category, old_name, decomposition = fields[1], fields[2], fields[10], fields[5]
            if name.endswith(", First>"):
                pending = code
                continue
            first = code
            if name.endswith(", Last>"):
                if pending is None:
                    raise SystemExit(f"range end without start at {fields[0]}")
                first, pending = pending, None
            records.append((first, code, name, category, old_name, decomposition))
    return records


def classify(records):
    """Class bits per code point, as a dict of the code points that have any."""
    bits = {}
    found = set()

    def mark(first, last, bit):
        for cp in range(first, last + 1):
            bits[cp] = bits.get(cp, 0) | bit

    for first, last, name, category, old_name, _ in records:
        if category == "Zs":
            mark(first, last, SPACE)
        if category == "Cc":
            mark(first, last, NON_PRINTABLE)
        if name in INVISIBLE_NAMES:
            mark(first, last, NON_PRINTABLE)
            found.add(name)
        if category == "Cc" and old_name == TAB_NAME:
            mark(first, last, SPACE)
            found.add(TAB_NAME)
        if category.startswith("L"):
            mark(first, last, LETTER)
        if category == "Lu":
            mark(first, last, UPPER)
        if category == "Ll":
            mark(first, last, LOWER)
        if category.startswith("M"):
            mark(first, last, MARK)
        if category == "Nd":
            mark(first, last, DIGIT)
        if category[0] in "PS":
            mark(first, last, SYMBOL)
    missing = set(INVISIBLE_NAMES + [TAB_NAME]) - found
    if missing:
        raise SystemExit(f"not in the character data: {sorted(missing)}")
    return bits


def read_scripts(path):
    """The script of each code point Scripts.txt names."""
    script = {}
    with open(path, encoding="utf-8") as data:
        for line in data:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            codes, name = (part.strip() for part in line.split(";"))
            first, _, last = codes.partition("..")
            for cp in range(int(first, 16), int(last or first, 16) + 1):
                script[cp] = name
    return script


def accented_letters(records, script):
    """The letters (L*) of ACCENTED_SCRIPTS, as a set; stops when the list is not the set of
    scripts (other than Common) whose letters come in case pairs."""
    cased = {}
    letters = set()
    for first, last, _, category, _, _ in records:
        for cp in range(first, last + 1):
            name = script.get(cp, "Unknown")
            if category in ("Lu", "Ll"):
                cased.setdefault(name, set()).add(category)
            if category.startswith("L") and name in ACCENTED_SCRIPTS:
                letters.add(cp)
    found = {name for name, cases in cased.items() if len(cases) == 2 and name != "Common"}
    if found != set(ACCENTED_SCRIPTS):
        raise SystemExit("the scripts with case pairs are not ACCENTED_SCRIPTS: "
                         f"new {sorted(found - set(ACCENTED_SCRIPTS))}, "
                         f"gone {sorted(set(ACCENTED_SCRIPTS) - found)}")
    return letters


def accent_bases(records, letters):
    """(code point, base) for every character whose full canonical decomposition is a
    letter of `letters` followed by combining marks (M*) only: the letter. A symbol with a
    mark in it (NOT EQUAL TO is = and a stroke) is no accented letter and stays whole, and
    so does a letter of a script whose marks are spelling (GA is KA and a voicing mark)."""
    category = {}
    canonical = {}
    for first, last, _, cat, _, decomposition in records:
        for cp in range(first, last + 1):
            category[cp] = cat
        # A tagged decomposition (<compat>, <font> ...) is not canonical.
        if decomposition and not decomposition.startswith("<"):
            canonical[first] = [int(part, 16) for part in decomposition.split()]

    def full(cp):
        if cp not in canonical:
            return [cp]
        return [part for step in canonical[cp] for part in full(step)]

    out = []
    for cp in sorted(canonical):
        base, *marks = full(cp)
        if not marks:
            continue  # a singleton such as OHM SIGN stays
        if base not in letters:
            continue  # a symbol, a mark or a letter whose marks are spelling keeps them
        if all(category.get(m, "").startswith("M") for m in marks):
            out.append((cp, base))
    return out


def ranges_of(bits, bit):
    return ranges_of_set(c for c, b in bits.items() if b & bit)


def ranges_of_set(codes):
    out = []
    for cp in sorted(codes):
        if out and out[-1][1] == cp - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp])
    return out


def digest(bits):
    """FNV-1a (32 bits) over the class bits of every code point, one byte each."""
    h = 0x811C9DC5
    for cp in range(MAX_CODE_POINT + 1):
        h ^= bits.get(cp, 0)
        h = (h * 0x01000193) & 0xFFFFFFFF
    return h


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    records = read_records(sys.argv[1])
    bits = classify(records)
    letters = accented_letters(records, read_scripts(sys.argv[2]))
    lines = ["// Generated by scripts/gen_unicode_classes.py from " + sys.argv[1] + " and " +
             sys.argv[2] + ".",
             "// Do not edit; rebuild instead.",
             '#include "engine/unicode_classes.hpp"', "", "namespace qmv::unicode_data {", ""]
    for bit, name in CLASS_NAMES:
        ranges = ranges_of(bits, bit)
        lines.append(f"const CodeRange k{name}[{len(ranges)}] = {{")
        for i in range(0, len(ranges), 4):
            row = ", ".join(f"{{0x{a:X}, 0x{b:X}}}" for a, b in ranges[i:i + 4])
            lines.append(f"    {row},")
        lines.append("};")
        lines.append("")
    lines.append("std::span<const CodeRange> ranges(CharClass c) {")
    lines.append("  switch (c) {")
    for bit, name in CLASS_NAMES:
        lines.append(f"    case CharClass::{name}:")
        lines.append(f"      return k{name};")
    lines.append("  }")
    lines.append("  return {};")
    lines.append("}")
    lines.append("")
    lines.append(f"const uint32_t kDigest = 0x{digest(bits):08X}u;")
    lines.append("")
    accented = ranges_of_set(letters)
    lines.append(f"const CodeRange kAccentedLetters[{len(accented)}] = {{")
    for i in range(0, len(accented), 4):
        row = ", ".join(f"{{0x{a:X}, 0x{b:X}}}" for a, b in accented[i:i + 4])
        lines.append(f"    {row},")
    lines.append("};")
    lines.append("")
    lines.append("std::span<const CodeRange> accentedLetters() { return kAccentedLetters; }")
    lines.append("")
    bases = accent_bases(records, letters)
    lines.append(f"const AccentBase kAccentBases[{len(bases)}] = {{")
    for i in range(0, len(bases), 4):
        row = ", ".join(f"{{0x{a:X}, 0x{b:X}}}" for a, b in bases[i:i + 4])
        lines.append(f"    {row},")
    lines.append("};")
    lines.append("")
    lines.append("std::span<const AccentBase> accentBases() { return kAccentBases; }")
    lines.append("")
    lines.append("}  // namespace qmv::unicode_data")
    with open(sys.argv[3], "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
