#!/usr/bin/env bash
# Crash harness in both modes: 50 harsh kills of the host per mode on one
# data folder, then the peer must hold every fill once, in order. Journal
# mode delivers a batch in two requests a second apart, so its host loads
# fills more slowly.
# QB_CRASH_SOAK=1: the long variant (500 kills per mode, 1,000 in all).
# QB_CRASH_KILLS=<n>: n kills per mode (after QB_CRASH_SOAK's count).
# QB_CRASH_SEED=<n>: replay the delays and fault scripts of a printed seed.
# usage: crash_test.sh <build-dir>
set -uo pipefail
build=$(cd "$1" && pwd)
root="$(cd "$(dirname "$0")/../../.." && pwd)"
seed=${QB_CRASH_SEED:-$(( (RANDOM << 15) | RANDOM ))}
kills=50
span=2000
[[ -n ${QB_CRASH_SOAK:-} ]] && { kills=500; span=4000; }
[[ -n ${QB_CRASH_KILLS:-} ]] && kills=$QB_CRASH_KILLS
echo "crash test: seed $seed (replay with QB_CRASH_SEED=$seed)"
# Hundreds of harsh kills run on a wine prefix and wineserver of their own, so
# tests running beside this one never share a server with killed processes.
QB_BUILD=$build
source "$root/scripts/lib.sh"
export WINEPREFIX="$build/wineprefix-crash" QB_OWN_WINEPREFIX="$build/wineprefix-crash"
qb_wine_up
trap qb_wine_down EXIT
run() {  # run <mode> <fills> <steps> <wait ms>
  python3 "$root/tools/crash-harness/crash-harness.py" --build "$build" --seed "$seed" --batch-size 5 \
    --kills "$kills" --span-ms "$span" --mode "$1" --fills "$2" --steps "$3" --wait-ms "$4"
}
status=0
run native $((kills * 9)) $((kills * 6)) 500 || status=1
run journal $((kills * 6)) $((kills * 4)) 1000 || status=1
exit $status
