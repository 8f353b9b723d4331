#!/usr/bin/env bash
# One collector poll over a natively built, fully recorded outbox with 20,000
# and 100,000 loaded fills, and one that records 250 new fills, each against
# the bare directory listing, fill reading (and publishes) of the same poll.
# Quick run: QB_BENCH_POLL_COUNTS="2000 5000" QB_BENCH_POLL_RECORDED=2000
# (also QB_BENCH_POLL_NEW, QB_BENCH_POLL_ROUNDS).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
run="@CMAKE_BINARY_DIR@/wine-run"
exe="$here/qb-bench-poll.exe"
counts="${QB_BENCH_POLL_COUNTS:-20000 100000}"
recorded="${QB_BENCH_POLL_RECORDED:-20000}"
fresh="${QB_BENCH_POLL_NEW:-250}"
rounds="${QB_BENCH_POLL_ROUNDS:-5}"
work="$(mktemp -d /tmp/qb-bench-poll.XXXXXX)"
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }

worst=0
for n in $counts; do
  python3 "$here/make_poll_fixture.py" "$work/steady-$n" "$n"
  out=$("$run" "$exe" steady "$(win "$work/steady-$n")" "$n" "$rounds")
  echo "$out"
  ratio=$(sed -n "s/^BENCH poll_steady_${n}_ratio //p" <<<"$out")
  worst=$(python3 -c "print(max($worst, $ratio))")
  rm -rf "$work/steady-$n"
done
echo "BENCH poll_steady_ratio $worst"

python3 "$here/make_poll_fixture.py" "$work/record" "$recorded"
"$run" "$exe" record "$(win "$work/record")" "$recorded" "$fresh" "$(( rounds < 3 ? rounds : 3 ))"
