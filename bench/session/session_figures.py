#!/usr/bin/env python3
"""Reads a timed host-simulator run and prints its BENCH lines: chart-thread
call times for poll and other calls, each poll against the bare work it
cannot skip, fill-to-applied latency and the host's peak working set.
Polls are the calls the host marked "(poll)": those that read the fills.
chart_call_p99_ms is the p99 of the other calls (menus, snapshot, log,
status); poll_call_ratio is the polls' total time over the total of their
baselines (POLL_BASELINE lines: the scope directory scan, the host reads and
bare publishes of the poll's records, timed by the host after each poll).
A fill's latency runs from the start of its chart's first call after the
step that loaded it to the end of that chart's call that logged its
execution as applied.
A workspace run (qb-hostsim --charts N) names the chart on each line; every
chart is read on its own and the figures cover the calls of all of them.
usage: session_figures.py [--prefix NAME_] <hostsim-output> [<fills-sidecar>]"""
import re
import sys

chart_re = re.compile(r"^HOSTSIM CHART (\d+) (.*)$")
call_re = re.compile(r"^CALL (\d+) ([0-9.]+) ms(?: \((\w+)\))? at ([0-9.]+)$")
baseline_re = re.compile(r"^POLL_BASELINE (\d+) ([0-9.]+) ms records (\d+)$")
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
        self.poll_by_call = {}  # call number -> poll ms
        self.baselines = {}     # call number -> (bare ms, records)
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
    m = baseline_re.match(event)
    if m:
        charts.setdefault(key, Chart()).baselines[int(m.group(1))] = (float(m.group(2)), int(m.group(3)))
        continue
    m = call_re.match(event)
    if m:
        chart = charts.setdefault(key, Chart())
        ms, kind, at = float(m.group(2)), m.group(3), float(m.group(4))
        if kind == "poll":
            chart.polls.append(ms)
            chart.poll_by_call[int(m.group(1))] = ms
        elif kind is None:
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
bench("chart_call_p99_ms", "%.2f", pct(others, 99))
bench("chart_call_all_p99_ms", "%.2f", pct(polls + others, 99))
paired = [(c.poll_by_call[n], c.baselines[n][0]) for c in charts.values() for n in c.poll_by_call if n in c.baselines]
if paired:
    bare_total = sum(b for _, b in paired)
    bench("poll_baseline_median_ms", "%.2f", pct([b for _, b in paired], 50))
    bench("poll_call_ratio", "%.2f", sum(p for p, _ in paired) / bare_total if bare_total > 0 else 0.0)
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
