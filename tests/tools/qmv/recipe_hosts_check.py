"""A recipe gives the same cells through the add-in and through qmv apply: over each example
workbook and CSV file, each example recipe that names no cells runs once in a qmv play
session (the file loaded, the cells below its header selected, the recipe run through the
dialog, the sheet saved) and once through qmv apply --recipe; openpyxl (or the CSV reader)
reads both results, and every cell's value and type must agree. A recipe that ends by
clearing values runs over the first column (-c A), which its value step needs.
Usage: recipe_hosts_check.py QMV EXAMPLES_DIR"""
import csv
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl
from openpyxl.utils import get_column_letter

qmv, examples = sys.argv[1:3]


def workbook_cells(path):
    sheet = openpyxl.load_workbook(path).active
    return {c.coordinate: (type(c.value).__name__, c.value)
            for row in sheet.iter_rows() for c in row if c.value is not None}


def csv_cells(path):
    with open(path, newline="", encoding="utf-8") as f:
        return {f"{get_column_letter(c + 1)}{r + 1}": v
                for r, row in enumerate(csv.reader(f)) for c, v in enumerate(row)}


VALUE_STEPS = ("RDPV", "RADP", "RUDP")


def selection(path, first_column):
    """The cells below the header row, as qmv apply visits them without -c (or with -c A)."""
    if path.endswith(".csv"):
        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        header, last_row, last_column = 1, len(rows), max(len(r) for r in rows)
    else:
        sheet = openpyxl.load_workbook(path).active
        header = next(r[0].row for r in sheet.iter_rows() if any(c.value is not None for c in r))
        last_row, last_column = sheet.max_row, sheet.max_column
    last = "A" if first_column else get_column_letter(last_column)
    return f"A{header + 1}:{last}{last_row}"


recipes = []
for path in sorted(glob.glob(os.path.join(examples, "recipes", "*.json"))):
    with open(path, encoding="utf-8") as f:
        steps = json.load(f)["steps"]
    if all("columns" not in s and "range" not in s for s in steps):
        recipes.append((path, steps[-1]["operation"] in VALUE_STEPS))
books = sorted(glob.glob(os.path.join(examples, "*.xlsx")) +
               glob.glob(os.path.join(examples, "*.csv")))
failures = []
checked = 0
values_changed = 0
with tempfile.TemporaryDirectory() as folder:
    for book in books:
        ext = os.path.splitext(book)[1]
        for recipe, clears in recipes:
            name = f"{os.path.basename(book)} with {os.path.basename(recipe)}"
            shutil.copy(book, os.path.join(folder, "in" + ext))
            shutil.copy(recipe, os.path.join(folder, "recipe.json"))
            with open(os.path.join(folder, "run.qmv"), "w", encoding="utf-8") as f:
                f.write(f"load in{ext}\nselect {selection(book, clears)}\nconnect\n"
                        f"recipe recipe.json\n  press CommandButton1\nsave played{ext}\n")
            played = subprocess.run([qmv, "play", os.path.join(folder, "run.qmv")],
                                    capture_output=True, text=True)
            applied = subprocess.run([qmv, "apply", "--recipe", os.path.join(folder, "recipe.json"),
                                      os.path.join(folder, "in" + ext), "-o",
                                      os.path.join(folder, "applied" + ext)] +
                                     (["-c", "A"] if clears else []),
                                     capture_output=True, text=True)
            if played.returncode != 0 or applied.returncode != 0:
                failures.append(f"{name}: play {played.returncode} {played.stderr.strip()} "
                                f"apply {applied.returncode} {applied.stderr.strip()}")
                continue
            read = workbook_cells if ext == ".xlsx" else csv_cells
            a = read(os.path.join(folder, "played" + ext))
            b = read(os.path.join(folder, "applied" + ext))
            for cell in sorted(set(a) | set(b)):
                if a.get(cell) != b.get(cell):
                    failures.append(f"{name}: {cell}: add-in {a.get(cell)!r}, qmv {b.get(cell)!r}")
            # A value recipe's first column may hold nothing to clear; one of them must.
            if read(book) == b and not clears:
                failures.append(f"{name}: nothing changed, so nothing was compared")
            values_changed += clears and read(book) != b
            checked += 1
if any(clears for _, clears in recipes) and values_changed == 0:
    failures.append("no recipe that ends by clearing values changed a file")
for failure in failures:
    print(failure)
print(f"{checked} runs compared")
sys.exit(1 if failures or checked == 0 else 0)
