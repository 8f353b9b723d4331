"""Shared pieces of the setup-window tests: the native chart, its fills, the
settings file that names only the local peer, and readers of what the peer
recorded and of the host's timed calls."""

import json
import os
import re
import subprocess
import sys
import tempfile
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
SYNC_NOTES, NOTE_EDIT, SAVE_NOTE = 106, 108, 109

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


class Sim(e2e_lib.Sim):
    """The e2e host runner with a work folder of this test's own naming (short:
    the data folder must fit the host's limit)."""

    def __init__(self, build, name):
        super().__init__(build, name)
        os.rmdir(self.work)
        self.work = tempfile.mkdtemp(prefix="qbsetup-%s-" % name, dir="/tmp")


def with_peer(build, script, *args):
    """Runs script with build and args inside with-peer against a fresh peer;
    None when already inside one."""
    if "QB_PEER_STATE_DIR" in os.environ:
        return None
    env = dict(os.environ, QB_PEER_EXE=os.path.join(build, "tools", "peer-native", "qb-peer"), QB_BUILD=build)
    return subprocess.call([os.path.join(ROOT, "tests", "common", "with-peer"), "--",
                            sys.executable, os.path.abspath(script), build] + list(args), env=env)


def peer_script(state, rules):
    with open(os.path.join(state, "script.json"), "w") as f:
        json.dump({"rules": rules}, f)


def hold_readiness(nth, ms):
    """A rule holding the nth readiness request ms before its real answer."""
    return {"match": {"method": "GET", "path": "/api/sierrachart-sync/", "nth": nth}, "times": 1,
            "action": {"process": True, "delay_ms": ms}}


def seed_settings(sim, data, port):
    """The window cannot name the service origin: only that (the local peer)
    is saved beforehand, with no identity, destination or secret."""
    seed = e2e_lib.Scope("Sim1", "ESM25", SESSION, origin="http://127.0.0.1:%d" % port, email="",
                         account_id="", enabled=False, account_name="", sync_notes=False)
    return sim.prepare(data, seed, "")


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


def stored_notes(state):
    out = []
    folder = os.path.join(state, "notes")
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name)) as f:
            out += [json.loads(line) for line in f if line.strip()]
    return out


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


