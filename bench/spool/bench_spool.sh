#!/usr/bin/env bash
# Intake of a 2,000-record backlog, and reload of a 100,000-execution journal
# whose files are written natively (wine's per-file lookup cost would make
# building it through the engine take hours; real NTFS has no such cost).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
run="@CMAKE_BINARY_DIR@/wine-run"
exe="$here/qb-bench-spool.exe"
count="${QB_BENCH_RELOAD_COUNT:-100000}"
work="$(mktemp -d /tmp/qb-bench-spool.XXXXXX)"
trap 'rm -rf "$work"' EXIT
"$run" "$exe" intake "${QB_BENCH_INTAKE_COUNT:-2000}"
"$run" "$exe" template "Z:${work//\//\\}\\outbox" >/dev/null
python3 "$here/make_spool_fixture.py" "$work/outbox/native-sync" "$count"
"$run" "$exe" reload "Z:${work//\//\\}\\outbox"
