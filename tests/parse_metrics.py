#!/usr/bin/env python3
"""Reads a Prometheus text page on standard input with prometheus_client's own parser and prints
each sample as one line, `name{label="value",...} value`, labels sorted, so that a test can look
for the lines it expects. A page the parser refuses ends with its error and exit code 1."""
import sys

from prometheus_client.parser import text_string_to_metric_families

try:
    for family in text_string_to_metric_families(sys.stdin.read()):
        for sample in family.samples:
            labels = ",".join(f'{k}="{v}"' for k, v in sorted(sample.labels.items()))
            print(f"{sample.name}{{{labels}}} {sample.value:g}")
except Exception as error:  # the parser's refusal is the test's failure
    print(f"unparseable: {error}", file=sys.stderr)
    sys.exit(1)
