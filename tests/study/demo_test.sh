#!/usr/bin/env bash
# The demo session end to end, in both modes: the peer must hold the two
# executions once each, in order, and every observation note, with nothing
# refused; the study must end on its delivered status line.
# usage: demo_test.sh <build-dir>
set -uo pipefail
build=$1
root="$(cd "$(dirname "$0")/../.." && pwd)"
failures=0
for mode in native journal; do
  out="$build/demo-test-$mode.out"
  QB_DEMO_WORK="$build/demo-test-$mode" "$root/tools/demo/run-demo" "$build" "$mode" >"$out" 2>&1
  rc=$?
  check() {  # check <exact line>
    grep -qxF -- "$1" "$out" || { echo "$mode: MISSING: $1"; failures=$((failures + 1)); }
  }
  [[ $rc -eq 0 ]] || { echo "$mode: run-demo exit $rc"; failures=$((failures + 1)); }
  check "  #1 2025-03-07T14:31:12.250000Z buy 1 @ 5700.25  ($mode)"
  check "  #2 2025-03-07T14:52:41.500000Z sell 1 @ 5712.5  ($mode)"
  check 'HOSTSIM INPUT 15 "Captured 2; applied 2; pending notes 0" | Connection status (automatic)'
  [[ $(grep -c '^  #' "$out") -eq 2 ]] || { echo "$mode: not exactly two stored executions"; failures=$((failures + 1)); }
  grep -q '"refused":0' "$out" && grep -q '"conflicts":0' "$out" && grep -q '"executions_stored":2' "$out" ||
    { echo "$mode: peer stats show refusals, conflicts or a wrong count"; failures=$((failures + 1)); }
  grep -q 'Needs attention' "$out" && { echo "$mode: the study needed attention"; failures=$((failures + 1)); }
  grep -q '^day notes for ' "$out" || { echo "$mode: no day notes stored"; failures=$((failures + 1)); }
done
if [[ $failures -ne 0 ]]; then
  for mode in native journal; do echo "---- $mode"; tail -60 "$build/demo-test-$mode.out"; done
  echo "$failures failure(s)"; exit 1
fi
echo "demo ok"
