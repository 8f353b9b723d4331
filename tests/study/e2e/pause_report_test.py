#!/usr/bin/env python3
"""Pause reports of the real study library under the host simulator, while
the host refuses to create the study's setup window:
- the window's failure is reported once and shown as the status, however
  many polls follow, and collection goes on recording fills;
- no poll announces a resumption while that failure stands (the resumption
  line and the failure used to alternate on every poll);
- a collector failure arising meanwhile (a fill of zero quantity) is reported
  once as well, not in turn with the window's failure on every call, and its
  end announces nothing while the window's failure stands;
- once the host lets the window open, the next pick of the setup menu opens
  a new window and the resumption is announced exactly once.
usage: pause_report_test.py <build-dir>"""

import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_lib import Checks, Scope, Sim, fill_event_id, fill_record, fill_records  # noqa: E402

SECRET = "e2e-Secret-pause-5d1c"
WINDOW_FAILURE = "Could not open Quorbelle setup window."
RESUMED = "Quorbelle collector resumed successfully."
ZERO_QUANTITY = "Zero/negative fill quantity observed; collection paused for review."
CHART = {"account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "UTC",
         "start_time": "2025-07-01 12:30:00", "refuse_setup_window": True}


def fill(execution_id, time, order_id, price):
    return {"order_id": order_id, "time": time, "side": "buy", "quantity": 1, "price": price,
            "execution_id": execution_id}


def main(build):
    sim = Sim(build, "pause")
    c = Checks("pause report")
    data = sim.path("data")
    first, second = Scope("Sim1", "ESM25", "sess-pause-1"), Scope("Sim2", "ESM25", "sess-pause-2")
    sim.prepare(data, first, SECRET)
    sim.prepare(data, second, SECRET)
    before = fill("P-1", "2025-07-01 10:00:00", 1, 5700)
    during = fill("P-2", "2025-07-01 10:01:00", 2, 5701)
    after = fill("P-3", "2025-07-01 10:02:00", 3, 5702)
    steps = [
        {"label": "open", "wait_ms": 0, "fills": [before]},
        {"label": "setup refused", "menu": "Quorbelle Sync setup",
         "until": {"log": WINDOW_FAILURE, "timeout_ms": 30000, "every_ms": 100}},
        {"label": "failure stands", "fills": [during], "repeat": 4},
        {"label": "zero quantity", "fills": [dict(fill("P-0", "2025-07-01 10:01:30", 9, 5700), quantity=0)],
         "repeat": 4},
        {"label": "zero quantity gone", "clear_fills": True, "fills": [before, during], "repeat": 2},
        {"label": "setup allowed", "refuse_setup_window": False, "repeat": 2},
        {"label": "setup reopened", "menu": "Quorbelle Sync setup", "repeat": 3},
        {"label": "source changed", "chart": {"account": "Sim2"}, "clear_fills": True, "fills": [after], "repeat": 3},
    ]
    run = sim.play("refused", {"chart": CHART, "default_wait_ms": 1100, "steps": steps}, data)
    c.eq(run.rc, 0, "exit status")
    c.eq(run.pauses(), [WINDOW_FAILURE, ZERO_QUANTITY], "reports")
    c.ok("HOSTSIM STATUS " + WINDOW_FAILURE in run.steps.get("setup refused", []), "the failure is not the status")
    for label in ("open", "setup refused", "failure stands", "zero quantity", "zero quantity gone", "setup allowed"):
        c.eq(run.logs(label).count(RESUMED), 0, label + ": resumption lines")
    c.eq(run.logs("setup reopened").count(RESUMED), 1, "setup reopened: resumption lines")
    c.ok("HOSTSIM STATUS " + WINDOW_FAILURE not in run.steps.get("setup reopened", []),
         "the failure is still the status after the window opened")
    c.eq(run.logs("source changed").count(RESUMED), 0, "source changed: resumption lines")

    chart = dict(CHART)
    for scope, fills, where in ((first, [before, during], "first source"), (second, [after], "second source")):
        chart["account"] = scope.account
        got = fill_records(scope.outbox_dir(data))
        c.eq(len(got), len(fills), where + ": records")
        for i, f in enumerate(fills):
            name = fill_event_id(scope, f, "UTC") + ".json"
            if c.ok(name in got, "%s: record of %s" % (where, f["execution_id"])):
                c.record_bytes(got[name], lambda o, f=f, i=i, ch=dict(chart): fill_record(scope, f, i, ch, o), run,
                               "%s: %s" % (where, f["execution_id"]))
    return c.finish(sim)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
