#!/usr/bin/env bash
# The host simulator against a probe study: what the host hands the study
# (fills with their times across daylight-saving changes, orders with stop
# and target children, symbol details, menu picks, keys, input edits), the
# chart images it writes, restarts at a step, and scenario errors.
# usage: hostsim_test.sh <wine-run> <qb-hostsim.exe> <probe.dll> <work-dir>
set -uo pipefail
wine_run=$1 hostsim=$2 probe=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
failures=0
rm -rf "$work" && mkdir -p "$work/data"

expect() {  # expect <output-file> <exact line>
  if ! grep -qxF -- "$2" "$1"; then echo "MISSING: $2"; failures=$((failures + 1)); fi
}
expect_not() {
  if grep -qF -- "$2" "$1"; then echo "UNEXPECTED: $2"; failures=$((failures + 1)); fi
}

out=$work/run.out
"$wine_run" "$hostsim" play "$probe" "$here/probe.json" --data-folder "$work/data" >"$out" 2>&1
echo "exit $?" >>"$out"
cat "$out"
expect "$out" "exit 0"
expect "$out" "HOSTSIM NAME Probe"
expect "$out" "HOSTSIM DECLARE 1 5 | Number"
expect "$out" "HOSTSIM LOG 0 chart Sim1 ESM25 zone Eastern Standard Time data Z:${work//\//\\}\\data"
# Daylight saving starts 2024-03-10 02:00 EST and ends 2024-11-03 02:00 EDT.
expect "$out" "HOSTSIM LOG 0 fill 0 Sim1 ESM25 sim=1 order=0 side=1 qty=1 price=0 exec=a local=2024-03-10 01:59:59.000000 utc=2024-03-10 06:59:59.000000"
expect "$out" "HOSTSIM LOG 0 fill 1 Sim1 ESM25 sim=1 order=0 side=1 qty=1 price=0 exec=b local=2024-03-10 03:00:00.000000 utc=2024-03-10 07:00:00.000000"
expect "$out" "HOSTSIM LOG 0 fill 2 Sim1 ESM25 sim=1 order=0 side=1 qty=1 price=0 exec=c local=2024-11-03 01:30:00.000000 utc=2024-11-03 05:30:00.000000"
grep -q "exec=d local=2024-11-03 01:30:00.000000 utc=2024-11-03 0[56]:30:00.000000" "$out" || { echo "MISSING: fill d"; failures=$((failures + 1)); }
expect "$out" "HOSTSIM LOG 0 fill 4 Sim1 ESM25 sim=1 order=77 side=2 qty=2 price=5000.25 exec=e local=2024-07-01 12:00:00.123456 utc=2024-07-01 16:00:00.123456"
expect "$out" "HOSTSIM LOG 0 details tick=0.25 value=12.5"
expect "$out" "HOSTSIM MENU ADD 1 Probe menu"
expect "$out" "HOSTSIM MENU PICK 1 Probe menu"
expect "$out" "HOSTSIM LOG 0 menu 1"
expect "$out" "HOSTSIM LOG 0 key 78 ctrl 0 shift 0"
# The dialog keeps an integer within its limits; the study's own text write shows on the next call.
expect "$out" "HOSTSIM EDIT 1 = 10"
expect "$out" "HOSTSIM LOG 0 inputs 1 10 [typed]"
expect "$out" "HOSTSIM LOG 0 inputs 1 5 [Unset]"
expect "$out" "HOSTSIM LOG 0 order 10 Limit side=1 p1=5000 status=2 parent=0 stop=11 target=12 oco=0"
expect "$out" "HOSTSIM LOG 0 order 11 Stop side=2 p1=4990 status=2 parent=10 stop=0 target=0 oco=12"
expect "$out" "HOSTSIM LOG 0 order 12 Limit side=2 p1=5010 status=2 parent=10 stop=0 target=0 oco=11"
expect "$out" "HOSTSIM LOG 0 capture 1"
expect "$out" "HOSTSIM LOG 0 fill 1 loading"
expect "$out" "HOSTSIM INPUT 2 \"call 4\" | Text"
expect "$out" "HOSTSIM LOG 0 final calls=4"
expect "$out" "HOSTSIM MENU DROP 1"
png="$work/data/probe-0.png"
expect "$out" "HOSTSIM CAPTURE REQUEST Z:${work//\//\\}\\data\\probe-0.png"
# Written on the second render, not the first (delay_renders 1).
if [[ ! -f $png ]] || [[ $(head -c 8 "$png" | od -An -tx1 | tr -d ' ') != 89504e470d0a1a0a ]] ||
   [[ $(tail -c 12 "$png" | od -An -tx1 | tr -d ' ') != 0000000049454e44ae426082 ]]; then
  echo "MISSING: complete PNG at $png"; failures=$((failures + 1))
fi
# The order removed in the last step is gone from the host's list.
[[ $(grep -c "HOSTSIM LOG 0 order 11 " "$out") == 2 ]] || { echo "order 11 not removed"; failures=$((failures + 1)); }

# A restarted host: the history of earlier steps is loaded, their calls are not made.
out=$work/restart.out
"$wine_run" "$hostsim" play "$probe" "$here/probe.json" --data-folder "$work/data" --start-step later >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 0"
expect "$out" "HOSTSIM START at step 3"
expect "$out" "HOSTSIM LOG 0 fill 1 loading"
expect "$out" "HOSTSIM LOG 0 final calls=1"
expect_not "$out" "menu 1"

# A workspace: every chart plays each step on an account of its own (the
# scenario's, "-k" from chart 2 on), its lines name it, steps print once, and
# an until ends only when every chart has met it.
out=$work/workspace.out
"$wine_run" "$hostsim" play "$probe" "$here/probe.json" --data-folder "$work/data" --charts 3 >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 0"
data="Z:${work//\//\\}\\data"
expect "$out" "HOSTSIM CHART 1 LOG 0 chart Sim1 ESM25 zone Eastern Standard Time data $data"
expect "$out" "HOSTSIM CHART 3 LOG 0 chart Sim1-3 ESM25 zone Eastern Standard Time data $data"
expect "$out" "HOSTSIM CHART 2 LOG 0 fill 4 Sim1-2 ESM25 sim=1 order=77 side=2 qty=2 price=5000.25 exec=e local=2024-07-01 12:00:00.123456 utc=2024-07-01 16:00:00.123456"
expect "$out" "HOSTSIM CHART 3 MENU PICK 1 Probe menu"
expect "$out" "HOSTSIM CHART 2 LOG 0 inputs 1 10 [typed]"
for k in 1 2 3; do expect "$out" "HOSTSIM CHART $k LOG 0 final calls=4"; done
expect "$out" "HOSTSIM DONE calls=18 charts=3"
expect_not "$out" "HOSTSIM LOG "
[[ $(grep -c '^HOSTSIM STEP 1 events$' "$out") == 1 ]] || { echo "workspace: step line not once"; failures=$((failures + 1)); }
cat >"$work/until.json" <<'JSON'
{"chart": {"account": "Sim1", "trade_symbol": "ESM25"},
 "steps": [{"label": "all", "fills": [{"execution_id": "u"}], "until": {"log": "ESM25 sim=1", "timeout_ms": 5000, "every_ms": 50}},
           {"label": "one", "until": {"log": "fill 0 Sim1-2 ", "timeout_ms": 400, "every_ms": 50}}]}
JSON
out=$work/workspace-until.out
"$wine_run" "$hostsim" play "$probe" "$work/until.json" --data-folder "$work/data" --charts 3 >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 4"
expect "$out" "HOSTSIM UNTIL met after 1 calls"
grep -q '^HOSTSIM UNTIL TIMEOUT after [0-9]* calls (log "fill 0 Sim1-2 "' "$out" || { echo "MISSING: workspace until timeout"; failures=$((failures + 1)); }
expect "$out" "HOSTSIM CHART 1 UNTIL not met"
expect "$out" "HOSTSIM CHART 3 UNTIL not met"
expect_not "$out" "HOSTSIM CHART 2 UNTIL not met"
# The setup driver plays one window: a workspace refuses setup steps.
printf '{"chart":{"account":"A","trade_symbol":"ES","chart_window":true},"steps":[{"setup":[{"close":true}]}]}' >"$work/setup.json"
out=$work/workspace-setup.out
"$wine_run" "$hostsim" play "$probe" "$work/setup.json" --data-folder "$work/data" --charts 2 >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 2"
expect_not "$out" "HOSTSIM DLL"

# Polls and their baselines: a call that reads the fills is marked a poll;
# with poll_baseline the host times the bare work after it, publishing bare
# copies of the records the poll wrote (then removing them).
cat >"$work/baseline.json" <<'JSON'
{"chart": {"account": "Sim1", "trade_symbol": "ESM25", "poll_baseline": true},
 "steps": [{"label": "two", "fills": [{"execution_id": "r1", "note": "record"}, {"execution_id": "r2", "note": "record"}]},
           {"label": "quiet", "inputs": {"0": 0}},
           {"label": "one", "inputs": {"0": 1}, "fills": [{"execution_id": "r3", "note": "record"}]}]}
JSON
rm -rf "$work/data/probe-scope"
out=$work/baseline.out
"$wine_run" "$hostsim" play "$probe" "$work/baseline.json" --data-folder "$work/data" >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 0"
grep -qE '^HOSTSIM CALL 2 [0-9.]+ ms \(poll\)$' "$out" || { echo "MISSING: call 2 as a poll"; failures=$((failures + 1)); }
grep -qE '^HOSTSIM POLL_BASELINE 2 [0-9.]+ ms records 2$' "$out" || { echo "MISSING: baseline of call 2"; failures=$((failures + 1)); }
grep -qE '^HOSTSIM CALL 3 [0-9.]+ ms$' "$out" || { echo "MISSING: call 3 not a poll"; failures=$((failures + 1)); }
expect_not "$out" "HOSTSIM POLL_BASELINE 3 "
grep -qE '^HOSTSIM POLL_BASELINE 4 [0-9.]+ ms records 1$' "$out" || { echo "MISSING: baseline of call 4"; failures=$((failures + 1)); }
left=$(ls "$work/data/probe-scope" | tr '\n' ' ')
[[ $left == "$(printf '%064d.json %064d.json %064d.json ' 0 1 2)" ]] || { echo "scope holds: $left"; failures=$((failures + 1)); }

# Scenario and argument errors end before the library is loaded.
printf '{"chart":{"account":"A","trade_symbol":"ES"},"steps":[{"menu":1}]}' >"$work/bad.json"
out=$work/bad.out
"$wine_run" "$hostsim" play "$probe" "$work/bad.json" --data-folder "$work/data" >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 2"
grep -qF "steps[0].menu: expected a string" "$out" || { echo "MISSING: scenario error"; failures=$((failures + 1)); }
out=$work/zone.out
printf '{"chart":{"account":"A","trade_symbol":"ES","time_zone":"Mars Standard Time"},"steps":[]}' >"$work/zone.json"
"$wine_run" "$hostsim" play "$probe" "$work/zone.json" --data-folder "$work/data" >"$out" 2>&1
echo "exit $?" >>"$out"
expect "$out" "exit 2"
grep -qF 'unknown Windows time zone id "Mars Standard Time"' "$out" || { echo "MISSING: zone error"; failures=$((failures + 1)); }

if [[ $failures -ne 0 ]]; then echo "$failures failure(s)"; exit 1; fi
echo "hostsim ok"
