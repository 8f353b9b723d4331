#!/usr/bin/env python3
"""Bad input through the real study library under the host simulator:
- a damaged saved settings file (truncated, emptied, bytes changed, another
  scope's file under this scope's name, this scope's file protected for
  another Windows user) stops the study with the one unreadable-state
  message, reported once, and stays byte for byte as it was; once the
  original is back the running host resumes by itself and records the same
  fills;
- host texts in the Windows code page (account, service ids, notes) are
  recorded as UTF-8, and a fill whose account arrives in UTF-8 still matches
  the chart's code-page account; quotes and backslashes are escaped;
- the account secret appears in clear nowhere: not in the settings file,
  the records, the spool or any log line.
usage: bad_input_test.py <build-dir>"""

import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_lib import Checks, OtherUser, Scope, Sim, fill_event_id, fill_record, fill_records, wait_for  # noqa: E402

SECRET = "e2e-Secret-bad-93ab"
UNREADABLE = ("Saved Quorbelle Sync state cannot be read. Restore the original setup under its Windows user; "
              "state is retained and sync is stopped.")
CHART = {"account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "UTC",
         "start_time": "2025-07-01 12:30:00"}
FILLS = [{"order_id": 1, "time": "2025-07-01 10:00:00", "side": "buy", "quantity": 1, "price": 5700,
          "execution_id": "B-1"},
         {"order_id": 2, "time": "2025-07-01 10:01:00", "side": "sell", "quantity": 1, "price": 5701,
          "execution_id": "B-2"}]


def flip(data, offset):
    b = bytearray(data)
    b[offset % len(b)] ^= 0x5A
    return bytes(b)


def main(build):
    sim = Sim(build, "bad")
    c = Checks("bad input")
    scope = Scope("Sim1", "ESM25", "sess-bad")
    other = Scope("Sim9", "ESM25", "sess-other")
    scenario = {"chart": CHART, "default_wait_ms": 1100,
                "steps": [{"label": "open", "wait_ms": 0, "fills": FILLS}, {"label": "again", "repeat": 2}]}

    def other_scope_file(original):
        path = sim.prepare(sim.path("other"), other, SECRET)
        with open(path, "rb") as f:
            return f.read()

    other_user = OtherUser(sim)

    def other_user_file(original):
        path = sim.prepare(sim.path("other-user"), scope, SECRET, user=other_user)
        with open(path, "rb") as f:
            return f.read()

    damages = [  # label, damaged bytes from the original
        ("truncated", lambda b: b[:len(b) // 2]),
        ("one byte short", lambda b: b[:-1]),
        ("emptied", lambda b: b""),
        ("byte changed in the header", lambda b: flip(b, 20)),
        ("byte changed in the middle", lambda b: flip(b, len(b) // 2)),
        ("byte changed at the end", lambda b: flip(b, -1)),
        ("another scope's file", other_scope_file),
        ("another Windows user's file", other_user_file),
    ]
    started = []
    for i, (label, damage) in enumerate(damages):
        data = sim.path("d%d" % i)
        path = sim.prepare(data, scope, SECRET)
        with open(path, "rb") as f:
            original = f.read()
        damaged = damage(original)
        with open(path, "wb") as f:
            f.write(damaged)
        started.append((label, data, path, original, damaged, sim.start("damaged-%d" % i, scenario, data)))
    for label, data, path, original, damaged, proc in started:
        run = sim.finish(proc)
        c.eq(run.rc, 0, label + ": exit status")
        c.eq(run.pauses(), [UNREADABLE], label + ": reports")
        c.eq(run.input(15), '"%s"' % UNREADABLE, label + ": status")
        with open(path, "rb") as f:
            c.ok(f.read() == damaged, label + ": the settings file was changed")
        c.ok(not os.path.exists(scope.outbox_dir(data)), label + ": a scope outbox exists")
    # The other user's file is sound: under that user the study reads it and records.
    run = sim.play("other-user", scenario, sim.path("other-user"), user=other_user)
    c.eq(run.pauses(), [], "the other user's own study: reports")
    c.eq(len(fill_records(scope.outbox_dir(sim.path("other-user")))), len(FILLS), "the other user's own study: records")
    other_user.close()
    # Nothing was lost: once the original file is back the running host
    # resumes by itself and records every fill.
    label, data, path, original, _, _ = started[0]
    marker = sim.path("restored-marker")
    held = {"chart": CHART, "default_wait_ms": 1100,
            "steps": [{"label": "open", "wait_ms": 0, "fills": FILLS},
                      {"label": "until restored", "until": {"file": marker, "timeout_ms": 60000, "every_ms": 250}},
                      {"label": "after"}]}
    proc = sim.start("restored", held, data)
    c.ok(wait_for(sim.path("restored.out"), UNREADABLE, 60), "restored: the damaged file was not reported")
    with open(path, "wb") as f:
        f.write(original)
    open(marker, "w").close()
    run = sim.finish(proc)
    c.eq(run.rc, 0, "restored: exit status")
    c.eq(run.pauses(), [UNREADABLE], "restored: reports")
    c.eq(run.logs().count("Quorbelle collector resumed successfully."), 1, "restored: resumption lines")
    got = fill_records(scope.outbox_dir(data))
    for i, f in enumerate(FILLS):
        name = fill_event_id(scope, f, "UTC") + ".json"
        if c.ok(name in got, "restored: record of fill %d" % i):
            c.record_bytes(got[name], lambda o, f=f, i=i: fill_record(scope, f, i, CHART, o), run,
                           "restored: fill %d" % i)
    c.eq(len(got), len(FILLS), "restored: records")

    # Code-page host texts: "Sim\xe9" is the chart's account in Windows-1252.
    cp_scope = Scope("Sim\u00e9", "ESM25", "sess-cp")
    data = sim.path("cp")
    sim.prepare(data, cp_scope, SECRET)
    cp_chart = dict(CHART, account={"hex": "53696de9"})
    cp_fills = [{"order_id": 11, "time": "2025-07-01 10:00:00", "quantity": 1, "price": 5700,
                 "execution_id": {"hex": "58e92d31"}, "service_order_id": {"hex": "80"},
                 "note": {"hex": "636166e92022717522"}},
                {"order_id": 12, "time": "2025-07-01 10:01:00", "quantity": 1, "price": 5701,
                 "execution_id": "X\u00e9-2", "account": "Sim\u00e9", "note": "utf-8 \u00e9"}]
    # Quotes and backslashes in the account reach every name and record escaped.
    quoted_scope = Scope('Q"\\1', "ESM25", "sess-quoted")
    sim.prepare(data, quoted_scope, SECRET)
    quoted_fill = {"order_id": 13, "time": "2025-07-01 10:02:00", "quantity": 1, "price": 5702,
                   "execution_id": 'Q"\\-1', "note": 'a "quoted" \\ note'}
    run = sim.play("code-page", {"chart": cp_chart, "default_wait_ms": 1100,
                                 "steps": [{"label": "open", "wait_ms": 0, "fills": cp_fills},
                                           {"label": "quoted", "chart": {"account": 'Q"\\1'}, "clear_fills": True,
                                            "fills": [quoted_fill]}]}, data)
    c.eq(run.rc, 0, "code page: exit status")
    c.eq(run.pauses(), [], "code page: reports")
    got = fill_records(cp_scope.outbox_dir(data))
    for i, f in enumerate(cp_fills):
        name = fill_event_id(cp_scope, f, "UTC") + ".json"
        if c.ok(name in got, "code page: record of fill %d" % i):
            c.record_bytes(got[name], lambda o, f=f, i=i: fill_record(cp_scope, f, i, cp_chart, o), run,
                           "code page: fill %d" % i)
    c.eq(len(got), len(cp_fills), "code page: records")
    got = fill_records(quoted_scope.outbox_dir(data))
    name = fill_event_id(quoted_scope, quoted_fill, "UTC") + ".json"
    if c.ok(name in got, "quoted account: record"):
        quoted_chart = dict(CHART, account='Q"\\1')
        c.record_bytes(got[name], lambda o: fill_record(quoted_scope, quoted_fill, 0, quoted_chart, o), run,
                       "quoted account: fill")

    c.no_secret(SECRET, scope.email, [sim.work], sim.outputs, "secret")
    return c.finish(sim)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
