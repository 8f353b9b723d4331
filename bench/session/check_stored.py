#!/usr/bin/env python3
"""Checks that the peer stored each account's executions exactly once: its
executions file holds the expected count, no source execution id twice,
and no other account received any.
usage: check_stored.py <peer-state-dir> <executions-per-account> <account-id>..."""
import json
import os
import sys

state, expected, accounts = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
folder = os.path.join(state, "executions")
faults = []
for account in accounts:
    path = os.path.join(folder, account + ".jsonl")
    try:
        lines = open(path).read().splitlines()
    except OSError:
        lines = []
    ids = {json.loads(line)["execution"]["source_execution_id"] for line in lines}
    if len(lines) != expected or len(ids) != expected:
        faults.append("%s: %d stored, %d distinct, of %d" % (account, len(lines), len(ids), expected))
stray = sorted(set(os.listdir(folder) if os.path.isdir(folder) else []) - {a + ".jsonl" for a in accounts})
if stray:
    faults.append("executions for other accounts: " + " ".join(stray))
for fault in faults:
    print("session: the peer " + fault)
sys.exit(1 if faults else 0)
