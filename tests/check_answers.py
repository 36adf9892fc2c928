#!/usr/bin/env python3
"""check_answers.py OPENAPI.json RESPONSE...: each response as it came over the wire must match
its schema in the description (python3-jsonschema): application/json CheckResult,
application/problem+json Problem. Prints each mismatch; exits 1 when there is one."""
import json
import sys

import jsonschema

SCHEMAS = {"application/json": "CheckResult", "application/problem+json": "Problem"}


def split(response):
    while response.startswith(b"HTTP/"):
        head, _, body = response.partition(b"\r\n\r\n")
        if b" 100 " not in head.split(b"\r\n", 1)[0]:
            return head.decode("latin-1"), body
        response = body
    return "", response


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        description = json.load(file)
    faults = 0
    for path in sys.argv[2:]:
        with open(path, "rb") as file:
            head, body = split(file.read())
        types = [line.split(":", 1)[1].strip().split(";")[0] for line in head.split("\r\n")
                 if line.lower().startswith("content-type:")]
        name = SCHEMAS.get(types[0] if types else "")
        if name is None:
            continue
        schema = dict(description, **{"$ref": f"#/components/schemas/{name}"})
        try:
            jsonschema.validate(json.loads(body), schema, cls=jsonschema.Draft202012Validator,
                                format_checker=jsonschema.Draft202012Validator.FORMAT_CHECKER)
        except (ValueError, jsonschema.ValidationError) as error:
            faults += 1
            print(f"{path}: {name}: {error}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
