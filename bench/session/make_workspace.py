#!/usr/bin/env python3
"""Writes what a workspace of charts needs besides the scenario: the peer's
accounts file (one user with one journal account per chart) or the saved
settings document of each chart (its account on the host, "Sim1" and then
"Sim1-2" on, as qb-hostsim --charts names them, bound to its own journal
account).
usage: make_workspace.py accounts <charts> <accounts.json>
       make_workspace.py settings <charts> <peer-http-port> <dir>  (writes <dir>/settings-<k>.json)"""
import json
import sys

EMAIL, SECRET = "trader@example.com", "peer-secret"


def account_id(k):
    return "5b0c6a5e-8f4e-4c61-9d37-%012x" % k


def source_account(k):
    return "Sim1" if k == 1 else "Sim1-%d" % k


def main(argv):
    if len(argv) == 3 and argv[0] == "accounts":
        charts = int(argv[1])
        accounts = [{"account_id": account_id(k), "name": "Workspace Account %d" % k} for k in range(1, charts + 1)]
        with open(argv[2], "w") as out:
            json.dump({"users": [{"email": EMAIL, "secret": SECRET, "accounts": accounts, "connector_ready": True}]},
                      out)
    elif len(argv) == 4 and argv[0] == "settings":
        charts, port, folder = int(argv[1]), int(argv[2]), argv[3]
        for k in range(1, charts + 1):
            document = {
                "settings": {"origin": "http://127.0.0.1:%d" % port, "allow_loopback_http": True,
                             "email": EMAIL, "account_id": account_id(k), "account_name": "Workspace Account %d" % k,
                             "source_account": source_account(k), "source_symbol": "ESM25",
                             "session_id": "bench-workspace-%d" % k, "simulation": True, "replay": False,
                             "native_instrument_protocol": 1, "api_symbol": "ESM25", "asset_type": "future",
                             "currency": "USD", "sync_notes": True, "enabled": True, "batch_size": 100},
                "secret": SECRET, "allow_replay": False, "note_revision": 0, "screenshot_revision": 0,
                "pending_notes": [], "pending_screenshots": []}
            with open("%s/settings-%d.json" % (folder, k), "w") as out:
                json.dump(document, out)
    else:
        sys.exit(__doc__)


main(sys.argv[1:])
