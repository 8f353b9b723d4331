#!/usr/bin/env bash
# Crash harness in both modes: 50 harsh kills of the host per mode on one
# data folder, then the peer must hold every fill once, in order. Journal
# mode delivers a batch in two requests a second apart, so it gets fewer
# fills for the same number of kills.
# QB_CRASH_SOAK=1: the long variant (300 kills per mode, more fills).
# QB_CRASH_SEED=<n>: replay the delays and fault scripts of a printed seed.
# usage: crash_test.sh <build-dir>
set -uo pipefail
build=$1
root="$(cd "$(dirname "$0")/../../.." && pwd)"
seed=${QB_CRASH_SEED:-$(( (RANDOM << 15) | RANDOM ))}
echo "crash test: seed $seed (replay with QB_CRASH_SEED=$seed)"
run() {  # run <mode> <fills> <steps> <rounds> <span ms>
  python3 "$root/tools/crash-harness/crash-harness.py" --build "$build" --seed "$seed" --batch-size 5 \
    --mode "$1" --fills "$2" --steps "$3" --rounds "$4" --span-ms "$5"
}
status=0
if [[ -n ${QB_CRASH_SOAK:-} ]]; then
  run native 1200 240 300 4000 || status=1
  run journal 400 80 300 4000 || status=1
else
  run native 240 48 50 2000 || status=1
  run journal 80 16 50 2000 || status=1
fi
exit $status
