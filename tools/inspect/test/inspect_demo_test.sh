#!/usr/bin/env bash
# qb-inspect over the data folder of a real demo session (journal mode), then
# over copies with one damaged file each: the report, the exit status, and a
# folder whose bytes and file list are the same after every inspection.
# usage: inspect_demo_test.sh <build-dir>
set -uo pipefail
build=$1
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$build/inspect-demo-test"
inspect="$build/tools/inspect/qb-inspect.exe"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

QB_DEMO_WORK="$work" "$root/tools/demo/run-demo" "$build" journal >"$build/inspect-demo-test.out" 2>&1 ||
  { tail -40 "$build/inspect-demo-test.out"; echo "run-demo failed"; exit 1; }

tree_hash() { (cd "$1" && find . -print0 | sort -z | xargs -0 -I{} sh -c 'if [ -f "{}" ]; then sha256sum "{}"; else echo "dir {}"; fi') | sha256sum; }

# inspect <folder> <expected exit> [--json]: runs it, checks the tree is unchanged.
inspect() {
  local dir=$1 want=$2
  shift 2
  local before after rc
  before=$(tree_hash "$dir")
  "$build/wine-run" "$inspect" "$@" "Z:$dir" >"$work/report" 2>"$work/report.err"
  rc=$?
  after=$(tree_hash "$dir")
  [[ $before == "$after" ]] || fail "$dir changed while inspected"
  [[ $rc -eq $want ]] || fail "exit $rc, expected $want for $dir"
}

inspect "$work/data" 0 --json
python3 - "$work/report" <<'PY' || fail "report of the demo folder"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["clean"], r
[s] = r["scopes"]
assert s["saved_settings"] == "current destination", s.get("saved_settings")
assert s["records"]["by_kind"]["fill"] == 2 and s["records"]["taken"] == s["records"]["files"], s["records"]
assert s["executions"] == {"files": 2, "verified": 2, "high_water": 2}, s["executions"]
assert [b["state"] for b in s["batches"]] == ["applied", "applied"], s["batches"]
assert s["executions_by_batch_state"]["applied"] == 2
assert s["notes"]["delivered"] >= 1 and s["notes"]["pending"] == 0, s["notes"]
PY
inspect "$work/data" 0
grep -q "executions journaled: 2 verified of 2 (high-water 2)" "$work/report" || fail "text report: $(cat "$work/report")"

spool=$(echo "$work"/data/QuorbelleSync/outbox/*/*/native-sync)
scope=${spool%/native-sync}
rel=${spool#"$work/data/"}
# damage <name> <expected problem line (grep -F)> <command run inside the copy's spool folder>
damage() {
  local name=$1 expected=$2 cmd=$3 copy="$work/copy-$1"
  rm -rf "$copy" && cp -a "$work/data" "$copy"
  (cd "$copy/$rel" && eval "$cmd")
  inspect "$copy" 1
  grep -qF -- "$expected" "$work/report" || fail "$name: no '$expected' in: $(cat "$work/report")"
}
damage execution 'PROBLEM native-sync\e-00000000000000000002.json: EXECUTION_CORRUPT' \
  "sed -i 's/\"side\":\"sell\"/\"side\":\"buy\"/' e-00000000000000000002.json"
damage receipt 'PROBLEM native-sync\b-00000000000000000001.json.receipt.json: INVALID_JSON' \
  "truncate -s 10 b-00000000000000000001.json.receipt.json"
damage foreign 'PROBLEM native-sync\readme.txt: foreign file' "echo hello >readme.txt"
damage marker 'OBSERVATION_CORRUPT' "f=\$(ls o-*.json | head -1); echo '{\"hash\":\"XYZ\"}' >\$f"

if [[ $failures -ne 0 ]]; then echo "$failures failure(s)"; exit 1; fi
echo "inspect demo ok"
