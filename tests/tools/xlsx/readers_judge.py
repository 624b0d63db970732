#!/usr/bin/python3
"""Real readers as judges of rewritten workbooks.

Builds workbooks with xlsxwriter and openpyxl, and has LibreOffice and Gnumeric write
copies of them, with the workbooks other readers open that qmv once refused (zip headers
whose time stamps differ, as .NET writes them; a time alone in an ISO cell; a shared-string
cell with an empty value; a chart sheet active) and a workbook with a SUM over cells that
change, as LibreOffice saves it; rewrites cells of each; then has LibreOffice (soffice --headless
--convert-to, one call for every file) and Gnumeric (ssconvert) read every input and output
back, and compares each cell's value, type and number format as each reader saw it, except
the cells the rewrite changed.

The rewrite is xlsx_rewrite, which gives named cells new texts through the library, or
with --qmv the shipped tool itself: `qmv apply` runs removals over every cell of the sheet,
and its dry run's listing says which cells it changes (each must not read empty when its
new text is not). --every-cell rewrites every constant cell as well (with --qmv: qmv's
output is rewritten so), as a writer that stores more than the removal changed does.

Usage: readers_judge.py XLSX_REWRITE [--qmv QMV] [--every-cell] [--expect-differences]
Exits 0 when every untouched cell reads the same (with --expect-differences: when some do
not), 1 on differences, 2 when a tool fails.
"""
import datetime
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl
import warnings
import xlsxwriter

warnings.simplefilter("ignore")

# The cells to change, with their new texts, as a removal would give them; an empty text
# clears the cell.
CHANGES = {"A2": "Ann", "B3": "x", "A4": "2"}
# A formula filled down as Excel stores it (once, in its first cell), whose first cell goes.
SHARED_CHANGES = {"A2": ""}
# The runs of `qmv apply` on each workbook, over the whole sheet; on the filled-down formula,
# a value removal clears its first two cells (their results repeat).
QMV_RUNS = [["trim"], ["digits"], ["letters,squeeze"]]
SHARED_QMV_RUNS = [["RADP", "-c", "A"]]
LISTED = re.compile(r'^([A-Z]+[0-9]+): "(.*)" -> "(.*)"$')


def build_xlsxwriter(path):
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Data")
    text = wb.add_format({"num_format": "@"})
    ws.write_string("A1", "Name")
    ws.write_string("A2", "Ann ")
    ws.write_string("B2", "02134", text)
    ws.write_string("C2", "4111111111111111", text)
    ws.write_string("D2", "1/2")
    ws.write_number("E2", 1.5, wb.add_format({"num_format": "[h]:mm"}))
    ws.write_number("F2", 0.5 + 0.123 / 86400, wb.add_format({"num_format": "hh:mm:ss.000"}))
    ws.write_number("G2", 9007199254740994)
    ws.write_number("H2", 1 / 3)
    ws.write_string("I2", "TRUE")
    ws.write_string("J2", "")
    ws.write_string("B3", "x1")
    ws.write_string("A4", "a2")
    ws.write_datetime("B4", datetime.datetime(2024, 3, 15), wb.add_format({"num_format": "yyyy-mm-dd"}))
    ws.write_boolean("C4", True)
    ws.write_formula("D4", "=G2*2", None, 18014398509481988)
    wb.close()


def build_openpyxl(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Data"
    ws["A1"] = "Code"
    ws["A2"] = "Ann  "
    ws["B2"] = "007"
    ws["B2"].number_format = "@"
    ws["C2"] = 0.1 + 0.2
    ws["D2"] = datetime.datetime(2007, 1, 2, 15, 4, 5)
    ws["E2"] = 0.25
    ws["E2"].number_format = "0%"
    ws["B3"] = "1x"
    ws["A4"] = "b2"
    ws["B4"] = "=C2*10"
    wb.save(path)


def build_shared(path):
    plain = path + ".plain.xlsx"
    wb = xlsxwriter.Workbook(plain)
    ws = wb.add_worksheet("Data")
    for r in range(2, 7):
        ws.write_number("B%d" % r, max(r, 3))  # A2 and A3 give the same result
        ws.write_formula("A%d" % r, "=B%d*2" % r, None, max(r, 3) * 2)
    wb.close()
    with zipfile.ZipFile(plain) as z:
        parts = [[n, z.read(n)] for n in z.namelist()]
    for part in parts:
        if part[0] == "xl/worksheets/sheet1.xml":
            xml = part[1].replace(b"<f>B2*2</f>", b'<f t="shared" ref="A2:A6" si="0">B2*2</f>')
            part[1] = re.sub(rb"<f>B[3-6]\*2</f>", b'<f t="shared" si="0"/>', xml)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(name, data)
    os.remove(plain)


def data_sheet(ws):
    ws.title = "Data"
    ws["A1"] = "Amount"
    ws["A2"] = "Ann  "
    ws["B2"] = 1200.5
    ws["B3"] = "x1"
    ws["A4"] = "c3"
    ws["B4"] = 300.25


def build_formulas(path, profile, work):
    """A SUM over cells the runs change, with its result as LibreOffice saves it."""
    wb = openpyxl.Workbook()
    data_sheet(wb.active)
    wb.active["C4"] = "=SUM(B2:B4)"
    source = os.path.join(work, "formulas.xlsx")
    wb.save(source)
    run(["soffice", profile, "--headless", "--convert-to", "xlsx:Calc MS Excel 2007 XML",
         "--outdir", os.path.dirname(path), source])


def build_dotnet_times(path):
    """Local headers whose time differs from the central directory's, as .NET writes them."""
    wb = openpyxl.Workbook()
    data_sheet(wb.active)
    wb.save(path)
    data = bytearray(open(path, "rb").read())
    at = data.find(b"PK\x03\x04")
    while at >= 0:
        data[at + 10:at + 12] = b"\x34\x12"
        at = data.find(b"PK\x03\x04", at + 4)
    open(path, "wb").write(data)


def build_readable(path):
    """A time alone in an ISO cell, a shared-string cell with an empty value, a chart sheet
    active."""
    from openpyxl.chart import BarChart, Reference
    wb = openpyxl.Workbook(iso_dates=True)
    ws = wb.active
    data_sheet(ws)
    ws["C2"] = datetime.time(15, 4, 5)
    ws["C3"] = "gone"
    chart = BarChart()
    chart.add_data(Reference(ws, min_col=2, min_row=2, max_row=4))
    wb.create_chartsheet("Chart").add_chart(chart)
    wb.active = 1
    wb.save(path)
    with zipfile.ZipFile(path) as z:
        parts = [[n, z.read(n)] for n in z.namelist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            if name == "xl/worksheets/sheet1.xml":
                data = data.replace(b'<c r="C3" t="inlineStr"><is><t>gone</t></is></c>',
                                    b'<c r="C3" t="s"><v/></c>')
            z.writestr(name, data)


def changes_of(book):
    return SHARED_CHANGES if book == "shared.xlsx" else CHANGES


def run(command, **kwargs):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if done.returncode != 0:
        sys.stderr.write("readers_judge: %s failed:\n%s%s" % (
            " ".join(command), done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")))
        sys.exit(2)
    return done.stdout.decode()


def rewrite_jobs(rewrite, every_cell, inputs, outputs, book):
    """xlsx_rewrite: one output, the named cells changed. [(output, {ref: new text})]"""
    output = os.path.join(outputs, book)
    command = [rewrite, os.path.join(inputs, book), output]
    if every_cell:
        command.append("--every-cell")
    run(command + ["%s=%s" % item for item in changes_of(book).items()])
    return [(output, changes_of(book))]


def qmv_jobs(qmv, rewrite, every_cell, inputs, outputs, book):
    """qmv apply: one output a run, the cells its dry run lists changed."""
    jobs = []
    runs = SHARED_QMV_RUNS if book == "shared.xlsx" else QMV_RUNS
    for k, removal in enumerate(runs):
        source = os.path.join(inputs, book)
        output = os.path.join(outputs, "%s-%d.xlsx" % (book[:-5], k))
        command = [qmv, "apply"] + removal[:1] + [source, "--sheet", "Data", "--no-header"] + removal[1:]
        listing = run(command + ["--dry-run", "--limit", "100000"])
        changed = {}
        for line in listing.splitlines():
            match = LISTED.match(line)
            if match:
                changed[match.group(1)] = match.group(3)
        if not changed:
            sys.stderr.write("readers_judge: %s changes nothing, so judges nothing\n" % " ".join(command))
            sys.exit(2)
        run(command + ["-q", "-o", output])
        if every_cell:
            run([rewrite, output, output + ".every.xlsx", "--every-cell"])
            os.replace(output + ".every.xlsx", output)
        jobs.append((output, changed))
    return jobs


def cells(path):
    """Every cell with a value: (value as text, openpyxl's type, number format)."""
    out = {}
    for ws in openpyxl.load_workbook(path).worksheets:
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                out["%s!%s" % (ws.title, c.coordinate)] = (repr(c.value), c.data_type, c.number_format)
    return out


def main():
    rewrite = sys.argv[1]
    qmv = sys.argv[sys.argv.index("--qmv") + 1] if "--qmv" in sys.argv else None
    every_cell = "--every-cell" in sys.argv
    expect_differences = "--expect-differences" in sys.argv
    work = tempfile.mkdtemp(prefix="qmv_judge_")
    try:
        sources = os.path.join(work, "sources")
        inputs = os.path.join(work, "in")
        outputs = os.path.join(work, "out")
        for folder in (sources, inputs, outputs):
            os.mkdir(folder)
        build_xlsxwriter(os.path.join(inputs, "xlsxwriter.xlsx"))
        build_openpyxl(os.path.join(inputs, "openpyxl.xlsx"))
        build_shared(os.path.join(inputs, "shared.xlsx"))
        profile = "-env:UserInstallation=file://" + os.path.join(work, "profile")
        build_formulas(os.path.join(inputs, "formulas.xlsx"), profile, sources)
        build_dotnet_times(os.path.join(inputs, "dotnet-times.xlsx"))
        build_readable(os.path.join(inputs, "readable.xlsx"))
        # LibreOffice's and Gnumeric's own workbooks, from the xlsxwriter one.
        shutil.copy(os.path.join(inputs, "xlsxwriter.xlsx"), os.path.join(sources, "libreoffice.xlsx"))
        run(["soffice", profile, "--headless", "--convert-to", "xlsx:Calc MS Excel 2007 XML",
             "--outdir", inputs, os.path.join(sources, "libreoffice.xlsx")])
        run(["ssconvert", "--export-type=Gnumeric_Excel:xlsx2",
             os.path.join(inputs, "xlsxwriter.xlsx"), os.path.join(inputs, "gnumeric.xlsx")])

        books = sorted(os.path.basename(p) for p in glob.glob(os.path.join(inputs, "*.xlsx")))
        jobs = {}  # book: [(output, {ref: new text})]
        for book in books:
            if qmv:
                jobs[book] = qmv_jobs(qmv, rewrite, every_cell, inputs, outputs, book)
            else:
                jobs[book] = rewrite_jobs(rewrite, every_cell, inputs, outputs, book)

        # The readers: LibreOffice in one call for every file of a side, Gnumeric file by file.
        read = {}
        sides = (("in", [os.path.join(inputs, b) for b in books]),
                 ("out", [output for book in books for output, _ in jobs[book]]))
        for side, files in sides:
            lo = os.path.join(work, "lo-" + side)
            run(["soffice", profile, "--headless", "--convert-to", "xlsx:Calc MS Excel 2007 XML",
                 "--outdir", lo] + files)
            for path in files:
                name = os.path.basename(path)
                gn = os.path.join(work, "gnumeric-%s-%s" % (side, name))
                run(["ssconvert", "--export-type=Gnumeric_Excel:xlsx2", path, gn])
                read[("LibreOffice", path)] = cells(os.path.join(lo, name))
                read[("Gnumeric", path)] = cells(gn)

        differences = 0
        outputs_judged = 0
        for reader in ("LibreOffice", "Gnumeric"):
            for book in books:
                before = read[(reader, os.path.join(inputs, book))]
                for output, changes in jobs[book]:
                    outputs_judged += 1
                    after = read[(reader, output)]
                    label = os.path.basename(output)
                    changed = {"Data!" + ref for ref in changes}
                    for key in sorted(set(before) | set(after)):
                        if key in changed:
                            continue
                        if before.get(key) != after.get(key):
                            differences += 1
                            print("%s, %s, %s: %r became %r" % (reader, label, key, before.get(key), after.get(key)))
                    for key in sorted(changed):
                        if changes[key.split("!")[1]] and key not in after:
                            differences += 1
                            print("%s, %s, %s: the changed cell reads empty" % (reader, label, key))
        print("%d workbooks, %d outputs judged by 2 readers, %d differences" % (
            len(books), outputs_judged // 2, differences))
        if expect_differences:
            return 0 if differences > 0 else 1
        return 1 if differences else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
