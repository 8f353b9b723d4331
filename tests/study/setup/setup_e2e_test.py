"""The setup window for real: the host simulator with a real chart window
plays a trader who opens setup from the chart menu, types the email and the
account secret, loads the accounts from the journal-service peer, picks one,
starts sync, pauses and starts again, all with window messages into the study
library's own window and controller. The chart thread keeps calling while the
peer holds the readiness answer of the account discovery.

usage: setup_e2e_test.py <build-dir>   (re-runs itself inside with-peer)
"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from setup_lib import (ACCOUNT_ID, ACCOUNT_NAME, CALL_BOUND_MS, CHART, DISCOVERY_HOLD_MS, EMAIL,  # noqa: E402
                       EMAIL_EDIT, FILLS, LOAD, PAUSE, PAUSED_FILL, SECRET, SECRET_EDIT, START, SYNC_NOTES, Sim, call_lines,
                       e2e_lib, hold_readiness, peer_script, request_lines, seed_settings, stored_executions,
                       stored_notes, NOTE_EDIT, SAVE_NOTE,
                       wait_for_line, with_peer)


NOTE = "Waited for the pullback; entry at the open range low."


def scenario(resume_signal):
    return {
        "chart": CHART,
        "default_wait_ms": 100,
        "steps": [
            # The window opens by itself on the first call for a chart that has a window;
            # the trader closes it and opens it again from the chart menu.
            {"label": "open chart", "fills": FILLS,
             "setup": [{"wait_window": "Quorbelle Sync setup"},
                       {"status": "Enter your Quorbelle credentials"},
                       {"close": True}]},
            {"label": "setup from menu", "menu": "Quorbelle Sync setup",
             "setup": [{"wait_window": "Quorbelle Sync setup"},
                       {"type": EMAIL, "into": EMAIL_EDIT},
                       {"type": SECRET, "into": SECRET_EDIT},
                       {"click": LOAD},
                       {"status": "Choose the destination account", "timeout_ms": 20000},
                       {"pick": ACCOUNT_NAME},
                       {"click": SYNC_NOTES},
                       {"click": START},
                       {"status": "applied 2", "timeout_ms": 30000}]},
            {"label": "pause", "setup": [{"click": PAUSE}, {"status": "Sync paused"}]},
            {"label": "fill while paused", "fills": [PAUSED_FILL],
             "until": {"file": resume_signal, "timeout_ms": 30000, "every_ms": 100}},
            {"label": "start again", "setup": [{"click": START}, {"status": "applied 3", "timeout_ms": 30000}]},
            # The chart shortcut turns the same window to its journal-note mode.
            {"label": "journal note", "key": "Ctrl+Shift+N",
             "setup": [{"wait_window": "Quorbelle Journal note"}, {"type": NOTE, "into": NOTE_EDIT},
                       {"click": SAVE_NOTE}, {"status": "Note saved locally"}],
             "until": {"log": "Applied note", "timeout_ms": 30000, "every_ms": 100}},
            # The window stays open and active: the final call closes it.
        ],
    }


def main():
    build = os.path.abspath(sys.argv[1])
    outer = with_peer(build, __file__)
    if outer is not None:
        return outer
    state = os.environ["QB_PEER_STATE_DIR"]
    # The discovery's readiness request waits on the peer; nothing else does.
    peer_script(state, [hold_readiness(1, DISCOVERY_HOLD_MS)])

    sim = Sim(build, "setup")
    checks = e2e_lib.Checks("setup_e2e")
    data = sim.path("data")
    settings_path = seed_settings(sim, data, int(os.environ["QB_PEER_HTTP_PORT"]))
    with open(settings_path, "rb") as f:
        seeded = f.read()

    signal = sim.path("resume.signal")
    started = sim.start("session", scenario(signal), data)
    out_path = sim.outputs[-1]
    # While the host waits on the signal with the new fill loaded, the paused
    # sender must send nothing.
    in_pause = wait_for_line(out_path, r"^HOSTSIM STEP 3 fill while paused$", 90)
    checks.ok(in_pause, "the session reached the paused step")
    before = len(request_lines(state))
    stored_at_pause = len(stored_executions(state))
    time.sleep(3)
    after = len(request_lines(state))
    checks.eq(after, before, "requests reaching the peer during 3 s of pause")
    checks.eq(stored_at_pause, 2, "executions stored before the pause")
    checks.eq(len(stored_executions(state)), 2, "executions stored while paused with a new fill loaded")
    open(signal, "w").close()
    run = sim.finish(started, timeout=90)
    lines = run.lines

    checks.eq(run.rc, 0, "host exit status")
    checks.ok("HOSTSIM SETUP FAILED" not in run.text, "every setup action succeeded")
    checks.eq(run.text.count("HOSTSIM SETUP DONE"), 5, "setup action lists completed")
    checks.ok(any(l.startswith("HOSTSIM MENU PICK") and l.endswith("Quorbelle Sync setup") for l in lines),
              "setup opened from the chart menu")

    # The peer: every execution once, in order, native mode, through the picked account.
    executions = stored_executions(state)
    checks.eq([e["sequence"] for e in executions], [1, 2, 3], "stored sequences")
    checks.eq([e["execution"]["executed_at"] for e in executions],
              ["2025-03-07T14:31:12.250000Z", "2025-03-07T14:52:41.500000Z", "2025-03-07T15:05:00.000000Z"],
              "stored execution times in order")
    checks.eq([e["execution"]["price"] for e in executions], ["5700.25", "5712.5", "5701"], "stored prices")
    checks.eq({e["mode"] for e in executions}, {"native"}, "delivery mode")
    requests = request_lines(state)
    discovery = [r for r in requests if r["path"] == "/api/v2/journal/accounts"]
    checks.eq(len(discovery), 1, "account directory requests")
    checks.eq({r["user"] for r in requests}, {EMAIL}, "user of every request")
    checks.eq([r["status"] for r in requests if r["status"] >= 400], [], "refused requests")
    batches = [r for r in requests if r["method"] == "POST" and r["path"] == "/api/sierrachart-sync/"]
    checks.eq({r["account"] for r in batches}, {ACCOUNT_ID}, "account of every batch")
    notes = stored_notes(state)
    checks.eq(len(notes), 1, "notes stored")
    checks.ok(notes and NOTE in notes[0]["note"]["text"], "the journal note's text reached the peer: %r" % notes)

    # The window's status line showed the running sender, and the host's status input agrees.
    checks.ok(any(re.match(r'HOSTSIM SETUP \d+ status ".*applied 2', l) for l in lines),
              "the window's status line showed sync running")
    checks.ok(any(re.match(r'HOSTSIM SETUP \d+ status "Sync paused', l) for l in lines),
              "the window's status line showed the pause")
    checks.ok((run.input(15) or "").find("applied 3") >= 0, "status input at the end: %r" % run.input(15))

    # The chart thread never waited on the window: while the peer held the
    # discovery, the chart kept calling and every call returned promptly.
    load = next((i for i, l in enumerate(lines) if re.match(r'HOSTSIM SETUP \d+ click 102 ', l)), None)
    loaded = next((i for i, l in enumerate(lines)
                   if re.match(r'HOSTSIM SETUP \d+ status "Choose the destination account', l)), None)
    checks.ok(load is not None and loaded is not None and load < loaded, "Load accounts, then the account list")
    if load is not None and loaded is not None:
        held = re.search(r"after (\d+) ms$", lines[loaded])
        checks.ok(held and int(held.group(1)) >= DISCOVERY_HOLD_MS - 500,
                  "the discovery was held by the peer: %s" % lines[loaded])
        during = [c for c in call_lines(lines) if load < c[0] < loaded]
        checks.ok(len(during) >= 10, "chart calls while the discovery was held: %d" % len(during))
        slow = [c for c in during if c[2] >= CALL_BOUND_MS]
        checks.eq(slow, [], "calls of %d ms or more while the discovery was held" % CALL_BOUND_MS)
    ordinary = [c for c in call_lines(lines) if c[3] == ""]
    checks.ok(ordinary and max(c[2] for c in ordinary) < 5000,
              "slowest ordinary call: %.1f ms" % max((c[2] for c in ordinary), default=-1))
    final = [c for c in call_lines(lines) if c[3] == "final"]
    checks.ok(len(final) == 1 and final[0][2] < 10000, "the final call closed the open window: %r" % final)

    # The saved settings: rewritten by Start, the secret never in clear.
    with open(settings_path, "rb") as f:
        saved = f.read()
    checks.ok(saved != seeded, "Start sync saved the settings file")
    for needle in (SECRET.encode(), SECRET.encode("utf-16-le")):
        checks.ok(needle not in saved, "secret %r in the settings file" % needle)

    # What Start saved is the whole setup: a restarted host syncs a new fill
    # with no one in the window, whose automatic check verifies the saved setup.
    later = dict(PAUSED_FILL, order_id=1007, execution_id="SIM-1007-1", price=5704.75, position=0,
                 side="sell", time="2025-03-07 10:20:00")
    restart = sim.play("restart", {"chart": CHART, "default_wait_ms": 100, "steps": [
        {"label": "reopen", "fills": FILLS + [PAUSED_FILL, later],
         "setup": [{"wait_window": "Quorbelle Sync setup"}, {"status": "applied 4", "timeout_ms": 30000}]}]},
        data, timeout=90)
    checks.eq(restart.rc, 0, "restarted host exit status")
    checks.ok(any("Connection check verified" in l for l in restart.logs()), "the saved setup was verified on open")
    checks.eq([e["sequence"] for e in stored_executions(state)], [1, 2, 3, 4], "stored sequences after the restart")
    checks.no_secret(SECRET, EMAIL, [data], sim.outputs, "no secret in clear")
    return checks.finish(sim)


if __name__ == "__main__":
    sys.exit(main())
