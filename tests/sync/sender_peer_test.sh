#!/usr/bin/env bash
# Runs the sender-against-peer test: one plain-HTTP peer whose user owns the
# test fixture's account (ready for the connector) and a second account that
# is not ready.
# usage: sender_peer_test.sh <with-peer> <wine-run> <qb-peer> <work-dir> <test.exe> [gtest args]
set -uo pipefail
with_peer=$1 wine_run=$2 peer=$3 work=$4 test=$5
shift 5
rm -rf "$work" && mkdir -p "$work/state"
cat >"$work/accounts.json" <<'JSON'
{"users":[{"email":"trader@example.com","secret":"peer-secret","connector_ready":true,
           "accounts":[{"account_id":"3f2b8c1e-9a4d-4e6f-8b7a-1c2d3e4f5a6b","name":"Main"},
                       {"account_id":"8d7c6b5a-4e3f-4a1b-9c8d-7e6f5a4b3c2d","name":"Not ready",
                        "connector_ready":false}]}]}
JSON
QB_PEER_STATE_DIR="$work/state" QB_PEER_ACCOUNTS="$work/accounts.json" \
  "$with_peer" --peer "$peer" -- "$wine_run" "$test" "$@"
