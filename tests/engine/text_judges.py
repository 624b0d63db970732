#!/usr/bin/env python3
"""Prints what Python's unicodedata and codecs, Unicode's own test files and Debian's word
lists say the case changes, the emoji removal, the look-alike repair and the repair of
broken encodings give: one line per case, JUDGE<TAB>INPUT<TAB>EXPECTED, in UTF-8 with
every character written as its code point in hex (space-separated), so controls and lone
characters travel safely.

  text_judges.py UNICODE_DIR DICT_DIR
"""
import bz2
import codecs
import os
import sys
import unicodedata

unicode_dir, dict_dir = sys.argv[1], sys.argv[2]
out = sys.stdout


def h(text):
    return " ".join(f"{ord(c):X}" for c in text)


def emit(judge, given, expected):
    out.write(f"{judge}\t{h(given)}\t{h(expected)}\n")


def assigned():
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        c = chr(cp)
        if unicodedata.category(c) != "Cn":
            yield c


print("unicodedata", unicodedata.unidata_version)
for c in assigned():
    if len(c.upper()) == 1:
        emit("upper", c, c.upper())
    if len(c.lower()) == 1:
        emit("lower", c, c.lower())
    emit("nfkc", c, unicodedata.normalize("NFKC", c))
    decomposition = unicodedata.decomposition(c).split()
    width = decomposition and decomposition[0] in ("<wide>", "<narrow>")
    emit("widths", c, chr(int(decomposition[1], 16)) if width else c)
    if unicodedata.name(c, ""):
        emit("name", c, unicodedata.name(c))

# Unicode's conformance test: column 4 is the NFKC of every column.
with bz2.open(os.path.join(unicode_dir, "NormalizationTest.txt.bz2"), "rt", encoding="utf-8") as f:
    for line in f:
        line = line.split("#", 1)[0].strip()
        if not line or line.startswith("@"):
            continue
        columns = ["".join(chr(int(x, 16)) for x in col.split()) for col in line.split(";")[:5]]
        for given in columns:
            emit("nfkc-conformance", given, columns[3])

# Every fully-qualified, minimally-qualified and component sequence goes, the text stays.
with open(os.path.join(unicode_dir, "emoji", "emoji-test.txt"), encoding="utf-8") as f:
    for line in f:
        code, _, rest = line.partition(";")
        status = rest.split("#", 1)[0].strip()
        if status not in ("fully-qualified", "minimally-qualified", "component"):
            continue
        sequence = "".join(chr(int(x, 16)) for x in code.split())
        emit("emoji", "a" + sequence + " 1#" + sequence + sequence + "\u00a9", "a 1#\u00a9")

# Windows reads the five bytes Windows-1252 leaves unused as the C1 controls.
codecs.register_error("c1", lambda e: (chr(e.object[e.start]), e.start + 1))


def read_1252(data):
    return data.decode("cp1252", errors="c1")


def read_latin1(data):
    return data.decode("latin-1")


for name in ("french", "ngerman", "spanish", "portuguese", "italian"):
    with open(os.path.join(dict_dir, name), encoding="utf-8") as f:
        for word in f:
            word = word.rstrip("\n")
            emit("clean-" + name, word, word)
            if all(ord(c) < 0x80 for c in word):
                continue
            once = read_1252(word.encode("utf-8"))
            emit("mojibake-" + name, once, word)
            emit("mojibake-" + name, read_1252(once.encode("utf-8")), word)
            emit("mojibake-" + name, read_latin1(word.encode("utf-8")), word)
