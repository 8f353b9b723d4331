#!/usr/bin/env bash
# A trading day through the host simulator, the study library and the local
# journal-service peer, with the figures of the storage, spool and drain
# benchmarks from the same run; then the same day in a workspace of charts
# (one host process, one chart thread, a scope and sender per chart).
#   QB_BENCH_SESSION_FILLS (default 2000): fills in the day
#   QB_BENCH_SESSION_ONLY=1: only the sessions (scripts/bench runs the others itself)
#   QB_BENCH_WORKSPACE=0: no workspace run
#   QB_BENCH_WORKSPACE_CHARTS (default 20), QB_BENCH_WORKSPACE_FILLS (default 100, per chart)
set -euo pipefail
build="@CMAKE_BINARY_DIR@"
src="@CMAKE_SOURCE_DIR@"
here="$(cd "$(dirname "$0")" && pwd)"
fills=${QB_BENCH_SESSION_FILLS:-2000}
charts=${QB_BENCH_WORKSPACE_CHARTS:-20}
workspace_fills=${QB_BENCH_WORKSPACE_FILLS:-100}
hostsim="$build/tools/hostsim/qb-hostsim.exe"
study="$build/src/study/QuorbelleSync.dll"

if [[ -z ${QB_PEER_HTTP_PORT:-} ]]; then
  export QB_PEER_EXE="$build/tools/peer-native/qb-peer" QB_BUILD="$build"
  "$src/tests/common/with-peer" -- bash "$0" single
  if [[ ${QB_BENCH_WORKSPACE:-1} != 0 ]]; then
    [[ $charts =~ ^[1-9][0-9]*$ && $workspace_fills =~ ^[1-9][0-9]*$ ]] ||
      { echo "session: QB_BENCH_WORKSPACE_CHARTS and QB_BENCH_WORKSPACE_FILLS take whole numbers"; exit 1; }
    # The peer reads its accounts at start: one journal account per chart.
    mkdir -p "$build/bench-workspace"
    python3 "$here/make_workspace.py" accounts "$charts" "$build/bench-workspace/accounts.json"
    QB_PEER_ACCOUNTS="$build/bench-workspace/accounts.json" "$src/tests/common/with-peer" -- bash "$0" workspace
  fi
  if [[ ${QB_BENCH_SESSION_ONLY:-0} != 1 ]]; then
    "$build/wine-run" "$build/bench/durable_write/bench_durable_write.exe" | grep '^BENCH durable_write_ratio'
    QB_BENCH_INTAKE_COUNT=${QB_BENCH_INTAKE_COUNT:-300} QB_BENCH_RELOAD_COUNT=${QB_BENCH_RELOAD_COUNT:-20000} \
      bash "$build/bench/spool/bench_spool.sh" | grep '^BENCH reload_ratio'
    QB_BENCH_DRAIN_COUNT=${QB_BENCH_DRAIN_COUNT:-1000} bash "$build/bench/drain/bench_drain.sh" | grep '^BENCH drain_ratio'
  fi
  exit 0
fi

if [[ ${1:-single} == workspace ]]; then
  work="$build/bench-workspace"
  rm -rf "$work/data" "$work/settings" && mkdir -p "$work/data" "$work/settings"
  python3 "$here/make_session.py" "$workspace_fills" "$work/session.json"
  python3 "$here/make_workspace.py" settings "$charts" "$QB_PEER_HTTP_PORT" "$work/settings"
  documents=()
  for ((k = 1; k <= charts; k++)); do documents+=("$work/settings/settings-$k.json"); done
  "$build/wine-run" "$hostsim" prepare-settings "$work/data" "${documents[@]}" >/dev/null
  start=$(date +%s)
  "$build/wine-run" "$hostsim" play "$study" "$work/session.json" --data-folder "$work/data" --charts "$charts" \
    >"$work/session.out" 2>&1 || { tail -20 "$work/session.out"; exit 1; }
  echo "workspace: $charts charts of $workspace_fills fills in $(( $(date +%s) - start )) s; peer: $(cat "$QB_PEER_STATE_DIR/stats.json")"
  accounts=$(python3 -c 'import json, sys; print(" ".join(a["account_id"] for a in json.load(open(sys.argv[1]))["users"][0]["accounts"]))' \
    "$QB_PEER_STATE_DIR/accounts.json")
  # shellcheck disable=SC2086 # one argument per account
  python3 "$here/check_stored.py" "$QB_PEER_STATE_DIR" "$workspace_fills" $accounts
  python3 "$here/session_figures.py" --prefix "workspace${charts}_" "$work/session.out" "$work/session.json.fills"
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
"$build/wine-run" "$hostsim" prepare-settings "$work/data" "$work/settings.json" >/dev/null
start=$(date +%s)
"$build/wine-run" "$hostsim" play "$study" "$work/session.json" --data-folder "$work/data" \
  >"$work/session.out" 2>&1 || { tail -20 "$work/session.out"; exit 1; }
echo "session: $fills fills in $(( $(date +%s) - start )) s; peer: $(cat "$QB_PEER_STATE_DIR/stats.json")"
python3 "$here/check_stored.py" "$QB_PEER_STATE_DIR" "$fills" 5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e
python3 "$here/session_figures.py" "$work/session.out" "$work/session.json.fills"
