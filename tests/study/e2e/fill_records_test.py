#!/usr/bin/env python3
"""Chart fills to outbox records through the real study library under the
host simulator, no service needed: every fill of the chart's account and
symbol becomes exactly one record with the exact bytes of the record format;
polling again adds nothing; each doubtful fill (another account, symbol or
mode, an unsupported instrument, a zero, negative, non-finite or over-precise
number, an unknown side, a fill still loading, no service id, a record over
64 KiB) pauses the whole phase with its own message, once, and the collector
resumes by itself once the fill is gone, without losing the fills held back.
Local fallback ids follow the saved settings; the loaded-fill limit of input
6 holds at its value; an unsupported chart symbol keeps the study paused.
usage: fill_records_test.py <build-dir>"""

import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_lib import (Checks, Scope, Sim, fill_event_id, fill_record, fill_records, records)  # noqa: E402

SECRET = "e2e-Secret-7f1c9a"
RESUMED = "Quorbelle collector resumed successfully."
MISMATCH = "Loaded fill does not match the chart account, trade symbol, or simulation mode."
ZERO = "Zero/negative fill quantity observed; collection paused for review."
PLACES = "Sierra value needs more than eight decimal places; API sync requires review."
NON_FINITE = "Non-finite number in Sierra data; collection paused."
NO_ID = ("Fill has no service execution ID. Enable local fallback IDs only after reviewing session and duplicate "
         "limitations.")
AMBIGUOUS = "Ambiguous identical fills lack execution IDs. Collection paused rather than merging distinct fills."
SIDE = "Unknown fill side; collection paused."
LOADING = "Order fills are still loading; retrying on the next poll."
TOO_BIG = "Event exceeds the 64 KiB sync record limit; collection paused for review."
OVER_LIMIT = ("Loaded fill count exceeds the configured reconciliation limit; increase it or reduce Sierra's loaded "
              "fill history.")
LEGACY = ("Saved legacy import needs reconciliation; records retained. Saved source and queued records are "
          "retained; sync is paused.")

CHART = {"account": "Sim1", "trade_symbol": "ESM25", "simulated": True, "time_zone": "Eastern Standard Time",
         "security_kind": 1, "trade_service": "Simulated",
         "symbol_details": {"tick_size": 0.25, "value_per_tick": 12.5, "contract_size": 50, "display_multiplier": 1,
                            "last_trading_date": "2025-06-20 00:00:00"},
         "start_time": "2025-07-01 12:30:00"}


def fill(exec_id, time, side="buy", quantity=1, price=5700.25, order_id=1001, **more):
    f = {"order_id": order_id, "time": time, "side": side, "quantity": quantity, "price": price,
         "execution_id": exec_id}
    f.update(more)
    return f


# The session: escapes and raw UTF-8 in texts, a quote in a service id,
# fractional quantities, both sides of a daylight-saving change, microseconds.
GOOD = [
    fill("X-1", "2025-03-07 09:31:12.250", quantity=2, position=2, service_order_id="SO-9",
         note="q\"b\\s\tc\x01 \u00e9 \x7f"),
    fill("X-2", "2025-03-07 09:35:00", side="sell", price=5701.5, position=1),
    fill("X-3", "2025-03-09 03:30:00", side="sell", quantity=0.5, price=5702, order_id=1003, position=0.5),
    fill("X-4 \u00fc\"", "2025-03-08 23:59:59.999999", quantity=1, price=5699.75, order_id=1004),
    fill("X-5", "2025-07-01 12:00:00.123456", side="sell", quantity=1.5, price=5703.125, order_id=1005,
         position=-1),
]
HELD_BACK = fill("X-held", "2025-07-01 12:10:00", price=5710, order_id=1010)   # after the oversize fill
BEFORE_BIG = fill("X-before", "2025-07-01 12:05:00", price=5705, order_id=1009)  # before it


def sized_note_fill(scope, exec_id, total):
    """A fill whose record is exactly `total` bytes long, through its note."""
    f = fill(exec_id, "2025-07-01 12:06:00", price=5706, order_id=1011, note="")
    base = len(fill_record(scope, f, 5, CHART, "2025-01-01T00:00:00.000000Z"))
    f["note"] = "n" * (total - base)
    return f


def main(build):
    sim = Sim(build, "records")
    c = Checks("fill records")
    data = sim.path("d")
    main_scope = Scope("Sim1", "ESM25", "sess-records")
    fallback_scope = Scope("Sim2", "ESM25", "sess-fallback", allow_local_fill_ids=True)
    legacy_scope = Scope("Sim3", "BTCUSDT", "sess-legacy", native=False, api_symbol="BTCUSDT")
    for s in (main_scope, fallback_scope, legacy_scope):
        sim.prepare(data, s, SECRET)

    # The record limit counts every byte: exactly 64 KiB is written, one more is refused.
    exact = sized_note_fill(main_scope, "X-64k", 65536)
    over = sized_note_fill(main_scope, "X-64k-plus", 65537)
    cases = [  # label, fills after the session's, expected pause message
        ("other account", [fill("X-9", "2025-07-01 12:00:00", account="Sim2")], MISMATCH),
        ("zero quantity", [fill("X-9", "2025-07-01 12:00:00", quantity=0)], ZERO),
        ("other symbol", [fill("X-9", "2025-07-01 12:00:00", symbol="NQM25")], MISMATCH),
        ("negative quantity", [fill("X-9", "2025-07-01 12:00:00", quantity=-1)], ZERO),
        ("live fill on a simulated chart", [fill("X-9", "2025-07-01 12:00:00", simulated=False)], MISMATCH),
        ("no service id", [fill("", "2025-07-01 12:00:00")], NO_ID),
        ("quantity of nine places", [fill("X-9", "2025-07-01 12:00:00", quantity=1e-9)], PLACES),
        ("not-a-number price", [fill("X-9", "2025-07-01 12:00:00", price="nan")], NON_FINITE),
        ("price of nine places", [fill("X-9", "2025-07-01 12:00:00", price=0.123456789)], PLACES),
        ("unknown side", [fill("X-9", "2025-07-01 12:00:00", side=3)], SIDE),
        ("unsupported instrument", [fill("X-9", "2025-07-01 12:00:00", symbol="BTCUSDT")], MISMATCH),
        ("still loading", [fill("X-9", "2025-07-01 12:00:00", loading=True)], LOADING),
        ("record over 64 KiB", [BEFORE_BIG, exact, over, HELD_BACK], TOO_BIG),
    ]
    steps = [{"label": "open", "wait_ms": 0, "fills": GOOD},
             {"label": "again", "repeat": 2}]
    for label, extra, _ in cases:
        steps.append({"label": label, "clear_fills": True, "fills": GOOD + extra})
    after = [BEFORE_BIG, exact, HELD_BACK]
    steps += [
        {"label": "resume", "clear_fills": True, "fills": GOOD + after},
        {"label": "held pause", "clear_fills": True, "fills": GOOD + after + [fill("X-9", "2025-07-01 12:00:00",
                                                                                    quantity=0)], "repeat": 3},
        {"label": "released", "clear_fills": True, "fills": GOOD + after},
    ]
    # Fallback ids where the saved settings allow them: same order and side,
    # another price, is another fill; an identical twin is refused, not merged.
    fallbacks = [fill("", "2025-07-01 11:00:00", order_id=2001, price=5700, note="first"),
                 fill("", "2025-07-01 11:00:00", order_id=2001, price=5700.25),
                 fill("Y-1", "2025-07-01 11:00:01", order_id=2002)]
    twin = dict(fallbacks[0], note="twin")
    more = [fill("Y-%03d" % i, "2025-07-01 11:10:00", order_id=3000 + i, price=5000 + i) for i in range(98)]
    steps += [
        {"label": "fallback ids", "chart": {"account": "Sim2"}, "clear_fills": True, "fills": fallbacks},
        {"label": "identical twins", "clear_fills": True, "fills": fallbacks + [twin]},
        {"label": "twin gone", "clear_fills": True, "fills": fallbacks},
        # The loaded-fill limit of input 6: one above it pauses, exactly at it is collected.
        {"label": "over the fill limit", "inputs": {"6": 100}, "clear_fills": True, "fills": fallbacks + more[:98]},
        {"label": "at the fill limit", "clear_fills": True, "fills": fallbacks + more[:97]},
        {"label": "unsupported chart", "chart": {"account": "Sim3", "trade_symbol": "BTCUSDT"}, "clear_fills": True,
         "fills": [fill("Z-1", "2025-07-01 11:00:00", price=60000)], "repeat": 2},
    ]
    scenario = {"chart": CHART, "default_wait_ms": 1100, "steps": steps}
    run = sim.play("session", scenario, data, timeout=150)
    c.eq(run.rc, 0, "qb-hostsim exit status")

    zone = CHART["time_zone"]
    main_dir = main_scope.outbox_dir(data)
    got = fill_records(main_dir)

    def expect_record(scope, scope_got, f, index, what, chart=CHART):
        name = fill_event_id(scope, f, chart["time_zone"]) + ".json"
        if c.ok(name in scope_got, what + ": no record named " + name):
            c.record_bytes(scope_got[name], lambda o: fill_record(scope, f, index, chart, o), run, what)

    # The session's records, each byte for byte; then nothing new until the resume.
    for i, f in enumerate(GOOD):
        expect_record(main_scope, got, f, i, "session fill %d" % i)
    names_of = lambda fs: {fill_event_id(main_scope, f, zone) + ".json" for f in fs}  # noqa: E731
    c.eq(set(got), names_of(GOOD + after), "fill records of the chart's scope")
    c.eq(len(records(main_dir)), len(GOOD) + len(after), "records of any kind in the scope")
    c.eq(run.pauses("open") + run.pauses("again"), [], "pauses while the session is clean")
    for label, _, message in cases:
        c.eq(run.pauses(label), [message], "pause of case '%s'" % label)
        c.ok(RESUMED not in run.logs(label), "case '%s' logged a resumption" % label)
    # Records before the oversize one stay, the one at exactly 64 KiB among them;
    # the fill after it waits for the resume and is not lost.
    expect_record(main_scope, got, BEFORE_BIG, 5, "fill before the oversize record")
    name_exact = fill_event_id(main_scope, exact, zone) + ".json"
    c.eq(len(got.get(name_exact, b"")), 65536, "size of the 64 KiB record")
    expect_record(main_scope, got, exact, 6, "64 KiB record")
    expect_record(main_scope, got, HELD_BACK, 7, "fill held back by the oversize record")
    for label in ("resume", "released"):
        c.eq(run.logs(label).count(RESUMED), 1, "resumption lines in '%s'" % label)
        c.eq(run.pauses(label), [], "pauses in '%s'" % label)
    c.eq(run.pauses("held pause"), [ZERO], "one pause for a cause that stays three polls")
    c.ok(RESUMED not in run.logs("held pause"), "resumption while the cause stays")
    c.eq(run.logs().count(RESUMED), 4, "resumption lines in the whole run")

    fb_got = fill_records(fallback_scope.outbox_dir(data))
    for i, f in enumerate(fallbacks):
        expect_record(fallback_scope, fb_got, f, i, "fallback scope fill %d" % i)
    c.eq(run.pauses("over the fill limit"), [OVER_LIMIT], "pause for one fill above the limit")
    c.eq(run.logs("at the fill limit").count(RESUMED), 1, "resumption at the limit")
    for i, f in enumerate(more[:97]):
        name = fill_event_id(fallback_scope, f, zone) + ".json"
        c.ok(name in fb_got, "fill %d at the limit has no record" % i)
    c.ok(fill_event_id(fallback_scope, more[97], zone) + ".json" not in fb_got, "the fill over the limit recorded")
    c.eq(len(fb_got), 3 + 97, "records of the fallback scope")
    c.eq(run.pauses("identical twins"), [AMBIGUOUS], "pause for identical fills without ids")
    c.eq(run.logs("twin gone").count(RESUMED), 1, "resumption after the twin is gone")

    # An unsupported chart symbol in journal mode: paused before any collection.
    c.eq(run.pauses("unsupported chart"), [LEGACY], "pause of the unsupported chart")
    c.eq(run.input(15), '"%s"' % LEGACY, "status of the unsupported chart")
    c.ok(not os.path.exists(legacy_scope.outbox_dir(data)), "a scope outbox for the unsupported chart exists")

    c.no_secret(SECRET, main_scope.email, [data], sim.outputs, "secret")
    return c.finish(sim)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
