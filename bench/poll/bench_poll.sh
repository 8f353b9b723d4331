#!/usr/bin/env bash
# One collector poll over a natively built, fully recorded outbox with 20,000
# and 100,000 loaded fills, and one that records 250 new fills over the
# 20,000, each against the bare directory listing, fill reading (and
# publishes) of the same poll. The smaller fixture is extended in place to
# the larger one: fill i is the same in both.
# Quick run: QB_BENCH_POLL_COUNTS="2000 5000" (also QB_BENCH_POLL_NEW,
# QB_BENCH_POLL_ROUNDS, QB_BENCH_POLL_RECORD_ROUNDS).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
run="@CMAKE_BINARY_DIR@/wine-run"
exe="$here/qb-bench-poll.exe"
counts="${QB_BENCH_POLL_COUNTS:-20000 100000}"
fresh="${QB_BENCH_POLL_NEW:-250}"
rounds="${QB_BENCH_POLL_ROUNDS:-5}"
work="$(mktemp -d /tmp/qb-bench-poll.XXXXXX)"
trap 'rm -rf "$work"' EXIT
dir="$work/scope"
win="Z:${dir//\//\\}"

worst=0
first=1
for n in $counts; do
  python3 "$here/make_poll_fixture.py" "$dir" "$n"
  if [[ $first == 1 ]]; then
    # Wine creates a file only after scanning the whole directory, so the
    # recording poll runs on the smaller fixture; it removes what it wrote.
    "$run" "$exe" record "$win" "$n" "$fresh" "${QB_BENCH_POLL_RECORD_ROUNDS:-3}"
    first=0
  fi
  out=$("$run" "$exe" steady "$win" "$n" "$rounds")
  echo "$out"
  ratio=$(sed -n "s/^BENCH poll_steady_${n}_ratio //p" <<<"$out")
  worst=$(python3 -c "print(max($worst, $ratio))")
done
echo "BENCH poll_steady_ratio $worst"
