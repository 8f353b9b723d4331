#!/usr/bin/env python3
"""Restarts, the study lock and the mirrored inputs, through the real study
library under the host simulator:
- values typed into the mirrored inputs are replaced on the next call and
  never used (fallback ids, replay and capture flags come from the saved
  settings; a typed note, capture revision, session id or binding does
  nothing);
- restarting the host on the same data folder with the same loaded fills,
  after a final call and after the host was killed, adds no record and
  changes none;
- a second host on the same data folder and chart at the same time is
  refused while the first keeps collecting;
- another program holding the scope's collector lock pauses the study
  until Allow sync is switched off and on after it let go;
- replay is collected only with the saved opt-in, whatever input 3 says;
- at most 250 new records a poll, the rest on later polls.
usage: restart_lock_test.py <build-dir>"""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_lib import (Checks, Scope, Sim, fill_event_id, fill_record, fill_records, records,  # noqa: E402
                     wait_for)

SECRET = "e2e-Secret-lock-42d0"
COLLECTOR_LOCKED = "Another collector owns this source scope, or the scope is inaccessible."
LOCK_UNAVAILABLE = "Collector lock unavailable. Disable and re-enable after resolving the reported setup error."
SETTINGS_LOCKED = ("Another Quorbelle Sync study owns this account and symbol, or its saved setup is "
                   "inaccessible.")
CHART = {"account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "UTC",
         "start_time": "2025-07-01 12:30:00"}


def fill(exec_id, time, order_id, price, **more):
    f = {"order_id": order_id, "time": time, "side": "buy", "quantity": 1, "price": price, "execution_id": exec_id}
    f.update(more)
    return f


SESSION = [fill("R-1", "2025-07-01 10:00:00", 1, 5700), fill("R-2", "2025-07-01 10:01:00", 2, 5701),
           fill("", "2025-07-01 10:02:00", 3, 5702), fill("R-4", "2025-07-01 10:03:00", 4, 5703)]
TYPED_STEP_FILL = fill("", "2025-07-01 10:04:00", 5, 5704)
AFTER_LOCK = fill("R-after", "2025-07-01 10:05:00", 6, 5705)
SECOND_HOST_FILL = fill("R-second", "2025-07-01 10:06:00", 7, 5706)
TYPED = {"1": "C:\\typed-outbox", "2": "typed-session", "3": False, "4": False, "8": False, "9": 5,
         "11": 7, "12": "typed note", "13": "Other", "14": "NQM25", "15": "typed status"}


def main(build):
    sim = Sim(build, "lock")
    c = Checks("restart and lock")
    data = sim.path("d")
    scope = Scope("Sim1", "ESM25", "sess-restart", allow_local_fill_ids=True, capture_screenshots=True,
                  allow_replay=True)
    sim.prepare(data, scope, SECRET)
    scope_dir = scope.outbox_dir(data)

    steps = [{"label": "open", "wait_ms": 0, "fills": SESSION},
             {"label": "typed inputs", "inputs": TYPED, "fills": [TYPED_STEP_FILL]},
             {"label": "restart", "repeat": 2}]
    run = sim.play("first", {"chart": CHART, "default_wait_ms": 1100, "steps": steps}, data)
    c.eq(run.rc, 0, "first host exit status")
    got = fill_records(scope_dir)
    loaded = SESSION + [TYPED_STEP_FILL]
    for i, f in enumerate(loaded):
        name = fill_event_id(scope, f, "UTC") + ".json"
        if c.ok(name in got, "record of fill %d" % i):
            c.record_bytes(got[name], lambda o, f=f, i=i: fill_record(scope, f, i, CHART, o), run, "fill %d" % i)
    c.eq(len(records(scope_dir)), len(loaded), "records in the scope after the first host")
    c.eq(run.pauses(), [], "pauses of the first host")
    c.ok(not any("CAPTURE" in l for l in run.lines), "a typed capture revision requested a capture")
    c.ok(not os.path.exists(os.path.join(build, "wineprefix", "drive_c", "typed-outbox")), "typed outbox root created")
    # Every mirrored input shows the saved value again, whatever was typed.
    root = "Z:" + os.path.dirname(scope_dir).replace("/", "\\")
    for index, value in ((1, '"%s"' % root), (2, '"sess-restart"'), (3, "Yes"), (4, "Yes"), (8, "Yes"),
                         (9, "0"), (11, "0"), (12, '""'), (13, '"Sim1"'), (14, '"ESM25"')):
        c.eq(run.input(index), value, "input %d after typing into it" % index)
    c.ok(run.input(15) != '"typed status"', "status input kept the typed text")

    # Restarts on the same data folder and fills: after a final call, then
    # killed, then after a crash that left one record as a half-written
    # temporary file (its rename never happened): only that record is written.
    before = records(scope_dir)
    interrupted = fill_event_id(scope, SESSION[1], "UTC") + ".json"
    for name, end, crash in (("restart", "final", False), ("killed restart", "exit", False),
                             ("restart after a crash", "final", True)):
        if crash:
            os.remove(os.path.join(scope_dir, interrupted))
            with open(os.path.join(scope_dir, interrupted + ".tmp"), "wb") as f:
                f.write(before[interrupted][:100])
        scenario = {"chart": CHART, "default_wait_ms": 1100, "steps": steps, "end": end}
        again = sim.play(name.replace(" ", "-"), scenario, data, start_step="restart")
        c.eq(again.rc, 0, name + ": exit status")
        c.eq(again.pauses(), [], name + ": pauses")
        c.eq(sum(l.startswith("Quorbelle collector outbox: ") for l in again.logs()), 1, name + ": collector starts")
        after = records(scope_dir)
        if crash:
            c.record_bytes(after.get(interrupted, b""), lambda o: fill_record(scope, SESSION[1], 1, CHART, o), again,
                           name + ": the interrupted record")
            c.ok(not os.path.exists(os.path.join(scope_dir, interrupted + ".tmp")), name + ": temporary file left")
            after = dict(after, **{interrupted: before[interrupted]})
        c.eq(after, before, name + ": records after the restart")

    # A second host while the first holds the chart; the first goes on.
    marker = sim.path("second-host-done")
    held = steps + [{"label": "hold", "until": {"file": marker, "timeout_ms": 60000, "every_ms": 250}},
                    {"label": "after lock", "fills": [AFTER_LOCK]}]
    first = sim.start("holder", {"chart": CHART, "default_wait_ms": 1100, "steps": held}, data, start_step="hold")
    c.ok(wait_for(sim.path("holder.out"), "Quorbelle collector outbox: ", 60), "holder started collecting")
    second_steps = [{"label": "second", "wait_ms": 0, "fills": SESSION + [SECOND_HOST_FILL]}, {"label": "again"}]
    second = sim.play("second", {"chart": CHART, "default_wait_ms": 1100, "steps": second_steps}, data)
    open(marker, "w").close()
    holder = sim.finish(first)
    c.eq(second.rc, 0, "second host exit status")
    c.eq(second.pauses(), [SETTINGS_LOCKED], "the second host's report")
    c.eq(second.input(15), '"%s"' % SETTINGS_LOCKED, "the second host's status")
    c.eq(holder.rc, 0, "holder exit status")
    c.eq(holder.pauses(), [], "holder pauses")
    got = fill_records(scope_dir)
    c.ok(fill_event_id(scope, SECOND_HOST_FILL, "UTC") + ".json" not in got, "the refused host recorded a fill")
    name = fill_event_id(scope, AFTER_LOCK, "UTC") + ".json"
    if c.ok(name in got, "holder recorded its fill after the second host"):
        c.record_bytes(got[name], lambda o: fill_record(scope, AFTER_LOCK, len(loaded), CHART, o), holder,
                       "holder's fill")
    c.eq(len(records(scope_dir)), len(loaded) + 1, "records after both hosts")

    # Replay follows the saved opt-in, never the typed input 3; replay
    # records say so in their source fragment.
    replay_scope = Scope("Sim1", "ESM25", "sess-replay", replay=True, allow_replay=True)
    refused_scope = Scope("Sim4", "ESM25", "sess-no-replay", replay=True)
    for s in (replay_scope, refused_scope):
        sim.prepare(data, s, SECRET)
    replay_chart = dict(CHART, replaying=True)
    replay_fill = fill("P-1", "2025-07-01 09:00:00", 21, 5690)
    replay_steps = [{"label": "replay", "wait_ms": 0, "fills": [replay_fill]},
                    {"label": "typed no", "inputs": {"3": False}, "repeat": 2},
                    {"label": "no opt-in", "chart": {"account": "Sim4"}, "clear_fills": True,
                     "fills": [fill("P-2", "2025-07-01 09:01:00", 22, 5691, account="Sim4")],
                     "inputs": {"3": True}, "repeat": 2}]
    replay = sim.play("replay", {"chart": replay_chart, "default_wait_ms": 1100, "steps": replay_steps}, data)
    c.eq(replay.rc, 0, "replay: exit status")
    c.eq(replay.pauses("replay") + replay.pauses("typed no"), [], "replay: pauses with the saved opt-in")
    got = fill_records(replay_scope.outbox_dir(data))
    name = fill_event_id(replay_scope, replay_fill, "UTC") + ".json"
    if c.ok(name in got, "replay: record of the replayed fill"):
        c.record_bytes(got[name], lambda o: fill_record(replay_scope, replay_fill, 0, replay_chart, o), replay,
                       "replay: fill")
    c.eq(len(records(replay_scope.outbox_dir(data))), 1, "replay: records")
    c.eq(replay.pauses("no opt-in"), ["REPLAY_OPT_IN_REQUIRED Saved source and queued records are retained; "
                                      "sync is paused."], "replay without the saved opt-in")
    c.eq(replay.input(3), "No", "replay without the saved opt-in: input 3 after typing Yes")
    c.ok(not os.path.exists(refused_scope.outbox_dir(data)), "replay without the opt-in: a scope outbox exists")

    # At most 250 new records a poll: 600 loaded fills arrive as 250, 250, 100.
    cap_scope = Scope("Sim5", "ESM25", "sess-cap")
    cap_data = sim.path("cap")
    sim.prepare(cap_data, cap_scope, SECRET)
    cap_chart = dict(CHART, account="Sim5")
    many = [fill("C-%03d" % i, "2025-07-01 08:00:%02d" % (i % 60), 100 + i, 5000 + i * 0.25) for i in range(600)]
    cap_steps = [{"label": "load", "wait_ms": 0, "fills": many}, {"label": "poll 2"}, {"label": "poll 3"},
                 {"label": "poll 4"}]
    for k, expected in enumerate((250, 500, 600, 600)):
        # One host per poll, each restarted at the next step with the same fills.
        run_k = sim.play("cap-%d" % k, {"chart": cap_chart, "steps": cap_steps[:k + 1], "end": "exit"}, cap_data,
                         start_step=k)
        c.eq(run_k.pauses(), [], "cap: pauses of poll %d" % (k + 1))
        c.eq(len(fill_records(cap_scope.outbox_dir(cap_data))), expected, "cap: records after poll %d" % (k + 1))
    got = fill_records(cap_scope.outbox_dir(cap_data))
    c.eq(set(got), {fill_event_id(cap_scope, f, "UTC") + ".json" for f in many}, "cap: one record per fill")

    # Another program holding the scope's collector lock: the study says so,
    # then keeps its lock message until Allow sync goes off and on after the
    # holder let go; then it records every fill, none lost.
    held_scope = Scope("Sim6", "ESM25", "sess-held")
    held_data = sim.path("held")
    sim.prepare(held_data, held_scope, SECRET)
    held_dir = held_scope.outbox_dir(held_data)
    os.makedirs(held_dir)
    released, resume = sim.path("holder-released"), sim.path("resume")
    holder_log = sim.path("file-holder.out")
    sim.outputs.append(holder_log)
    with open(holder_log, "wb") as out:
        file_holder = subprocess.Popen([sim.wine_run, sim.hostsim, "hold", os.path.join(held_dir, "collector.lock"),
                                        released], stdout=out, stderr=subprocess.STDOUT)
    c.ok(wait_for(holder_log, "HOSTSIM HOLD", 60), "the file holder did not start")
    held_fills = [fill("H-1", "2025-07-01 09:10:00", 31, 5710), fill("H-2", "2025-07-01 09:11:00", 32, 5711)]
    held_steps = [{"label": "open", "wait_ms": 0, "fills": held_fills},
                  {"label": "held", "until": {"file": resume, "timeout_ms": 60000, "every_ms": 250}},
                  {"label": "allow off", "inputs": {"0": False}},
                  {"label": "allow on", "inputs": {"0": True}}]
    held_chart = dict(CHART, account="Sim6")
    study = sim.start("held-lock", {"chart": held_chart, "default_wait_ms": 1100, "steps": held_steps}, held_data)
    c.ok(wait_for(sim.path("held-lock.out"), LOCK_UNAVAILABLE, 60), "held lock: no lock message")
    c.eq(fill_records(held_dir), {}, "held lock: records while the lock is held")
    open(released, "w").close()
    c.eq(file_holder.wait(timeout=60), 0, "file holder exit status")
    open(resume, "w").close()
    run = sim.finish(study)
    c.eq(run.rc, 0, "held lock: exit status")
    c.eq(run.pauses(), [COLLECTOR_LOCKED, LOCK_UNAVAILABLE], "held lock: reports")
    c.eq(run.logs("allow on").count("Quorbelle collector resumed successfully."), 1, "held lock: resumption lines")
    got = fill_records(held_dir)
    for i, f in enumerate(held_fills):
        name = fill_event_id(held_scope, f, "UTC") + ".json"
        if c.ok(name in got, "held lock: record of fill %d" % i):
            c.record_bytes(got[name], lambda o, f=f, i=i: fill_record(held_scope, f, i, held_chart, o), run,
                           "held lock: fill %d" % i)
    c.eq(len(got), len(held_fills), "held lock: records after the release")

    c.no_secret(SECRET, scope.email, [data, cap_data, held_data], sim.outputs, "secret")
    return c.finish(sim)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
