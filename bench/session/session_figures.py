#!/usr/bin/env python3
"""Reads a timed host-simulator run and prints its BENCH lines: chart-thread
call times for poll and other calls, fill-to-applied latency and the host's
peak working set.
A call counts as a poll when it began at least 1000 ms after the last poll
of the same chart, the study's own cadence. A fill's latency runs from the
start of its chart's first call after the step that loaded it to the end of
that chart's call that logged its execution as applied.
A workspace run (qb-hostsim --charts N) names the chart on each line; every
chart is read on its own and the figures cover the calls of all of them.
usage: session_figures.py [--prefix NAME_] <hostsim-output> [<fills-sidecar>]"""
import re
import sys

chart_re = re.compile(r"^HOSTSIM CHART (\d+) (.*)$")
call_re = re.compile(r"^CALL (\d+) ([0-9.]+) ms(?: \((\w+)\))? at ([0-9.]+)$")
applied_re = re.compile(r"^LOG 0 Quorbelle sync: Applied execution #(\d+):")

args = sys.argv[1:]
prefix = ""
if len(args) >= 2 and args[0] == "--prefix":
    prefix, args = args[1], args[2:]
if not args:
    sys.exit(__doc__)


class Chart:
    def __init__(self):
        self.polls, self.others = [], []
        self.last_poll = None
        self.pending_applied = []
        self.step_fills = []   # per step: the start of the first call after it, when its fills became visible
        self.applied_at = {}   # execution number -> end of the call that logged it applied


charts = {}
steps = 0
peak = None
for line in open(args[0], encoding="utf-8", errors="replace").read().splitlines():
    if line.startswith("HOSTSIM STEP "):
        # Every chart takes the step; each sees its fills on its next call.
        steps += 1
        continue
    if line.startswith("HOSTSIM PEAK_WORKING_SET "):
        peak = int(line.split()[2])
        continue
    m = chart_re.match(line)
    if m:
        key, event = int(m.group(1)), m.group(2)
    elif line.startswith("HOSTSIM "):
        key, event = 0, line[len("HOSTSIM "):]
    else:
        continue
    m = applied_re.match(event)
    if m:
        charts.setdefault(key, Chart()).pending_applied.append(int(m.group(1)))
        continue
    m = call_re.match(event)
    if m:
        chart = charts.setdefault(key, Chart())
        ms, kind, at = float(m.group(2)), m.group(3), float(m.group(4))
        if kind is None:
            if chart.last_poll is None or at - chart.last_poll >= 1000.0:
                chart.polls.append(ms)
                chart.last_poll = at
            else:
                chart.others.append(ms)
        while len(chart.step_fills) < steps:
            chart.step_fills.append(at)
        for seq in chart.pending_applied:
            chart.applied_at[seq] = at + ms
        chart.pending_applied = []


def pct(values, p):
    if not values:
        return 0.0
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100.0 * (len(s) - 1))))]


def bench(name, fmt, value):
    print(("BENCH %s%s " + fmt) % (prefix, name, value))


polls = [ms for c in charts.values() for ms in c.polls]
others = [ms for c in charts.values() for ms in c.others]
bench("chart_call_poll_median_ms", "%.2f", pct(polls, 50))
bench("chart_call_poll_p99_ms", "%.2f", pct(polls, 99))
bench("chart_call_poll_max_ms", "%.2f", max(polls) if polls else 0.0)
bench("chart_call_other_median_ms", "%.2f", pct(others, 50))
bench("chart_call_other_p99_ms", "%.2f", pct(others, 99))
bench("chart_call_other_max_ms", "%.2f", max(others) if others else 0.0)
bench("chart_call_p99_ms", "%.2f", pct(polls + others, 99))
applied = sum(len(c.applied_at) for c in charts.values())
label = prefix.rstrip("_") or "session"
shown = "%d charts, " % len(charts) if len(charts) > 1 else ""
print("%s: %s%d poll calls, %d other calls, %d executions applied" % (label, shown, len(polls), len(others), applied))
if peak is not None:
    bench("host_peak_working_set_mib", "%.1f", peak / 1048576.0)
# Fill-to-applied: the scenario sidecar says how many fills each step loaded.
try:
    counts = [int(x) for x in open(args[1]).read().split()]
except (IndexError, OSError):
    counts = []
latencies = []
missing = 0
for chart in charts.values():
    seq = 0
    for step_no, count in enumerate(counts):
        for _ in range(count):
            seq += 1
            if step_no < len(chart.step_fills) and seq in chart.applied_at:
                latencies.append(chart.applied_at[seq] - chart.step_fills[step_no])
            else:
                missing += 1
if latencies:
    bench("fill_to_applied_median_ms", "%.0f", pct(latencies, 50))
    bench("fill_to_applied_p99_ms", "%.0f", pct(latencies, 99))
if missing:
    print("%s: %d fills without an applied line" % (label, missing))
    sys.exit(1)
