#!/usr/bin/env python3
"""Validates JSON Lines on standard input against the JSON Schema file named by the first argument
with Debian's python3-jsonschema (Draft 7), as a script that reads quilmarend-check's output would
rely on it. Prints one line per object that fails, with its line number and the reason, and exits
with 1 then; exits with 0 when every line is a valid object."""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as schema_file:
    schema = json.load(schema_file)
jsonschema.Draft7Validator.check_schema(schema)
validator = jsonschema.Draft7Validator(schema)
failed = False
for number, line in enumerate(sys.stdin, 1):
    try:
        instance = json.loads(line)
    except ValueError as error:
        print(f"line {number}: not JSON: {error}")
        failed = True
        continue
    for error in validator.iter_errors(instance):
        print(f"line {number}: {'/'.join(map(str, error.path))}: {error.message}")
        failed = True
sys.exit(1 if failed else 0)
