#!/usr/bin/env python3
"""Writes the recorded outbox of the poll benchmark natively: one fill record
per fixture fill, named by the event id the collector derives for it (scope
digest, "|fill|", quoted execution id, fill fragment).
usage: make_poll_fixture.py <scope-dir> <count>"""

import datetime
import hashlib
import os
import sys

FRAGMENT = (',"source_account":"Sim1","source_symbol":"ESZ25","session_id":"bench-session",'
            '"simulation":true,"replay":false')
DIGEST = hashlib.sha256(FRAGMENT.encode()).hexdigest()
BASE = datetime.datetime(2025, 1, 2)
METADATA = ('{"chart_symbol":"ESZ25","contract_size":"50","currency_value_per_tick":"12.5",'
            '"display_price_multiplier":"1","market_data_connected":true,"metadata_scope":"trade_symbol",'
            '"security_type":1,"source_symbol":"ESZ25","tick_size":"0.25","trade_service":"Simulated"}')


def decimal_text(x):
    return ("%.8f" % x).rstrip("0").rstrip(".")


def main(directory, count):
    os.makedirs(directory, exist_ok=True)
    for i in range(count):
        # Fill i of bench_poll.cpp: ids B0000000..., 1.000003 s apart, sides
        # alternating, quantities 1 to 3, prices in quarter ticks.
        exec_id = "B%07d" % i
        when = (BASE + datetime.timedelta(microseconds=i * 1000003)).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
        fragment = (',"executed_at":"%s","side":"%s","quantity":"%s","price":"%s"' %
                    (when, "buy" if i % 2 == 0 else "sell", decimal_text(1 + i % 3),
                     decimal_text(5000 + (i % 400) * 0.25)))
        event_id = hashlib.sha256((DIGEST + '|fill|"' + exec_id + '"' + fragment).encode()).hexdigest()
        record = ('{"schema_version":1,"event_id":"%s"%s,"observed_at":"2025-01-02T00:00:00.000000Z",'
                  '"kind":"fill","native_fill_id":"%s"%s,"native_fill_index":%d,"identity_quality":"service",'
                  '"internal_order_id":"%d","service_order_id":"","position_quantity":"0","note":"",'
                  '"instrument_metadata":%s,"source_chart_timezone":"UTC"}\n' %
                  (event_id, FRAGMENT, exec_id, fragment, i, i + 1, METADATA))
        path = os.path.join(directory, event_id + ".json")
        if not os.path.exists(path):  # a smaller fixture grows in place
            with open(path, "w") as f:
                f.write(record)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
