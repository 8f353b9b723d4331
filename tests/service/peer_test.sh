#!/usr/bin/env bash
# Runs the transport-against-peer tests: the test CA trusted in the private
# prefix, one peer with the trusted certificate (HTTP and HTTPS), one with a
# certificate of an untrusted CA and one whose certificate names another host.
# usage: peer_test.sh <wine-run> <qb-trust-ca.exe> <qb-peer> <cert-dir> <work-dir> <test.exe> [gtest args]
set -uo pipefail
wine_run=$1 trust=$2 peer=$3 certs=$4 work=$5 test=$6
shift 6
rm -rf "$work" && mkdir -p "$work"
"$wine_run" "$trust" "$certs/ca.pem" || { echo "cannot trust the test CA"; exit 1; }

pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; }
trap cleanup EXIT

start_peer() {  # start_peer <name> <cert> <key>; sets PORT_HTTP / PORT_HTTPS
  local dir=$work/$1
  mkdir -p "$dir"
  exec {out}< <(exec "$peer" --state "$dir" --http-port 0 --https-port 0 --cert "$2" --key "$3" --no-stdin-watch 2>"$dir/peer.stderr")
  pids+=($!)
  local line
  if ! IFS= read -r -t 20 line <&"$out" || [[ ! $line =~ ^QB_PEER_LISTENING\ http=([0-9]+)\ https=([0-9]+)$ ]]; then
    echo "peer $1 did not start"; cat "$dir/peer.stderr"; exit 1
  fi
  PORT_HTTP=${BASH_REMATCH[1]} PORT_HTTPS=${BASH_REMATCH[2]}
}

start_peer trusted "$certs/server.pem" "$certs/server.key"
export QB_PEER_HTTP_PORT=$PORT_HTTP QB_PEER_HTTPS_PORT=$PORT_HTTPS
export QB_PEER_STATE_WIN="Z:${work//\//\\}\\trusted"
start_peer untrusted "$certs/untrusted-server.pem" "$certs/untrusted-server.key"
export QB_UNTRUSTED_HTTPS_PORT=$PORT_HTTPS
start_peer wronghost "$certs/wrong-host.pem" "$certs/wrong-host.key"
export QB_WRONG_HOST_HTTPS_PORT=$PORT_HTTPS
"$wine_run" "$test" "$@"
