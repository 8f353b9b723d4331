#!/usr/bin/env python3
"""Reads a timed host-simulator run and prints its BENCH lines: chart-thread
call times for poll and other calls, fill-to-applied latency and the host's
peak working set.
A call counts as a poll when it began at least 1000 ms after the last poll,
the study's own cadence. A fill's latency runs from the start of the first
call after the step that loaded it to the end of the call that logged its
execution as applied.
usage: session_figures.py <hostsim-output>"""
import re
import sys

call_re = re.compile(r"^HOSTSIM CALL (\d+) ([0-9.]+) ms(?: \((\w+)\))? at ([0-9.]+)$")
applied_re = re.compile(r"^HOSTSIM LOG 0 Quorbelle sync: Applied execution #(\d+):")
queued_re = re.compile(r"^HOSTSIM LOG 0 Quorbelle sync: Queued execution #(\d+):")

polls, others = [], []
last_poll = None
pending_applied = []
pending_step = False
step_fills = []          # per step: the call start at which its fills became visible
applied_at = {}
loaded = []              # fill index (1-based, host order) -> visibility time
peak = None
lines = open(sys.argv[1], encoding="utf-8", errors="replace").read().splitlines()
fills_in_step = []
for line in lines:
    if line.startswith("HOSTSIM STEP "):
        pending_step = True
        continue
    m = applied_re.match(line)
    if m:
        pending_applied.append(int(m.group(1)))
        continue
    m = call_re.match(line)
    if m:
        ms, kind, at = float(m.group(2)), m.group(3), float(m.group(4))
        if kind is None:
            if last_poll is None or at - last_poll >= 1000.0:
                polls.append(ms)
                last_poll = at
            else:
                others.append(ms)
        if pending_step:
            step_fills.append(at)
            pending_step = False
        for seq in pending_applied:
            applied_at[seq] = at + ms
        pending_applied = []
        continue
    if line.startswith("HOSTSIM PEAK_WORKING_SET "):
        peak = int(line.split()[2])

def pct(values, p):
    if not values:
        return 0.0
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100.0 * (len(s) - 1))))]

print("BENCH chart_call_poll_median_ms %.2f" % pct(polls, 50))
print("BENCH chart_call_poll_p99_ms %.2f" % pct(polls, 99))
print("BENCH chart_call_poll_max_ms %.2f" % (max(polls) if polls else 0.0))
print("BENCH chart_call_other_median_ms %.2f" % pct(others, 50))
print("BENCH chart_call_other_p99_ms %.2f" % pct(others, 99))
print("BENCH chart_call_other_max_ms %.2f" % (max(others) if others else 0.0))
print("BENCH chart_call_p99_ms %.2f" % pct(polls + others, 99))
print("session: %d poll calls, %d other calls, %d executions applied" % (len(polls), len(others), len(applied_at)))
if peak is not None:
    print("BENCH host_peak_working_set_mib %.1f" % (peak / 1048576.0))
# Fill-to-applied: the scenario sidecar says how many fills each step loaded.
try:
    counts = [int(x) for x in open(sys.argv[2]).read().split()]
except (IndexError, OSError):
    counts = []
latencies = []
seq = 0
for step_no, count in enumerate(counts):
    for _ in range(count):
        seq += 1
        if step_no < len(step_fills) and seq in applied_at:
            latencies.append(applied_at[seq] - step_fills[step_no])
if latencies:
    print("BENCH fill_to_applied_median_ms %.0f" % pct(latencies, 50))
    print("BENCH fill_to_applied_p99_ms %.0f" % pct(latencies, 99))
missing = seq - len(latencies)
if missing:
    print("session: %d fills without an applied line" % missing)
    sys.exit(1)
