#!/usr/bin/env python3
"""Writes a trading-day scenario for the host simulator: fills in bursts,
a working order whose attached stop and target move, the odd annotated fill,
and a final step that waits until every execution is applied.
usage: make_session.py <fills> <scenario.json>"""
import json
import sys
from datetime import datetime, timedelta

fills_total = int(sys.argv[1])
start = datetime(2025, 3, 7, 9, 30, 0)
steps = [{"label": "open chart", "wait_ms": 0}]
t = start
n = 0
price = 5700.0
position = 0
order_id = 10000
step_index = 0
while n < fills_total:
    step_index += 1
    t += timedelta(seconds=7, milliseconds=250 * (step_index % 4))
    burst = min(1 + step_index % 6, fills_total - n)
    fills = []
    for _ in range(burst):
        n += 1
        side = "buy" if n % 2 else "sell"
        position += 1 if side == "buy" else -1
        price += 0.25 if (n * 7) % 5 < 3 else -0.25
        fill = {"order_id": order_id + n, "side": side, "quantity": 1 + n % 3, "price": price,
                "execution_id": "SIM-%d" % n, "position": position, "time": t.strftime("%Y-%m-%d %H:%M:%S.%f")}
        if n % 97 == 0:
            fill["note"] = "scaled out at the level, fill %d" % n
        fills.append(fill)
    step = {"label": "burst %d" % step_index, "at": t.strftime("%Y-%m-%d %H:%M:%S.%f"), "fills": fills}
    if step_index % 5 == 0:
        step["orders"] = [{"id": 1, "type": "Limit", "type_code": 1, "side": "buy", "quantity": 2,
                           "price1": price - 2, "status": 2,
                           "stop": {"id": 2, "price1": price - 6 - step_index % 3, "status": 1},
                           "target": {"id": 3, "price1": price + 5, "status": 1}}]
    steps.append(step)
steps.append({"label": "deliver",
              "until": {"status": "applied %d;" % fills_total, "timeout_ms": 600000, "every_ms": 250}})
scenario = {
    "chart": {"account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "Eastern Standard Time",
              "security_kind": 1, "trade_service": "Simulated",
              "symbol_details": {"tick_size": 0.25, "value_per_tick": 12.5, "contract_size": 50,
                                 "display_multiplier": 1, "last_trading_date": "2025-06-20 00:00:00"},
              "start_time": start.strftime("%Y-%m-%d %H:%M:%S"), "call_clock": True,
              "poll_baseline": True},
    "default_wait_ms": 250,
    "steps": steps,
}
with open(sys.argv[2], "w") as out:
    json.dump(scenario, out, indent=1)
# Fills loaded by each step, in step order, for the latency figures.
with open(sys.argv[2] + ".fills", "w") as out:
    out.write(" ".join(str(len(step.get("fills", []))) for step in steps) + "\n")
