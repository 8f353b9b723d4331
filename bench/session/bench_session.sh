#!/usr/bin/env bash
# A trading day through the host simulator, the study library and the local
# journal-service peer, with the figures of the storage, spool and drain
# benchmarks from the same run.
#   QB_BENCH_SESSION_FILLS (default 2000): fills in the day
#   QB_BENCH_SESSION_ONLY=1: only the session (scripts/bench runs the others itself)
set -euo pipefail
build="@CMAKE_BINARY_DIR@"
src="@CMAKE_SOURCE_DIR@"
here="$(cd "$(dirname "$0")" && pwd)"
fills=${QB_BENCH_SESSION_FILLS:-2000}

if [[ -z ${QB_PEER_HTTP_PORT:-} ]]; then
  export QB_PEER_EXE="$build/tools/peer-native/qb-peer" QB_BUILD="$build"
  "$src/tests/common/with-peer" -- bash "$0" "$@"
  if [[ ${QB_BENCH_SESSION_ONLY:-0} != 1 ]]; then
    "$build/wine-run" "$build/bench/durable_write/bench_durable_write.exe" | grep '^BENCH durable_write_ratio'
    QB_BENCH_INTAKE_COUNT=${QB_BENCH_INTAKE_COUNT:-300} QB_BENCH_RELOAD_COUNT=${QB_BENCH_RELOAD_COUNT:-20000} \
      bash "$build/bench/spool/bench_spool.sh" | grep '^BENCH reload_ratio'
    QB_BENCH_DRAIN_COUNT=${QB_BENCH_DRAIN_COUNT:-1000} bash "$build/bench/drain/bench_drain.sh" | grep '^BENCH drain_ratio'
  fi
  exit 0
fi

work="$build/bench-session"
rm -rf "$work" && mkdir -p "$work/data"
python3 "$here/make_session.py" "$fills" "$work/session.json"
cat >"$work/settings.json" <<JSON
{"settings": {"origin": "http://127.0.0.1:$QB_PEER_HTTP_PORT", "allow_loopback_http": true,
              "email": "trader@example.com", "account_id": "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e",
              "account_name": "Peer Demo Account", "source_account": "Sim1", "source_symbol": "ESM25",
              "session_id": "bench-session", "simulation": true, "replay": false, "native_instrument_protocol": 1,
              "api_symbol": "ESM25", "asset_type": "future", "currency": "USD",
              "sync_notes": true, "enabled": true, "batch_size": 100},
 "secret": "peer-secret", "allow_replay": false, "note_revision": 0, "screenshot_revision": 0,
 "pending_notes": [], "pending_screenshots": []}
JSON
"$build/wine-run" "$build/tools/hostsim/qb-hostsim.exe" prepare-settings "$work/data" "$work/settings.json" >/dev/null
start=$(date +%s)
"$build/wine-run" "$build/tools/hostsim/qb-hostsim.exe" play "$build/src/study/QuorbelleSync.dll" "$work/session.json" \
  --data-folder "$work/data" >"$work/session.out" 2>&1 || { tail -20 "$work/session.out"; exit 1; }
echo "session: $fills fills in $(( $(date +%s) - start )) s; peer: $(cat "$QB_PEER_STATE_DIR/stats.json")"
stored=$(wc -l <"$QB_PEER_STATE_DIR/executions/5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e.jsonl")
[[ $stored -eq $fills ]] || { echo "session: the peer stored $stored executions of $fills"; exit 1; }
python3 "$here/session_figures.py" "$work/session.out" "$work/session.json.fills"
