#!/usr/bin/python3
"""Every package a script of tools/ asks tools/install-deps.sh for is in the
list that install-deps.sh installs without arguments: root runs it once, and
every later script (the tests, the Windows build, fuzzing) finds its packages."""
import os
import re
import sys

tools = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
with open(os.path.join(tools, "install-deps.sh")) as f:
    script = f.read()
default = set(re.search(r"^packages=\(([^)]*)\)", script, re.M).group(1).split())
missing = []
for name in sorted(os.listdir(tools)):
    if not name.endswith(".sh") or name == "install-deps.sh":
        continue
    with open(os.path.join(tools, name)) as f:
        text = f.read().replace("\\\n", " ")
    for call in re.findall(r"install-deps\.sh([^\n;&|]*)", text):
        missing += ["%s: %s" % (name, p) for p in call.split() if p not in default]
print("\n".join(missing) or "every package is in the default list")
sys.exit(1 if missing else 0)
