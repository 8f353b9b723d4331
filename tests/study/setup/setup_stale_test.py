"""A stale result never wins, with the real window, controller and peer: the
peer holds a readiness answer while the trader closes the window, removes the
study, pauses or edits a field; the held work is cancelled, nothing is saved
or started from it, and no thread outlives the window or the study.

usage: setup_stale_test.py <build-dir> [case]   (each case against a fresh peer)
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from setup_lib import (ACCOUNT_NAME, CHART, EMAIL, EMAIL_EDIT, FILLS, LOAD, PAUSE,  # noqa: E402
                       SECRET, SECRET_EDIT, START, Sim, call_lines, e2e_lib, hold_readiness, peer_script,
                       request_lines, seed_settings, stored_executions, with_peer)

LONG_HOLD_MS = 20000   # longer than any case may take: a wait on it would show
CHECK_HOLD_MS = 6000
FINAL_CALL_BOUND_MS = 5000

CREDENTIALS = [{"wait_window": "Quorbelle Sync setup"},
               {"type": EMAIL, "into": EMAIL_EDIT}, {"type": SECRET, "into": SECRET_EDIT}]
TO_CHECK = CREDENTIALS + [{"click": LOAD}, {"status": "Choose the destination account"},
                          {"pick": ACCOUNT_NAME}, {"click": START},
                          {"status": "Checking the Quorbelle sync connection"}]
# Long enough for a held check to have come back had it not been cancelled.
AFTER_CHECK = {"label": "after", "wait_ms": 200, "repeat": 40}

CASES = {
    # Closing the window cancels the discovery; the study then goes.
    "close_during_discovery": (
        [hold_readiness(1, LONG_HOLD_MS)],
        [{"label": "load", "fills": FILLS,
          "setup": CREDENTIALS + [{"click": LOAD}, {"status": "Loading your Quorbelle accounts"}, {"close": True}]},
         {"label": "after", "wait_ms": 100, "repeat": 10}]),
    # The study is removed (final call) while the window is open and the discovery held.
    "removed_during_discovery": (
        [hold_readiness(1, LONG_HOLD_MS)],
        [{"label": "load", "fills": FILLS,
          "setup": CREDENTIALS + [{"click": LOAD}, {"status": "Loading your Quorbelle accounts"}]}]),
    # Pause while the check of Start is on the network: nothing starts.
    "pause_during_check": (
        [hold_readiness(2, CHECK_HOLD_MS)],
        [{"label": "check", "fills": FILLS, "setup": TO_CHECK + [{"click": PAUSE}, {"status": "Sync paused"}]},
         AFTER_CHECK]),
    # An edit while the check runs cancels it: nothing is saved or started.
    "edit_during_check": (
        [hold_readiness(2, CHECK_HOLD_MS)],
        [{"label": "check", "fills": FILLS,
          "setup": TO_CHECK + [{"type": "other@example.com", "into": EMAIL_EDIT},
                               {"status": "Settings changed. Connection check canceled"}]},
         AFTER_CHECK]),
}


def run_case(build, name):
    rules, steps = CASES[name]
    state = os.environ["QB_PEER_STATE_DIR"]
    peer_script(state, rules)
    sim = Sim(build, "stale-" + name)
    checks = e2e_lib.Checks("setup_stale " + name)
    data = sim.path("data")
    seed_settings(sim, data, int(os.environ["QB_PEER_HTTP_PORT"]))
    # A host that crashes under wine waits for its debugger: the time-out ends it.
    run = sim.play("session", {"chart": CHART, "default_wait_ms": 100, "steps": steps}, data, timeout=30)

    checks.eq(run.rc, 0, "host exit status")
    # The library goes while the held request is still open inside WinHTTP.
    checks.ok("Unhandled" not in run.text, "the host survived unloading the library")
    checks.ok("HOSTSIM SETUP FAILED" not in run.text, "every setup action succeeded")
    final = [c for c in call_lines(run.lines) if c[3] == "final"]
    checks.ok(len(final) == 1 and final[0][2] < FINAL_CALL_BOUND_MS,
              "the final call closed the window and joined its threads promptly: %r" % final)
    checks.ok(run.ended - run.started < LONG_HOLD_MS / 1000.0 - 5,
              "the host ended in %.1f s, not after the held answer" % (run.ended - run.started))
    requests = request_lines(state)
    # A held discovery never reaches the account directory; a held check never starts a sender.
    posts = [r["path"] for r in requests if r["method"] == "POST"]
    expected = [] if name.endswith("_during_discovery") else ["/api/v2/journal/accounts"]
    checks.eq(posts, expected, "posts reaching the peer")
    checks.eq(stored_executions(state), [], "executions stored")
    logs = run.logs()
    checks.ok(not any("Start sync saved" in l for l in logs), "no Start was saved")
    checks.ok(not any("Connection check verified" in l for l in logs), "no check was recorded as verified")
    status = run.input(15) or ""
    if name == "pause_during_check":
        checks.ok(any("Sync paused. Saved records are retained." in l for l in logs), "the pause was saved")
        checks.eq(status, '"Sync paused."', "status input")
    else:
        checks.eq(status, '"Enter your Quorbelle credentials, load accounts, and Start sync."', "status input")
    checks.no_secret(SECRET, EMAIL, [data], sim.outputs, "no secret in clear")
    return checks.finish(sim)


def main():
    build = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2:
        outer = with_peer(build, __file__, sys.argv[2])
        return outer if outer is not None else run_case(build, sys.argv[2])
    failures = 0
    for name in CASES:
        rc = with_peer(build, __file__, name)
        if rc != 0:
            print("case %s failed (exit %d)" % (name, rc), flush=True)
            failures += 1
    print("setup_stale: %d of %d cases failed" % (failures, len(CASES)) if failures else "setup_stale: all cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
