#!/usr/bin/env bash
# Times `qmv apply RNUM` on a 1,000,000-row one-column workbook against Debian's
# python3-openpyxl doing the same load-transform-save, and reports qmv's peak memory next
# to the size of the unpacked sheet XML (qmv streams the sheet, so it stays below it).
# The workbook is laid out as Excel writes one: shared strings, one sheet. Both results are
# read back by openpyxl and must hold the same cell values.
#
# Usage: bench/xlsx_vs_openpyxl.sh [path/to/qmv] [rows]
# The default qmv is build/tools/qmv/qmv (build it with the default preset first).
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
rows=${2:-1000000}
python=/usr/bin/python3  # Debian's interpreter, the one python3-openpyxl installs into

bench_setup xlsx_vs_openpyxl "$qmv"
bench_need_package xlsx_vs_openpyxl python3-openpyxl "$python" -c 'import openpyxl'

cat > "$work/make.py" <<'PY'
import sys, zipfile
rows = int(sys.argv[2])
main = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
texts = ["Code"] + ["+%d (%03d) %03d-%04d ref-%d" % (i % 90 + 1, (i * 7919) % 1000,
         (i * 31) % 1000, (i * 17) % 10000, i) for i in range(1, rows)]
sst = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<sst %s count="%d" uniqueCount="%d">'
       % (main, rows, rows)] + ["<si><t>%s</t></si>" % t for t in texts] + ["</sst>"]
sheet = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet %s><dimension ref="A1:A%d"/><sheetData>' % (main, rows)]
sheet += ['<row r="%d"><c r="A%d" t="s"><v>%d</v></c></row>' % (i + 1, i + 1, i) for i in range(rows)]
sheet.append("</sheetData></worksheet>")
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
    z.writestr("_rels/.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel)
    z.writestr("xl/workbook.xml", '<workbook %s xmlns:r="%s"><sheets><sheet name="Codes" sheetId="1" r:id="rId1"/></sheets></workbook>' % (main, rel))
    z.writestr("xl/_rels/workbook.xml.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="%s/sharedStrings" Target="sharedStrings.xml"/></Relationships>' % (rel, rel))
    z.writestr("xl/sharedStrings.xml", "".join(sst))
    z.writestr("xl/worksheets/sheet1.xml", "".join(sheet))
    print(z.getinfo("xl/worksheets/sheet1.xml").file_size)
PY

cat > "$work/digits.py" <<'PY'
import re, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
digits = re.compile("[0-9]")
for row in wb.active.iter_rows():
    for cell in row:
        if isinstance(cell.value, str):
            cell.value = digits.sub("", cell.value) or None
wb.save(sys.argv[2])
PY

cat > "$work/same.py" <<'PY'
import sys, openpyxl
a = openpyxl.load_workbook(sys.argv[1], read_only=True).active
b = openpyxl.load_workbook(sys.argv[2], read_only=True).active
for n, (x, y) in enumerate(zip(a.iter_rows(values_only=True), b.iter_rows(values_only=True))):
    if x != y:
        sys.exit("row %d: %r against %r" % (n + 1, x, y))
PY

cat > "$work/measure.py" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.2f %.2f %d" % (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024))
PY

sheet_bytes=$("$python" "$work/make.py" "$work/in.xlsx" "$rows")
echo "input: $rows rows, $(wc -c < "$work/in.xlsx") bytes packed, sheet XML $sheet_bytes bytes unpacked"
read -r qmv_time qmv_cpu qmv_peak < <("$python" "$work/measure.py" "$qmv" apply RNUM "$work/in.xlsx" -o "$work/qmv.xlsx")
read -r py_time py_cpu py_peak < <("$python" "$work/measure.py" "$python" "$work/digits.py" "$work/in.xlsx" "$work/openpyxl.xlsx")
if ! "$python" "$work/same.py" "$work/qmv.xlsx" "$work/openpyxl.xlsx"; then
  echo "xlsx_vs_openpyxl: the two results differ" >&2
  exit 1
fi
echo "qmv apply RNUM:                       ${qmv_time} s (CPU ${qmv_cpu} s), peak memory $qmv_peak bytes"
echo "openpyxl load, re.sub, save:          ${py_time} s (CPU ${py_cpu} s), peak memory $py_peak bytes"
# The CPU ratio too: on a shared machine the wall-clock one moves with the load.
awk -v q="$qmv_time" -v p="$py_time" -v qc="$qmv_cpu" -v pc="$py_cpu" -v m="$qmv_peak" \
    -v s="$sheet_bytes" 'BEGIN {
  printf "qmv is %.1fx faster (%.1fx in CPU time); its peak memory is %.0f%% of the unpacked sheet XML\n",
         p / q, pc / qc, 100 * m / s
}'
