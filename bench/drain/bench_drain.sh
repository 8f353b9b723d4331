#!/usr/bin/env bash
# Drains a 2,000-fill backlog into a fresh local journal-service peer with the
# largest batch size, in native and in journal mode.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export QB_PEER_EXE="@QB_PEER_EXE@"
export QB_BUILD="@CMAKE_BINARY_DIR@"
for mode in native journal; do
  "@QB_WITH_PEER@" -- bash -c "\"@CMAKE_BINARY_DIR@/wine-run\" \"$here/qb-bench-drain.exe\" $mode \
    ${QB_BENCH_DRAIN_COUNT:-2000} http://127.0.0.1:\$QB_PEER_HTTP_PORT"
done
