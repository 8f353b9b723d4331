#!/usr/bin/env python3
"""Writes a host simulator scenario with many fills for the crash harness.

usage: make-scenario.py OUT.json --fills N --steps S [--seed X] [--wait-ms MS]
                        [--note-every K] [--deliver-timeout-ms MS]

The chart is the futures contract ESM25 on the simulated account Sim1. The
fills are spread over S steps, one call each, MS apart (the study polls the
fills at most once a second, so a poll may take in several steps); some steps
load a burst of several fills at once, a few of them at the same execution
time (told apart by their host index). Sides alternate in runs, prices move on the 0.25 tick,
quantities are whole contracts. Every K-th fill carries a trader note, which
becomes a day note. The last step, "deliver", repeats until the status line
shows every fill applied and no note pending.

Next to OUT.json it writes OUT.json.expected: one JSON object per line, the
fills in the host's order, with the members an execution must carry
(executed_at, side, quantity, price) and the note text, if any.
"""
import argparse
import datetime as dt
import json
import random
import sys


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--fills", type=int, required=True)
    ap.add_argument("--steps", type=int, required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--wait-ms", type=int, default=250)
    ap.add_argument("--note-every", type=int, default=9)
    ap.add_argument("--deliver-timeout-ms", type=int, default=120000)
    a = ap.parse_args()
    if a.fills < a.steps or a.steps < 1:
        print("make-scenario: need at least one fill per step", file=sys.stderr)
        return 2

    rng = random.Random(a.seed)
    # Split the fills over the steps: every step gets one, the rest lands in
    # random steps, so some steps carry bursts.
    per_step = [1] * a.steps
    for _ in range(a.fills - a.steps):
        per_step[rng.randrange(a.steps)] += 1

    t = dt.datetime(2025, 3, 7, 14, 30, 0)
    price_ticks = 5700 * 4
    position = 0
    side = "buy"
    order_id = 5000
    fill_no = 0
    steps = [{"label": "open chart", "wait_ms": 0}]
    expected = []
    for s, count in enumerate(per_step):
        fills = []
        same_time_left = 0
        for _ in range(count):
            if same_time_left > 0:
                same_time_left -= 1  # a sweep: several fills at one instant
            else:
                t += dt.timedelta(milliseconds=rng.randrange(1, 90000))
                if count > 2 and rng.random() < 0.3:
                    same_time_left = rng.randrange(1, 3)
            if rng.random() < 0.35:
                side = "sell" if side == "buy" else "buy"
                order_id += 1
            price_ticks += rng.randrange(-6, 7)
            qty = rng.randrange(1, 6)
            position += qty if side == "buy" else -qty
            fill_no += 1
            stamp = t.strftime("%Y-%m-%d %H:%M:%S.") + f"{t.microsecond:06d}"
            price = price_ticks / 4
            fill = {"order_id": order_id, "time_utc": stamp, "side": side, "quantity": qty,
                    "price": price, "execution_id": f"SIM-{order_id}-{fill_no}", "position": position}
            note = ""
            if a.note_every > 0 and fill_no % a.note_every == 0:
                note = f"crash harness fill {fill_no}"
                fill["note"] = note
            fills.append(fill)
            price_text = f"{price:.2f}".rstrip("0").rstrip(".")
            expected.append({"executed_at": t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond:06d}Z",
                             "side": side, "quantity": str(qty), "price": price_text, "note": note,
                             "native_fill_id": fill["execution_id"]})
        steps.append({"label": f"fills {s + 1}", "fills": fills})
    steps.append({"label": "deliver", "until": {
        "status": f"; applied {a.fills}; pending notes 0", "timeout_ms": a.deliver_timeout_ms, "every_ms": 500}})

    scenario = {
        "chart": {
            "account": "Sim1", "trade_symbol": "ESM25", "simulated": True,
            "time_zone": "Eastern Standard Time", "security_kind": 1, "trade_service": "Simulated",
            "symbol_details": {"tick_size": 0.25, "value_per_tick": 12.5, "contract_size": 50,
                               "display_multiplier": 1, "last_trading_date": "2025-06-20 00:00:00"},
            "start_time": "2025-03-07 09:29:58",
        },
        "default_wait_ms": a.wait_ms,
        "steps": steps,
    }
    with open(a.out, "w") as f:
        json.dump(scenario, f, indent=1)
        f.write("\n")
    with open(a.out + ".expected", "w") as f:
        for e in expected:
            f.write(json.dumps(e, sort_keys=True) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
