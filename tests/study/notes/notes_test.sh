#!/usr/bin/env bash
# Orders, fills with notes across UTC midnight on a New York chart, a queued
# manual note and a queued chart capture, through the study library into the
# peer: every execution once and in order, every note once on its UTC day.
# Then the same session with the peer refusing or garbling every note:
# executions still arrive in order, notes stay on disk with an error record.
# usage: notes_test.sh <build-dir>
# Each case runs against a fresh peer: notes_test.sh <build-dir> <case> runs
# one case inside with-peer.
set -uo pipefail
build=$1
case_name=${2:-}
here="$(cd "$(dirname "$0")" && pwd)"
hostsim="$build/tools/hostsim/qb-hostsim.exe"
dll="$build/src/study/QuorbelleSync.dll"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

settings() {  # settings <file> <mode>
  local native=""
  [[ $2 == native ]] && native='"native_instrument_protocol": 1,'
  cat >"$1" <<JSON
{"settings": {"origin": "http://127.0.0.1:$QB_PEER_HTTP_PORT", "allow_loopback_http": true,
              "email": "trader@example.com", "account_id": "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e",
              "account_name": "Peer Demo Account", "source_account": "Sim1", "source_symbol": "ESM25",
              "session_id": "notes-session", "simulation": true, "replay": false, $native
              "api_symbol": "ESM25", "asset_type": "future", "currency": "USD",
              "sync_notes": true, "enabled": true, "batch_size": 1},
 "secret": "peer-secret", "allow_replay": false, "note_revision": 1, "screenshot_revision": 1,
 "pending_notes": [{"revision": 1, "text": "Manual note from the trader"}], "pending_screenshots": [1]}
JSON
}

run_session() {  # run_session <work-dir> <mode> <scenario>
  rm -rf "$1" && mkdir -p "$1/data"
  settings "$1/settings.json" "$2"
  "$build/wine-run" "$hostsim" prepare-settings "$1/data" "$1/settings.json" >"$1/prepare.out" 2>&1 ||
    { fail "prepare-settings"; cat "$1/prepare.out"; }
  "$build/wine-run" "$hostsim" play "$dll" "$3" --data-folder "$1/data" >"$1/session.out" 2>&1
  echo "exit $?" >>"$1/session.out"
}

# The stored executions, in order, as "sequence side quantity price executed_at" lines.
executions() {
  python3 - "$QB_PEER_STATE_DIR/executions/5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e.jsonl" <<'PY'
import json, sys
try:
    lines = open(sys.argv[1]).read().splitlines()
except FileNotFoundError:
    lines = []
for line in lines:
    r = json.loads(line)
    e = r["execution"]
    print(r["sequence"], e["side"], e["quantity"], e.get("price", e.get("native_price")), e["executed_at"])
PY
}

expected_executions="1 buy 2 5700.25 2025-03-07T23:59:59.900000Z
2 sell 2 5695 2025-03-08T00:00:00.100000Z"

if [[ -z $case_name ]]; then
  export QB_PEER_EXE="$build/tools/peer-native/qb-peer" QB_BUILD="$build"
  rm -rf "$build/notes-test" && mkdir -p "$build/notes-test"
  status=0
  for c in native journal fault-0 fault-1 fault-2 fault-3 capture-truncated; do
    "$here/../../common/with-peer" -- "$0" "$build" "$c" || status=1
  done
  if [[ $status -ne 0 ]]; then
    for f in "$build"/notes-test/*/session.out; do echo "---- $f"; grep -v '^HOSTSIM INPUT\|^HOSTSIM DECLARE' "$f" | tail -25; done
    exit 1
  fi
  echo "notes ok"
  exit 0
fi

for mode in native journal; do
  [[ $case_name == "$mode" ]] || continue
  work="$build/notes-test/$mode"
  run_session "$work" "$mode" "$here/session.json"
  out="$work/session.out"
  grep -qxF "exit 0" "$out" || fail "$mode: session did not end cleanly: $(tail -3 "$out")"
  [[ "$(executions)" == "$expected_executions" ]] || fail "$mode: stored executions differ: $(executions)"
  python3 - "$QB_PEER_STATE_DIR/notes" "$mode" <<'PY' || failures=$((failures + 1))
import glob, json, os, sys
notes_dir, mode = sys.argv[1], sys.argv[2]
by_day = {}
keys, bodies = [], []
for path in sorted(glob.glob(os.path.join(notes_dir, "*.jsonl"))):
    day = os.path.basename(path)[:-len(".jsonl")]
    for line in open(path):
        r = json.loads(line)
        note = r["note"]
        assert note["target"] == {"date": day, "type": "day"}, (path, note["target"])
        by_day.setdefault(day, []).append(note)
        keys.append(r["idempotency_key"])
        bodies.append(json.dumps(note, sort_keys=True))
problems = []
if len(set(keys)) != len(keys): problems.append("a note key was stored twice")
if len(set(bodies)) != len(bodies): problems.append("a note was stored twice")
def where(text):
    return sorted(d for d, ns in by_day.items() for n in ns if text in n["text"])
if where("entry before midnight") != ["2025-03-07"]: problems.append("entry note on %s" % where("entry before midnight"))
if where("exit after midnight") != ["2025-03-08"]: problems.append("exit note on %s" % where("exit after midnight"))
if len(where("Manual note from the trader")) != 1: problems.append("manual note %s" % where("Manual note from the trader"))
if len(where("Chart image retained locally")) != 1: problems.append("capture note %s" % where("Chart image retained locally"))
orders = [n for ns in by_day.values() for n in ns if n["title"] == "Sierra Chart order - ESM25"]
for order_id in ("2001", "2002", "2003"):
    if not any("internal_order_id: " + order_id in n["text"] for n in orders):
        problems.append("no order note for " + order_id)
# One record per observed change: three orders placed, three changed by the
# entry fill, the stop moved, the stop filled; polls without change add none.
if len(orders) != 8: problems.append("%d order notes, expected 8" % len(orders))
if not any("price1: 5695" in n["text"] and "internal_order_id: 2002" in n["text"] for n in orders):
    problems.append("the moved stop was not observed")
for p in problems: print("FAIL: %s: %s" % (mode, p))
sys.exit(1 if problems else 0)
PY
  grep -q '"conflicts":0' "$QB_PEER_STATE_DIR/stats.json" && grep -q '"refused":0' "$QB_PEER_STATE_DIR/stats.json" ||
    fail "$mode: peer stats $(cat "$QB_PEER_STATE_DIR/stats.json")"
  grep -q "Needs attention" "$out" && fail "$mode: the study needed attention"
done

# Note faults never hold back or reorder executions. Each rule answers every note.
faults=(
  '{"match":{"path":"/api/v2/journal/notes"},"times":0,"action":{"status":422,"error":{"code":"INVALID_ANNOTATION_BODY","field":"body"}}}'
  '{"match":{"path":"/api/v2/journal/notes"},"times":0,"action":{"override":{"target":{"date":"1999-01-01","type":"day"}}}}'
  '{"match":{"path":"/api/v2/journal/notes"},"times":0,"action":{"status":200,"body":"{\"status\":\"applied\"}"}}'
  '{"match":{"path":"/api/v2/journal/notes"},"times":0,"action":{"status":503,"retry_after":1}}'
)
sed 's/"status": "applied 2; pending notes 0", "timeout_ms": 40000/"status": "applied 2;", "timeout_ms": 30000/' \
  "$here/session.json" >"$build/notes-test/faulty-session-$case_name.json"
for i in "${!faults[@]}"; do
  [[ $case_name == "fault-$i" ]] || continue
  printf '{"rules":[%s]}' "${faults[$i]}" >"$QB_PEER_STATE_DIR/script.json"
  work="$build/notes-test/fault-$i"
  run_session "$work" native "$build/notes-test/faulty-session-$case_name.json"
  out="$work/session.out"
  grep -qxF "exit 0" "$out" || fail "fault $i: session did not end cleanly: $(tail -3 "$out")"
  [[ "$(executions)" == "$expected_executions" ]] || fail "fault $i: stored executions differ: $(executions)"
  status=$(grep '^HOSTSIM INPUT 15 ' "$out")
  [[ $status == *"applied 2;"* && $status != *"pending notes 0"* ]] || fail "fault $i: status $status"
  grep -q "Needs attention" "$out" && fail "fault $i: a note fault stopped execution sync"

done
# A chart image that never completes: no capture record or note, the
# 15-second warning on the polls after it, and executions unaffected.
if [[ $case_name == capture-truncated ]]; then
  python3 - "$here/session.json" "$build/notes-test/truncated-session.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
s["chart"]["capture"]["mode"] = "truncated"
s["steps"][-1]["until"] = {"log": "Screenshot pending for more than 15 seconds: ", "timeout_ms": 40000, "every_ms": 500}
s["steps"].append({"label": "after the warning", "repeat": 3})
json.dump(s, open(sys.argv[2], "w"))
PY
  work="$build/notes-test/capture-truncated"
  run_session "$work" native "$build/notes-test/truncated-session.json"
  out="$work/session.out"
  grep -qxF "exit 0" "$out" || fail "capture: session did not end cleanly: $(tail -3 "$out")"
  [[ "$(executions)" == "$expected_executions" ]] || fail "capture: stored executions differ: $(executions)"
  grep -q "Screenshot pending for more than 15 seconds: .*\.capture\. Fills continue\." "$out" ||
    fail "capture: no pending-screenshot warning"
  grep -q "Chart image retained locally" "$QB_PEER_STATE_DIR"/notes/*.jsonl 2>/dev/null &&
    fail "capture: a note for an incomplete image"
  [[ $(find "$work/data" -name '*.capture' | wc -l) -eq 1 ]] || fail "capture: the capture request was not retained"
  grep -q "Needs attention" "$out" && fail "capture: the study needed attention"
fi

[[ $failures -eq 0 ]] || { echo "$case_name: $failures failure(s)"; exit 1; }
