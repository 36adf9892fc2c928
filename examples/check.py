#!/usr/bin/env python3
# check.py DOCUMENT SIGNATURE: asks Quilmarend's HTTP API (QUILMAREND_API, http://127.0.0.1:3850).
import base64, json, os, sys, urllib.request
field = lambda path: base64.b64encode(open(path, "rb").read()).decode()
body = json.dumps({"document": field(sys.argv[1]), "signature": field(sys.argv[2])}).encode()
answer = json.load(urllib.request.urlopen(urllib.request.Request(os.environ.get("QUILMAREND_API", "http://127.0.0.1:3850") + "/v1/check", body, {"Content-Type": "application/json"})))
print("valid" if answer["valid"] else "not valid:", answer["signature"]["text"], answer["chain"]["text"])
