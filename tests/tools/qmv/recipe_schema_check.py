"""The recipe schema and qmv judge recipes alike: every example recipe is valid under the
schema (JSON Schema 2020-12, python3-jsonschema), and over a table of recipes the schema's
verdict is qmv recipe's. Usage: recipe_schema_check.py QMV SCHEMA EXAMPLES_DIR"""
import glob
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

qmv, schema_path, examples = sys.argv[1:4]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)

def recipe(*steps, version=1):
    return {"version": version, "name": "n", "steps": list(steps)}

CASES = {
    "every operation without inputs": recipe(*[{"operation": c} for c in
        "RNUM RALP RNPC RALS RLTS RLTE RUPC RLOC RNDG RNAN RPSY RLBR RACC".split()]),
    "inputs of their own": recipe({"operation": "RUDC", "characters": "#"},
                                  {"operation": "RNBP", "start": 3, "count": 2},
                                  {"operation": "RASP", "separator": "-", "occurrence": "last"},
                                  {"operation": "RBSP", "separator": "-", "occurrence": 2},
                                  {"operation": "RTXT", "text": "x", "matchCase": True},
                                  {"operation": "RPAT", "pattern": "a+", "unicode": True},
                                  {"operation": "RBTW", "opening": "(", "closing": ")"},
                                  {"operation": "RFNC", "count": 0},
                                  {"operation": "RLNC", "count": 1, "columns": ["B", "!Name"]}),
    "a value step last": recipe({"operation": "RLTE"}, {"operation": "RUDP", "range": "B2:B9"}),
    "unknown operation": recipe({"operation": "RXYZ"}),
    "missing input": recipe({"operation": "RNAP", "start": 2}),
    "an input not read": recipe({"operation": "RNUM", "text": "x"}),
    "start and separator": recipe({"operation": "RASP", "start": 1, "separator": "-"}),
    "occurrence without separator": recipe({"operation": "RASP", "start": 1, "occurrence": 2}),
    "position out of range": recipe({"operation": "RBSP", "start": 0}),
    "count out of range": recipe({"operation": "RFNC", "count": 40000}),
    "empty text": recipe({"operation": "RTXT", "text": ""}),
    "two value steps": recipe({"operation": "RDPV"}, {"operation": "RADP"}),
    "columns and range": recipe({"operation": "RNUM", "columns": ["B"], "range": "B2"}),
    "newer version": recipe({"operation": "RNUM"}, version=2),
    "no steps": recipe(),
    "unknown field": dict(recipe({"operation": "RNUM"}), author="x"),
}

failures = []
for path in sorted(glob.glob(os.path.join(examples, "*.json"))):
    with open(path, encoding="utf-8") as f:
        errors = [e.message for e in validator.iter_errors(json.load(f))]
    if errors:
        failures.append(f"{path}: {errors[0]}")
with tempfile.TemporaryDirectory() as folder:
    for name, case in CASES.items():
        path = os.path.join(folder, "case.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(case, f)
        schema_says = validator.is_valid(case)
        ran = subprocess.run([qmv, "recipe", path], capture_output=True, text=True)
        if schema_says != (ran.returncode == 0):
            failures.append(f"{name}: the schema says {'valid' if schema_says else 'invalid'}, "
                            f"qmv recipe {ran.returncode}: {ran.stderr.strip()}")
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
