"""qmv's Sentence case (CSNT, `qmv apply to-sentence`) judged by LibreOffice's own: over one table
of texts, the cells qmv writes are the ones LibreOffice Calc gives, except on the rows named as
differences below (each must still differ, and no other row may).

LibreOffice's transliteration module SENTENCE_CASE (com.sun.star.i18n.Transliteration) upper-cases
the first character of the text it is given and lowers the rest: it takes its whole input as one
sentence. Calc's Format > Text > Sentence case hands it one sentence at a time, found by its break
iterator through the cell's edit engine; so the judge is that command itself
(.uno:ChangeCaseToSentenceCase) on a hidden sheet, one cell at a time (a selection of several
cells has brought soffice down).

Usage: sentence_case_libreoffice.py QMV    (run with Debian's python3, which has python3-uno)"""
import csv
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import uuid

import uno
from com.sun.star.beans import PropertyValue

# (name, text): Calc takes each cell in its default language.
ROWS = [
    ("one sentence", "the QUICK brown fox"),
    ("all caps", "HELLO WORLD"),
    ("two sentences", "first one. second one"),
    ("capital after the stop", "FIRST ONE. SECOND ONE! THIRD? yes"),
    ("lower after the stop", "hello. world"),
    ("abbreviation before lower", "see e.g. this one"),
    ("abbreviation before a name", "ask DR. SMITH today"),
    ("line break", "first line\nsecond LINE"),
    ("crlf", "first line\r\nSECOND LINE"),
    ("quotes", '"QUOTED TEXT." Then MORE'),
    ("curly quotes", "\u201cWHO?\u201d SHE ASKED"),
    ("brackets", "(AN ASIDE.) NEXT ONE"),
    ("digits first", "3 APPLES AND 2 PEARS"),
    ("digits after a stop", "IT COSTS 3.50 EUROS. 2 LEFT"),
    ("leading space", "  indented TEXT"),
    ("ellipsis", "WAIT\u2026 THEN GO"),
    ("german", "\u00dcBER DIE BR\u00dcCKE. DANN WEITER"),
    ("french", "\u00c9T\u00c9 \u00c0 PARIS. \u00c7A VA"),
    ("spanish", "\u00bfQU\u00c9 TAL? MUY BIEN"),
    ("russian", "\u041f\u0420\u0418\u0412\u0415\u0422 \u041c\u0418\u0420. \u041a\u0410\u041a "
     "\u0414\u0415\u041b\u0410"),
    ("greek", "\u039a\u0391\u039b\u0397\u039c\u0395\u03a1\u0391 \u039a\u039f\u03a3\u039c\u0395"),
    ("armenian", "\u0532\u0531\u0550\u0535\u0552 \u0541\u0535\u0536"),
    ("japanese", "\u65e5\u672c\u8a9e\u3002ABC DEF"),
    ("empty", ""),
]

# Rows where qmv deliberately differs, with the reason (the README's CSNT row says the same).
SB8 = ("LibreOffice's break rules do not end a sentence at '. ' before a lower-case letter; "
       "qmv does, so text typed in lower case gets its sentences back")
FIRST_CHARACTER = ("LibreOffice upper-cases a sentence's first character, not its first letter: "
                   "after an opening quote, bracket or '\u00bf' the letter stays lower")
EXPECTED_DIFFERENCES = {
    "two sentences": SB8,
    "lower after the stop": SB8,
    "abbreviation before lower": SB8,
    "quotes": FIRST_CHARACTER,
    "curly quotes": FIRST_CHARACTER,
    "brackets": FIRST_CHARACTER,
    "spanish": FIRST_CHARACTER,
    "digits first": "qmv upper-cases the first letter even after a number ('3 Apples'); "
                    "LibreOffice leaves a sentence that starts with a digit alone",
    "digits after a stop": "the same: '. 2 left' gives qmv '2 Left'",
    "ellipsis": "qmv ends a sentence at '\u2026' before a space; LibreOffice's rules do not",
    "japanese": "qmv ends a sentence at '\u3002' only before a space or line break; LibreOffice "
                "ends it there and gives 'ABC Def'",
    "crlf": "Calc keeps a cell's CRLF as LF; qmv leaves line-break bytes as they are",
}

TIMEOUT = 120  # seconds for each wait on soffice or qmv; never an assertion on time


def qmv_sentence(qmv, texts):
    buf = io.StringIO()
    csv.writer(buf, lineterminator="\r\n").writerows([[t] for t in texts])
    ran = subprocess.run([qmv, "apply", "--no-header", "to-sentence"], input=buf.getvalue().encode("utf-8"),
                         capture_output=True, timeout=TIMEOUT)
    if ran.returncode != 0:
        sys.exit(f"qmv apply to-sentence exited {ran.returncode}: {ran.stderr.decode()}")
    out = list(csv.reader(io.StringIO(ran.stdout.decode("utf-8"), newline="")))
    cells = [r[0] if r else "" for r in out]
    if len(cells) < len(texts):  # an empty last record may end with no line
        cells += [""] * (len(texts) - len(cells))
    if len(cells) != len(texts):
        sys.exit(f"qmv wrote {len(cells)} records for {len(texts)}: {ran.stdout!r}")
    return cells


def libreoffice_sentence(ctx, texts):
    smgr = ctx.ServiceManager
    desktop = smgr.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
    hidden = PropertyValue()
    hidden.Name, hidden.Value = "Hidden", True
    doc = desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0, (hidden,))
    try:
        sheet = doc.Sheets.getByIndex(0)
        controller = doc.CurrentController
        dispatcher = smgr.createInstanceWithContext("com.sun.star.frame.DispatchHelper", ctx)
        out = []
        for row, text in enumerate(texts):
            cell = sheet.getCellByPosition(0, row)
            cell.setString(text)
            controller.select(cell)
            dispatcher.executeDispatch(controller.Frame, ".uno:ChangeCaseToSentenceCase", "", 0,
                                       ())
            out.append(cell.getString())
        return out
    finally:
        doc.close(True)


def start_soffice():
    pipe = "qmv_sentence_" + uuid.uuid4().hex
    profile = tempfile.mkdtemp(prefix="qmv-lo-profile-")
    proc = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
         "-env:UserInstallation=file://" + profile, f"--accept=pipe,name={pipe};urp;"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    return proc, pipe, profile


def connect(proc, pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    deadline = time.monotonic() + TIMEOUT
    while True:
        try:
            return resolver.resolve(f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
        except Exception as e:  # NoConnectException until soffice listens
            if proc.poll() is not None or time.monotonic() > deadline:
                sys.exit(f"could not reach soffice: {e}")
            time.sleep(0.5)


def main():
    qmv = sys.argv[1]
    names = [r[0] for r in ROWS]
    unknown = set(EXPECTED_DIFFERENCES) - set(names)
    if unknown:
        sys.exit(f"expected differences name no row: {sorted(unknown)}")
    ours = qmv_sentence(qmv, [r[1] for r in ROWS])
    proc, pipe, profile = start_soffice()
    try:
        ctx = connect(proc, pipe)
        theirs = libreoffice_sentence(ctx, [r[1] for r in ROWS])
    finally:
        # The whole process group: soffice.bin runs under the soffice script.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait(timeout=TIMEOUT)
        shutil.rmtree(profile, ignore_errors=True)
    failures = 0
    for (name, text), q, lo in zip(ROWS, ours, theirs):
        differs = q != lo
        expected = name in EXPECTED_DIFFERENCES
        if differs != expected:
            failures += 1
            what = "unexpected difference" if differs else "expected difference now agrees"
            print(f"FAIL [{name}] {what}: {text!r} -> qmv {q!r}, LibreOffice {lo!r}")
        else:
            print(f"ok   [{name}] qmv {q!r}, LibreOffice {lo!r}")
    print(f"{len(ROWS)} rows, {len(EXPECTED_DIFFERENCES)} expected differences, "
          f"{failures} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
