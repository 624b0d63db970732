#!/usr/bin/env python3
"""Writes the Unicode data of the case changes, the emoji removal, the look-alike
repair and the character inspector as C++ tables.

Reads Debian's unicode-data: UnicodeData.txt (simple case mappings, canonical combining
classes, decompositions, names), DerivedNormalizationProps.txt (the characters excluded
from composition) and emoji/emoji-data.txt (the emoji properties).

  gen_unicode_text_data.py UNICODE_DIR OUTPUT.cpp
"""
import os
import sys

# Emoji property bits, as engine/unicode_text_data.hpp names them.
EMOJI_BITS = {"Emoji": 1, "Emoji_Presentation": 2, "Emoji_Modifier": 4,
              "Emoji_Modifier_Base": 8, "Emoji_Component": 16, "Extended_Pictographic": 32}
WIDTH_TAGS = ("<wide>", "<narrow>")


def read_unicode_data(path):
    records = {}
    ranges = []
    pending = None
    with open(path, encoding="utf-8") as data:
        for line in data:
            f = line.rstrip("\n").split(";")
            if len(f) < 15:
                continue
            cp = int(f[0], 16)
            if f[1].endswith(", First>"):
                pending = (cp, f[1][1:-len(", First>")])
                continue
            if f[1].endswith(", Last>"):
                ranges.append((pending[0], cp, pending[1]))
                pending = None
                continue
            records[cp] = f
    return records, ranges


def read_property_file(path, wanted):
    out = {}
    with open(path, encoding="utf-8") as data:
        for line in data:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            codes, prop = [p.strip() for p in line.split(";")[:2]]
            if prop not in wanted:
                continue
            first, _, last = codes.partition("..")
            for cp in range(int(first, 16), int(last or first, 16) + 1):
                out[cp] = out.get(cp, 0) | wanted[prop]
    return out


def table(lines, declaration, rows, per_line=4):
    lines.append(f"{declaration}[{max(len(rows), 1)}] = {{")
    for i in range(0, len(rows), per_line):
        lines.append("    " + ", ".join(rows[i:i + per_line]) + ",")
    if not rows:
        lines.append("    {},")
    lines.append("};")
    lines.append("")


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    directory = sys.argv[1]
    records, name_ranges = read_unicode_data(os.path.join(directory, "UnicodeData.txt"))
    excluded = read_property_file(os.path.join(directory, "DerivedNormalizationProps.txt"),
                                  {"Full_Composition_Exclusion": 1})
    emoji = read_property_file(os.path.join(directory, "emoji", "emoji-data.txt"), EMOJI_BITS)

    def mapping(field):
        return [(cp, int(f[field], 16)) for cp, f in sorted(records.items()) if f[field]]

    upper, lower = mapping(12), mapping(13)
    # The title case of a character without one of its own is its upper case.
    title = [(cp, int(f[14] or f[12], 16)) for cp, f in sorted(records.items()) if f[14] or f[12]]

    ccc = [(cp, int(f[3])) for cp, f in sorted(records.items()) if int(f[3])]

    decomposition = {}
    for cp, f in records.items():
        if f[5]:
            parts = f[5].split()
            tag = parts[0] if parts[0].startswith("<") else ""
            decomposition[cp] = (tag, [int(p, 16) for p in parts[1 if tag else 0:]])

    def full(cp):
        if cp not in decomposition:
            return [cp]
        out = []
        for part in decomposition[cp][1]:
            out.extend(full(part))
        return out

    pool, entries = [], []
    for cp in sorted(decomposition):
        expanded = full(cp)
        entries.append(f"{{0x{cp:X}, {len(pool)}, {len(expanded)}}}")
        pool.extend(expanded)
    width = [(cp, d[1][0]) for cp, d in sorted(decomposition.items()) if d[0] in WIDTH_TAGS]
    compositions = sorted((d[1][0], d[1][1], cp) for cp, d in decomposition.items()
                          if not d[0] and len(d[1]) == 2 and not excluded.get(cp))

    emoji_ranges = []
    for cp in sorted(emoji):
        if emoji_ranges and emoji_ranges[-1][1] == cp - 1 and emoji_ranges[-1][2] == emoji[cp]:
            emoji_ranges[-1][1] = cp
        else:
            emoji_ranges.append([cp, cp, emoji[cp]])

    # The names: a dictionary of words, and per character the indices of its words.
    words, word_index, name_rows, name_words = [], {}, [], []
    for cp, f in sorted(records.items()):
        name = f[1]
        if name.startswith("<"):
            name = f[10]  # a control's Unicode 1 name
            if not name:
                continue
        parts = name.split(" ")
        name_rows.append(f"{{0x{cp:X}, {len(name_words)}}}")
        for w in parts:
            if w not in word_index:
                word_index[w] = len(words)
                words.append(w)
            name_words.append(str(word_index[w]))
    if len(words) >= 65536 or len(name_words) >= 1 << 24:
        raise SystemExit("the names outgrow their tables")
    # A range's characters are named by their code point (the ideographs), by their jamo
    # (the Hangul syllables: hangul = true) or by the range's label.
    ranges = []
    for a, b, n in name_ranges:
        label, numbered, hangul = n.upper(), "false", "false"
        if "IDEOGRAPH" in label:
            label = ("CJK UNIFIED IDEOGRAPH-" if label.startswith("CJK") else
                     label.split(" IDEOGRAPH")[0] + " IDEOGRAPH-")
            numbered = "true"
        elif label == "HANGUL SYLLABLE":
            label, hangul = "HANGUL SYLLABLE ", "true"
        ranges.append(f'{{0x{a:X}, 0x{b:X}, "{label}", {numbered}, {hangul}}}')
    jamo = {}
    with open(os.path.join(directory, "Jamo.txt"), encoding="utf-8") as data:
        for line in data:
            line = line.split("#", 1)[0].strip()
            if line:
                code, short = [p.strip() for p in line.split(";")]
                jamo[int(code, 16)] = short
    leads = [jamo[0x1100 + i] for i in range(19)]
    vowels = [jamo[0x1161 + i] for i in range(21)]
    tails = [""] + [jamo[0x11A8 + i] for i in range(27)]

    lines = ["// Generated by scripts/gen_unicode_text_data.py from " + directory + ".",
             "// Do not edit; rebuild instead.", '#include "engine/unicode_text_data.hpp"', "",
             "namespace qmv::unicode_data {", "namespace {", ""]
    pair = lambda a, b: f"{{0x{a:X}, 0x{b:X}}}"
    table(lines, "const CodeMapping kUpper", [pair(a, b) for a, b in upper])
    table(lines, "const CodeMapping kLower", [pair(a, b) for a, b in lower])
    table(lines, "const CodeMapping kTitle", [pair(a, b) for a, b in title])
    table(lines, "const CodeMapping kWidth", [pair(a, b) for a, b in width])
    table(lines, "const CombiningClass kCombining", [f"{{0x{a:X}, {b}}}" for a, b in ccc])
    table(lines, "const DecompositionEntry kDecompositions", entries)
    table(lines, "const char32_t kDecompositionPool", [f"0x{c:X}" for c in pool], 8)
    table(lines, "const Composition kCompositions",
          [f"{{0x{a:X}, 0x{b:X}, 0x{c:X}}}" for a, b, c in compositions], 3)
    table(lines, "const EmojiRange kEmojiTable", [f"{{0x{a:X}, 0x{b:X}, {c}}}" for a, b, c in emoji_ranges])
    table(lines, "const char* const kWords", [f'"{w}"' for w in words], 6)
    table(lines, "const uint16_t kNameWords", name_words, 12)
    table(lines, "const NameEntry kNames", name_rows, 4)
    table(lines, "const NamedRange kNamedRanges", ranges, 2)
    table(lines, "const char* const kJamoLeads", [f'"{j}"' for j in leads], 10)
    table(lines, "const char* const kJamoVowels", [f'"{j}"' for j in vowels], 10)
    table(lines, "const char* const kJamoTails", [f'"{j}"' for j in tails], 10)
    lines.append("}  // namespace")
    lines.append("")
    for fn, name in [("upperMappings", "kUpper"), ("lowerMappings", "kLower"),
                     ("titleMappings", "kTitle"), ("widthMappings", "kWidth")]:
        lines.append(f"std::span<const CodeMapping> {fn}() {{ return {name}; }}")
    lines.append("std::span<const CombiningClass> combiningClasses() { return kCombining; }")
    lines.append("std::span<const DecompositionEntry> decompositions() { return kDecompositions; }")
    lines.append("std::span<const char32_t> decompositionPool() { return kDecompositionPool; }")
    lines.append("std::span<const Composition> compositions() { return kCompositions; }")
    lines.append("std::span<const EmojiRange> emojiRanges() { return kEmojiTable; }")
    lines.append("std::span<const char* const> nameWords() { return kWords; }")
    lines.append("std::span<const uint16_t> nameWordIndices() { return kNameWords; }")
    lines.append("std::span<const NameEntry> names() { return kNames; }")
    lines.append("std::span<const NamedRange> namedRanges() { return kNamedRanges; }")
    lines.append("std::span<const char* const> jamoLeads() { return kJamoLeads; }")
    lines.append("std::span<const char* const> jamoVowels() { return kJamoVowels; }")
    lines.append("std::span<const char* const> jamoTails() { return kJamoTails; }")
    lines.append("")
    lines.append("}  // namespace qmv::unicode_data")
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
