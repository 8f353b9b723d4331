"""The setup window for real: the host simulator with a real chart window
plays a trader who opens setup from the chart menu, types the email and the
account secret, loads the accounts from the journal-service peer, picks one,
starts sync, pauses and starts again, all with window messages into the study
library's own window and controller. The chart thread keeps calling while the
peer holds the readiness answer of the account discovery.

usage: setup_e2e_test.py <build-dir>   (re-runs itself inside with-peer)
"""

import json
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e_lib  # noqa: E402

EMAIL = "trader@example.com"
SECRET = "peer-secret"
ACCOUNT_ID = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e"
ACCOUNT_NAME = "Peer Demo Account"
SESSION = "setup-e2e-session"
DISCOVERY_HOLD_MS = 3000
CALL_BOUND_MS = 500

# The window's control ids.
EMAIL_EDIT, SECRET_EDIT, LOAD, ACCOUNTS, START, PAUSE = 100, 101, 102, 103, 111, 112

CHART = {
    "account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "Eastern Standard Time",
    # A native chart: the connection check needs the host's instrument description.
    "security_kind": 1, "trade_service": "Simulated",
    "symbol_details": {"tick_size": 0.25, "value_per_tick": 12.5, "contract_size": 50,
                       "display_multiplier": 1, "last_trading_date": "2025-06-20 00:00:00"},
    "start_time": "2025-03-07 09:29:58",
    "chart_window": True, "time_calls": True,
}

FILLS = [
    {"order_id": 1001, "side": "buy", "quantity": 1, "price": 5700.25, "execution_id": "SIM-1001-1",
     "position": 1, "time": "2025-03-07 09:31:12.250"},
    {"order_id": 1003, "side": "sell", "quantity": 1, "price": 5712.5, "execution_id": "SIM-1003-1",
     "position": 0, "time": "2025-03-07 09:52:41.500"},
]
PAUSED_FILL = {"order_id": 1005, "side": "buy", "quantity": 2, "price": 5701, "execution_id": "SIM-1005-1",
               "position": 2, "time": "2025-03-07 10:05:00"}


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
                       {"click": START},
                       {"status": "applied 2", "timeout_ms": 30000}]},
            {"label": "pause", "setup": [{"click": PAUSE}, {"status": "Sync paused"}]},
            {"label": "fill while paused", "fills": [PAUSED_FILL],
             "until": {"file": resume_signal, "timeout_ms": 30000, "every_ms": 100}},
            {"label": "start again", "setup": [{"click": START}, {"status": "applied 3", "timeout_ms": 30000}]},
            # The window stays open and active: the final call closes it.
        ],
    }


def request_lines(state):
    path = os.path.join(state, "requests.jsonl")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def stored_executions(state):
    path = os.path.join(state, "executions", ACCOUNT_ID + ".jsonl")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def wait_for_line(out_path, pattern, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        with open(out_path, "rb") as f:
            if re.search(pattern, f.read().decode("utf-8", errors="replace"), re.M):
                return True
        time.sleep(0.1)
    return False


def call_lines(lines):
    """(index in lines, call number, milliseconds, kind) of every timed call."""
    out = []
    for i, line in enumerate(lines):
        m = re.match(r"HOSTSIM CALL (\d+) ([0-9.]+) ms(?: \((\w+)\))?$", line)
        if m:
            out.append((i, int(m.group(1)), float(m.group(2)), m.group(3) or ""))
    return out


def main():
    build = os.path.abspath(sys.argv[1])
    if "QB_PEER_STATE_DIR" not in os.environ:
        env = dict(os.environ, QB_PEER_EXE=os.path.join(build, "tools", "peer-native", "qb-peer"), QB_BUILD=build)
        return subprocess.call([os.path.join(ROOT, "tests", "common", "with-peer"), "--",
                                sys.executable, os.path.abspath(__file__), build], env=env)
    state = os.environ["QB_PEER_STATE_DIR"]
    port = int(os.environ["QB_PEER_HTTP_PORT"])
    # The discovery's readiness request waits on the peer; nothing else does.
    with open(os.path.join(state, "script.json"), "w") as f:
        json.dump({"rules": [{"match": {"method": "GET", "path": "/api/sierrachart-sync/", "nth": 1}, "times": 1,
                              "action": {"process": True, "delay_ms": DISCOVERY_HOLD_MS}}]}, f)

    sim = e2e_lib.Sim(build, "setup")
    checks = e2e_lib.Checks("setup_e2e")
    data = sim.path("data")
    # The window cannot name the service origin: only that (the local peer)
    # is saved beforehand, with no identity, destination or secret.
    seed = e2e_lib.Scope("Sim1", "ESM25", SESSION, origin="http://127.0.0.1:%d" % port, email="",
                         account_id="", enabled=False, account_name="", sync_notes=False)
    settings_path = sim.prepare(data, seed, "")
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
    checks.eq(run.text.count("HOSTSIM SETUP DONE"), 4, "setup action lists completed")
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
    checks.no_secret(SECRET, EMAIL, [data], sim.outputs, "no secret in clear")
    return checks.finish(sim)


if __name__ == "__main__":
    sys.exit(main())
