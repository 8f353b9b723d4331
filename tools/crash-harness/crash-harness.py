#!/usr/bin/env python3
"""Kills the host the harsh way at random points and proves that every fill
still reaches the journal service exactly once, in the host's order.

usage: crash-harness.py --build DIR [--mode native|journal|both] [--kills K]
                        [--seed X] [--fills N] [--steps S] [--batch-size B]
                        [--span-ms MS] [--early-share F] [--work DIR]

One journal-service peer (tools/peer) lives for the whole run of a mode; the
host (tools/hostsim, through qb-kill-after) is started on the same data
folder until it was killed K times with TerminateProcess after a random
delay, each time restarted with --start-step at the step it had reached, so
that it has the earlier fill history loaded as a restarted chart would. Each
round also rewrites the peer's fault script with random answer delays,
dropped answers and retryable refusals, so that kills land while requests are
in flight and between an answer and its receipt. The scenario is longer than
the kills get through; a last, uninterrupted run is the host that reached the
last kill's step, kept open until every fill it loaded is applied.

Checks: after every round, what the peer stored is the start of the host's
fills; at the end the peer stored exactly the fills the host had loaded, each
once, sequences 1..N without gaps, in the host's fill order, with distinct
source execution ids; every fill note once; every attempt at a batch with
the same key and body bytes, and no key for two batches; no refusal,
conflict or overlapping resubmission at the peer; no "Needs attention" or rejection from
the study in any round.

The seed is printed; the same seed replays the same delays and fault scripts
(what the kill hits still depends on timing). Exit status 0 when every mode
passed, 1 on a finding, 2 on a harness problem.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ACCOUNT = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def log(msg):
    print(msg, flush=True)


class Finding(Exception):
    pass


def write_atomic(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def play(wine, argv, out_path, timeout_s):
    """Runs a host under wine, its output to out_path; returns the exit status
    and the milliseconds from the launch to the host's first step line."""
    t0 = time.monotonic()
    first_step_ms = None
    with open(out_path, "wb") as out:
        p = subprocess.Popen([wine] + argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        timer = threading.Timer(timeout_s, p.kill)
        timer.start()
        try:
            for line in p.stdout:
                if first_step_ms is None and line.startswith(b"HOSTSIM STEP "):
                    first_step_ms = int((time.monotonic() - t0) * 1000)
                out.write(line)
            rc = p.wait()
        finally:
            timer.cancel()
    if rc < 0:
        raise RuntimeError(f"the host did not end within {timeout_s:.0f} s (see {out_path})")
    return rc, first_step_ms


def fault_script(rng, mode):
    """Random peer rules for one round: slow answers on every delivery
    request, sometimes a processed-then-dropped answer or a 503 first."""
    batch_path = "/api/sierrachart-sync/" if mode == "native" else "/api/v2/journal/execution-batches"
    rules = []
    if rng.random() < 0.35:
        # Applied at the peer but the answer never arrives: the client must
        # send the same key and body again and take the replayed receipt.
        rules.append({"match": {"method": "POST", "path_prefix": batch_path, "nth": rng.randrange(1, 4)},
                      "times": 1, "action": {"drop": True}})
    if rng.random() < 0.2:
        rules.append({"match": {"method": "POST", "path_prefix": batch_path, "nth": rng.randrange(1, 4)},
                      "times": 1, "action": {"status": 503}})
    rules.append({"match": {"method": "POST", "path_prefix": batch_path}, "times": 0,
                  "action": {"delay_ms": rng.randrange(20, 400)}})
    if mode == "journal":
        imports = "/api/v2/journal/execution-imports/"
        if rng.random() < 0.2:
            rules.append({"match": {"method": "GET", "path_prefix": imports, "nth": rng.randrange(1, 3)},
                          "times": 1, "action": {"status": 503}})
        rules.append({"match": {"method": "GET", "path_prefix": imports}, "times": 0,
                      "action": {"delay_ms": rng.randrange(20, 300)}})
    notes = "/api/v2/journal/notes"
    if rng.random() < 0.2:
        # A stored note whose answer is lost must not be stored again.
        rules.append({"match": {"method": "POST", "path_prefix": notes, "nth": rng.randrange(1, 3)},
                      "times": 1, "action": {"drop": True}})
    rules.append({"match": {"method": "POST", "path_prefix": notes}, "times": 0,
                  "action": {"delay_ms": rng.randrange(20, 300)}})
    return {"rules": rules}


def run_mode(a, mode, rng, work):
    build = a.build
    state = os.environ["QB_PEER_STATE_DIR"]
    port = os.environ["QB_PEER_HTTP_PORT"]
    wine = os.path.join(build, "wine-run")
    hostsim = os.path.join(build, "tools", "hostsim", "qb-hostsim.exe")
    killer = os.path.join(build, "tools", "crash-harness", "qb-kill-after.exe")
    dll = os.path.join(build, "src", "study", "QuorbelleSync.dll")
    data = os.path.join(work, "data")
    subprocess.run(["rm", "-rf", work], check=True)
    os.makedirs(data)

    scenario = os.path.join(work, "scenario.json")
    subprocess.run([sys.executable, os.path.join(HERE, "make-scenario.py"), scenario, "--fills", str(a.fills),
                    "--steps", str(a.steps), "--seed", str(rng.randrange(1 << 30)),
                    "--wait-ms", str(a.wait_ms), "--deliver-timeout-ms",
                    # a second a fill, within the host's one-hour limit for a step
                    str(min(3600000, max(120000, a.fills * 1000)))],
                   check=True)
    expected = [json.loads(line) for line in open(scenario + ".expected")]
    plan = json.load(open(scenario))
    steps = plan["steps"]

    def restart_scenario(name, first, last_steps=None):
        """The scenario a host restarted at step `first` plays: it calls the
        study as soon as the chart is open, without the step's usual wait."""
        doc = dict(plan, steps=[dict(step) for step in (last_steps or steps)])
        if first > 0:
            doc["steps"][first]["wait_ms"] = 0
        path = os.path.join(work, name)
        with open(path, "w") as f:
            json.dump(doc, f)
        return path
    deliver_step = len(steps) - 1

    settings = {"origin": f"http://127.0.0.1:{port}", "allow_loopback_http": True,
                "email": "trader@example.com", "account_id": ACCOUNT, "account_name": "Peer Demo Account",
                "source_account": "Sim1", "source_symbol": "ESM25", "session_id": "crash-session",
                "simulation": True, "replay": False, "api_symbol": "ESM25", "asset_type": "future",
                "currency": "USD", "sync_notes": True, "enabled": True, "batch_size": a.batch_size}
    if mode == "native":
        settings["native_instrument_protocol"] = 1
    doc = {"settings": settings, "secret": "peer-secret", "allow_replay": False, "note_revision": 0,
           "screenshot_revision": 0, "pending_notes": [], "pending_screenshots": []}
    settings_path = os.path.join(work, "settings.json")
    with open(settings_path, "w") as f:
        json.dump(doc, f)
    r = subprocess.run([wine, hostsim, "prepare-settings", data, settings_path], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"prepare-settings failed ({r.returncode}): {r.stdout}{r.stderr}")

    script_path = os.path.join(state, "script.json")
    start = 0
    kills = 0
    points = {}
    startups = [800]
    needs_attention = []
    t0 = time.monotonic()
    rnd = 0
    while kills < a.kills and rnd < 2 * a.kills:
        rnd += 1
        # The kill is timed from the host's start, which under wine takes
        # from a third of a second to well over one, more on a loaded
        # machine; so the delay is the recent start-up time plus a random
        # offset. Most offsets land once the sender is busy, a share earlier:
        # in the library's start, the spool load and the first poll.
        recent = sorted(startups[-5:])
        est = recent[len(recent) // 2]
        if rng.random() < a.early_share:
            offset = rng.randrange(-est + a.min_delay_ms, a.busy_after_ms)
        else:
            offset = rng.randrange(a.busy_after_ms, a.busy_after_ms + a.span_ms)
        delay = max(a.min_delay_ms, est + offset)
        write_atomic(script_path, json.dumps(fault_script(rng, mode)))
        out_path = os.path.join(work, f"round-{rnd:03d}.out")
        rc, first_step_ms = play(wine, [killer, str(delay), hostsim, "play", dll,
                                        restart_scenario("round.json", start), "--data-folder", data,
                                        "--start-step", str(start)], out_path, delay / 1000 + 120)
        if first_step_ms is not None:
            startups.append(first_step_ms)
        text = open(out_path, "rb").read().decode("utf-8", "replace")
        reached = [int(m) for m in re.findall(r"^HOSTSIM STEP (\d+)", text, re.M)]
        last = reached[-1] if reached else start
        status = re.findall(r"^HOSTSIM STATUS (.*)$", text, re.M)
        shown = status[-1] if status else "-"
        if rc == 137:
            kills += 1
            what = f"killed in step {last}"
            point = kill_point(text)
            points[point] = points.get(point, 0) + 1
            what += f" ({point})"
        elif rc == 0:
            what = "ran to the end"
        elif rc in (2, 3):
            # A scenario the host refuses, or a library it cannot load (for
            # one rebuilt during the run): nothing the study did.
            raise RuntimeError(f"{mode} round {rnd}: host exited {rc} (see {out_path})")
        else:
            raise Finding(f"{mode} round {rnd}: host exited {rc} (see {out_path})")
        log(f"{mode} round {rnd}: start-step {start} delay {delay} ms (start-up {est} + {offset}): {what}; "
            f"status: {shown}")
        for line in re.findall(ATTENTION, text, re.M):
            needs_attention.append(f"round {rnd}: {line}")
        if needs_attention:
            break
        # Whatever the peer holds so far must be the start of the host's fills.
        early = verify_prefix(state, mode, expected)
        if early:
            raise Finding(f"{mode} round {rnd} (seed {a.seed}): " + "; ".join(early))
        # A killed host comes back with what it had loaded: the history up to
        # the step it was in, replayed without calls, and that step again.
        start = last if rc == 137 else deliver_step
    elapsed = time.monotonic() - t0

    # The scenario is longer than the kills get through, so that every kill
    # meets a busy host. The final run is the host that got as far as the
    # last one, and then stays open until everything it loaded is delivered.
    final_steps = steps
    if start < deliver_step:
        loaded = sum(len(step.get("fills", [])) for step in steps[:start + 1])
        expected = expected[:loaded]
        until = dict(steps[deliver_step]["until"], status=f"; applied {loaded}; pending notes 0")
        final_steps = steps[:start + 1] + [{"label": "deliver", "until": until}]
    final_scenario = restart_scenario("final.json", start, final_steps)
    final_rc = None
    if not needs_attention:
        write_atomic(script_path, json.dumps({"rules": []}))
        out_path = os.path.join(work, "final.out")
        final_rc, _ = play(wine, [hostsim, "play", dll, final_scenario, "--data-folder", data,
                                  "--start-step", str(start)], out_path, 600)
        text = open(out_path, "rb").read().decode("utf-8", "replace")
        for line in re.findall(ATTENTION, text, re.M):
            needs_attention.append(f"final: {line}")
        status = re.findall(r"^HOSTSIM STATUS (.*)$", text, re.M)
        log(f"{mode} final run from step {start}: exit {final_rc}; status: {status[-1] if status else '-'}")

    problems = list(needs_attention)
    if final_rc not in (None, 0):
        problems.append(f"the final run exited {final_rc} (4: the status never showed every fill applied)")
    problems += verify(state, mode, expected)
    log(f"{mode}: {kills} kills in {elapsed:.0f} s over {rnd} rounds, {len(expected)} fills, "
        f"batch size {a.batch_size}; last logged before the kill: "
        + ", ".join(f"{n} {p}" for p, n in sorted(points.items(), key=lambda x: -x[1])))
    if problems:
        raise Finding(f"{mode}: " + "\n  ".join(["findings:"] + problems))


ATTENTION = r"^HOSTSIM (?:LOG|STATUS) .*(?:Needs attention|Import rejected|Rejected executions).*$"


def kill_point(text):
    """What the study had last reported when the kill came; the log reaches
    the host only on a call, so this trails the real point by up to a call."""
    if not re.search(r"^HOSTSIM STEP", text, re.M):
        return "host start"
    lines = re.findall(r"^HOSTSIM LOG \d Quorbelle sync: (.*)$", text, re.M)
    for line in reversed(lines):
        if line.startswith(("Sending ", "Submitting ", "Checking ")):
            return "request sent"
        if line.startswith("Server "):
            return "answer received"
        if line.startswith(("Verified receipt", "Applied ", "Queued note")):
            return "receipt saved"
        if line.startswith("Queued execution"):
            return "intake"
        if line.startswith("Retrying"):
            return "retry wait"
        if line.startswith(("Sender connection verified", "Local journal")):
            return "sender start"
    return "library start"


def stored_executions(state, mode):
    path = os.path.join(state, "executions", ACCOUNT + ".jsonl")
    stored = [json.loads(line) for line in open(path)] if os.path.exists(path) else []
    return [s for s in stored if s["mode"] == mode]


def compare(stored, expected, mode):
    problems = []
    seqs = [s["sequence"] for s in stored]
    if seqs != list(range(1, len(seqs) + 1)):
        problems.append(f"stored sequences are not 1..{len(seqs)} in order: {seqs}")
    if len(stored) > len(expected):
        problems.append(f"the peer stored {len(stored)} executions for {len(expected)} fills")
    ids = [s["execution"].get("source_execution_id") for s in stored]
    if len(set(ids)) != len(ids):
        problems.append("a source execution id was stored twice")
    for i, (s, e) in enumerate(zip(stored, expected)):
        x = s["execution"]
        got = {"executed_at": x.get("executed_at"), "side": x.get("side"), "quantity": x.get("quantity"),
               "price": x.get("price" if mode == "native" else "native_price")}
        want = {k: e[k] for k in got}
        if got != want or x.get("source_sequence") != str(i + 1):
            problems.append(f"sequence {i + 1}: stored {got} (source_sequence {x.get('source_sequence')}), "
                            f"host fill {want}")
            if len(problems) > 12:
                break
    return problems


def verify_prefix(state, mode, expected):
    return compare(stored_executions(state, mode), expected, mode)


def check_resends(state, mode):
    """Every attempt at one batch, whatever became of it (answered, dropped,
    refused by an injected fault), carried one key and one body: a batch is
    frozen before its first send and never re-keyed or re-sized. Also no key
    names two batches."""
    by_first, by_key = {}, {}
    for line in open(os.path.join(state, "requests.jsonl")):
        q = json.loads(line)
        if q["method"] != "POST" or not q.get("batch"):
            continue
        sent = (str(q["batch"]["first_sequence"]), q["batch"]["count"], q["idempotency_key"], q["body_sha256"])
        by_first.setdefault(sent[0], []).append(sent)
        by_key.setdefault(sent[2], set()).add(sent[0])
    problems = []
    for first, attempts in sorted(by_first.items(), key=lambda kv: int(kv[0])):
        if len(set(attempts)) > 1:
            forms = "; ".join(f"count {c} key {k} body {h[:12]}" for _, c, k, h in sorted(set(attempts)))
            problems.append(f"batch from sequence {first} was sent in more than one form: {forms}")
    for key, firsts in by_key.items():
        if len(firsts) > 1:
            problems.append(f"key {key} was sent for batches from sequences {', '.join(sorted(firsts, key=int))}")
    resent = sum(1 for attempts in by_first.values() if len(attempts) > 1)
    log(f"{mode}: {len(by_first)} batches, {resent} sent more than once, each time with its one key and body"
        if not problems else f"{mode}: {len(by_first)} batches, {resent} sent more than once")
    return problems


def verify(state, mode, expected):
    stored = stored_executions(state, mode)
    problems = compare(stored, expected, mode)
    if len(stored) < len(expected):
        problems.append(f"the peer stored {len(stored)} executions for {len(expected)} fills")
    if mode == "journal" and len({s["client_instance"] for s in stored}) > 1:
        problems.append("executions arrived from more than one client instance")

    noted = {e["native_fill_id"]: e["note"] for e in expected if e["note"]}
    seen = {}
    notes_dir = os.path.join(state, "notes")
    for name in sorted(os.listdir(notes_dir)) if os.path.isdir(notes_dir) else []:
        for line in open(os.path.join(notes_dir, name)):
            n = json.loads(line)
            m = re.search(r"\nFill: (\S+)\n", n["note"].get("text", ""))
            key = m.group(1) if m else "?"
            seen[key] = seen.get(key, 0) + 1
    for fid in noted:
        if seen.get(fid, 0) != 1:
            problems.append(f"note of fill {fid} stored {seen.get(fid, 0)} times")
    for fid in seen:
        if fid not in noted:
            problems.append(f"unexpected note stored ({fid}) {seen[fid]} times")

    problems += check_resends(state, mode)

    stats = json.load(open(os.path.join(state, "stats.json")))
    for name in ("conflicts", "refused", "duplicate_executions"):
        if stats.get(name):
            problems.append(f"peer stats {name} = {stats[name]} (a doubled, reordered or refused submission)")
    if problems:
        bad = [json.loads(line) for line in open(os.path.join(state, "requests.jsonl"))]
        for q in bad:
            if q.get("error_code") and q.get("fault") is None:
                problems.append(f"refused request: {q['method']} {q['path']} {q['status']} {q['error_code']}")
    log(f"{mode}: peer stats {json.dumps(stats, sort_keys=True)}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--mode", choices=["native", "journal", "both"], default="both")
    ap.add_argument("--kills", type=int, default=50)
    ap.add_argument("--seed", type=int)
    ap.add_argument("--fills", type=int, default=60)
    ap.add_argument("--steps", type=int, default=6)
    ap.add_argument("--wait-ms", type=int, default=250)
    ap.add_argument("--batch-size", type=int, default=5)
    ap.add_argument("--min-delay-ms", type=int, default=200)
    ap.add_argument("--busy-after-ms", type=int, default=700)
    ap.add_argument("--span-ms", type=int, default=2000)
    ap.add_argument("--early-share", type=float, default=0.15)
    ap.add_argument("--work")
    a = ap.parse_args()
    a.build = os.path.abspath(a.build)
    if a.seed is None:
        a.seed = int.from_bytes(os.urandom(4), "little")
    # A fresh work folder per run, so that runs in one build tree do not meet;
    # it is removed when every check passed and kept for inspection otherwise.
    if a.work:
        work_root, keep = os.path.abspath(a.work), True
    else:
        os.makedirs(os.path.join(a.build, "crash-harness"), exist_ok=True)
        work_root, keep = tempfile.mkdtemp(prefix="run-", dir=os.path.join(a.build, "crash-harness")), False

    modes = ["native", "journal"] if a.mode == "both" else [a.mode]
    if "QB_PEER_HTTP_PORT" not in os.environ:
        # Each mode gets its own peer, alive for all of that mode's rounds.
        env = dict(os.environ, QB_PEER_EXE=os.path.join(a.build, "tools", "peer-native", "qb-peer"),
                   QB_BUILD=a.build)
        log(f"crash harness: seed {a.seed} (replay with --seed {a.seed})")
        status = 0
        for mode in modes:
            argv = [sys.executable, os.path.abspath(__file__)] + [x for x in sys.argv[1:]]
            argv += ["--mode", mode, "--seed", str(a.seed), "--work", work_root]
            env["QB_PEER_STATE_DIR"] = os.path.join(work_root, f"peer-{mode}")
            rc = subprocess.run([os.path.join(ROOT, "tests", "common", "with-peer"), "--"] + argv, env=env).returncode
            status = max(status, rc)
        if status == 0 and not keep:
            shutil.rmtree(work_root, ignore_errors=True)
        elif status != 0:
            log(f"crash harness: files kept in {work_root}")
        return status

    # One mode under its own peer.
    rng = random.Random(f"{a.seed}:{a.mode}")
    try:
        run_mode(a, a.mode, rng, os.path.join(work_root, a.mode))
    except Finding as e:
        log(f"FINDING (seed {a.seed}): {e}")
        return 1
    except (RuntimeError, OSError, subprocess.SubprocessError) as e:
        log(f"HARNESS PROBLEM (seed {a.seed}): {e}")
        return 2
    log(f"{a.mode}: exactly once, in order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
