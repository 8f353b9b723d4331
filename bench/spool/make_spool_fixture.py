#!/usr/bin/env python3
"""Extends a spool that holds one engine-journaled execution to N executions.

The first entry was written by the engine; this script re-derives it and
refuses to go on unless its derivation reproduces the engine's bytes, so the
generated entries are exactly what the engine would have journaled.
"""
import hashlib
import json
import os
import sys


def dumps(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def sha(text):
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def timestamp(n):
    seconds = 14 * 3600 + 30 * 60 + n
    days, seconds = divmod(seconds, 86400)
    return "2025-12-%02dT%02d:%02d:%02d.000000Z" % (1 + days, seconds // 3600, seconds // 60 % 60, seconds % 60)


def derive(observation, sequence):
    identity = [observation["source_account"], observation["source_symbol"], observation["session_id"],
                observation["simulation"], observation["native_fill_id"]]
    return {
        "commission": "0",
        "executed_at": observation["executed_at"],
        "fees": "0",
        "instrument": observation["instrument_metadata"],
        "price": observation["price"],
        "quantity": observation["quantity"],
        "side": observation["side"],
        "source_execution_id": "sc-" + sha(dumps(identity)),
        "source_sequence": str(sequence),
    }


def entry(observation, sequence):
    execution = derive(observation, sequence)
    return dumps({"execution": execution, "hash": sha(dumps(execution)), "observation": observation})


def main():
    spool, count = sys.argv[1], int(sys.argv[2])
    first_path = os.path.join(spool, "e-%020d.json" % 1)
    with open(first_path, encoding="utf-8") as f:
        written = f.read()
    template = json.loads(written)["observation"]
    if entry(template, 1) != written:
        sys.exit("fixture derivation differs from the engine's first entry; refusing to build")
    for n in range(2, count + 1):
        observation = dict(template)
        observation["event_id"] = "%064x" % n
        observation["native_fill_id"] = "exec-%d" % n
        observation["native_fill_index"] = n
        observation["executed_at"] = timestamp(n)
        observation["side"] = "buy" if n % 2 else "sell"
        observation["internal_order_id"] = str(1000 + n)
        observation["service_order_id"] = "svc-%d" % n
        with open(os.path.join(spool, "e-%020d.json" % n), "w", encoding="utf-8") as f:
            f.write(entry(observation, n))
    with open(os.path.join(spool, "high-water.json"), "w", encoding="utf-8") as f:
        f.write(dumps({"sequence": count}))
    print("fixture: %d executions in %s" % (count, spool))


if __name__ == "__main__":
    main()
