"""Shared pieces of the chart-to-outbox tests: running the host simulator on
the real study library, reading its output and the outbox, and the record
bytes worked out here from the record format itself (quoting, source
fragment, scope digest, event ids, instrument metadata, decimal and time
texts), never by asking the library."""

import base64
import datetime
import decimal
import getpass
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import zoneinfo

WINESERVER = "/usr/lib/wine/wineserver"
WINDOWS_ZONES = {"Eastern Standard Time": "America/New_York", "UTC": "UTC"}
OBSERVED_AT = re.compile(rb'"observed_at":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})000Z"')


# --- record text rules -------------------------------------------------------

def jq(text):
    """The record writer's string literal: only \\t \\n \\r \\" \\\\ and \\u00xx
    below 0x20 are escaped; every other byte (0x7F, UTF-8) is copied."""
    raw = text.encode() if isinstance(text, str) else bytes(text)
    out = bytearray(b'"')
    for b in raw:
        if b == 0x09: out += b"\\t"
        elif b == 0x0A: out += b"\\n"
        elif b == 0x0D: out += b"\\r"
        elif b == 0x22: out += b'\\"'
        elif b == 0x5C: out += b"\\\\"
        elif b < 0x20: out += b"\\u%04x" % b
        else: out.append(b)
    out += b'"'
    return bytes(out)


def sha(data):
    return hashlib.sha256(data if isinstance(data, bytes) else data.encode()).hexdigest()


def compact(value):
    """Engine JSON: compact, keys in byte order, non-ASCII as raw UTF-8."""
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


def decimal_text(x):
    if x != x or x in (float("inf"), float("-inf")):
        raise ValueError("Non-finite number in Sierra data; collection paused.")
    printed = "%.8f" % x
    if abs(float(printed) - x) > 4 * 2.220446049250313e-16 * max(1.0, abs(x)):
        raise ValueError("Sierra value needs more than eight decimal places; API sync requires review.")
    printed = printed.rstrip("0").rstrip(".")
    return "0" if printed == "-0" else printed


def number_text(x):
    """Shortest round-trip text in positional notation, for metadata numbers."""
    if x != x or x in (float("inf"), float("-inf")) or x <= 0:
        return None
    text = format(decimal.Decimal(repr(x)), "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


class Scope:
    """One source scope and its saved connection, as the settings file has it."""

    def __init__(self, account, symbol, session, simulation=True, replay=False, origin=None,
                 email="trader@example.com", account_id="5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e",
                 native=True, allow_replay=False, **flags):
        self.account, self.symbol, self.session = account, symbol, session
        self.simulation, self.replay = simulation, replay
        # Nothing listens there: the sender waits for the service while the
        # collector, which never waits on the network, keeps recording.
        self.origin = origin or "http://127.0.0.1:%d" % unused_port()
        self.email, self.account_id, self.native = email, account_id, native
        self.allow_replay = allow_replay
        self.flags = flags  # further members of the saved settings

    def settings_document(self, secret):
        s = {"origin": self.origin, "allow_loopback_http": True, "email": self.email,
             "account_id": self.account_id, "account_name": "E2E Account",
             "source_account": self.account, "source_symbol": self.symbol, "session_id": self.session,
             "simulation": self.simulation, "replay": self.replay, "api_symbol": "ESM25",
             "asset_type": "future", "currency": "USD", "sync_notes": True, "enabled": True, "batch_size": 100}
        if self.native:
            s["native_instrument_protocol"] = 1
        s.update(self.flags)
        return {"settings": s, "secret": secret, "allow_replay": self.allow_replay,
                "note_revision": 0, "screenshot_revision": 0, "pending_notes": [], "pending_screenshots": []}

    def fragment(self):
        return (b',"source_account":' + jq(self.account) + b',"source_symbol":' + jq(self.symbol) +
                b',"session_id":' + jq(self.session) + b',"simulation":' + (b"true" if self.simulation else b"false") +
                b',"replay":' + (b"true" if self.replay else b"false"))

    def digest(self):
        return sha(self.fragment())

    def outbox_key(self):
        return sha(compact({"origin": self.origin, "email": self.email, "account_id": self.account_id,
                            "source_account": self.account, "source_symbol": self.symbol,
                            "session_id": self.session, "simulation": self.simulation,
                            "replay": self.replay}))[:16]

    def settings_key(self):
        return sha(compact([self.account, self.symbol, self.simulation, self.replay]))[:32]

    def outbox_dir(self, data):
        return os.path.join(data, "QuorbelleSync", "outbox", self.outbox_key(), self.digest())

    def settings_path(self, data):
        return os.path.join(data, "QuorbelleSync", "settings", self.settings_key() + ".bin")


def metadata_text(chart):
    """The instrument metadata object a fill record carries, from the chart."""
    source = chart.get("trade_symbol") or chart["chart_symbol"]
    chart_symbol = chart.get("chart_symbol", source)
    m = {"source_symbol": source, "chart_symbol": chart_symbol,
         "metadata_scope": "trade_symbol" if chart_symbol == source else "chart_symbol_mismatch",
         "market_data_connected": chart.get("feed_state", 2) == 2}
    if m["metadata_scope"] == "trade_symbol" and "security_kind" in chart:
        m["security_type"] = chart["security_kind"]
    if chart.get("trade_service"):
        m["trade_service"] = chart["trade_service"]
    details = chart.get("symbol_details")
    if details and m["market_data_connected"]:
        for key, name in (("tick_size", "tick_size"), ("value_per_tick", "currency_value_per_tick"),
                          ("contract_size", "contract_size"), ("strike", "strike_price"),
                          ("display_multiplier", "display_price_multiplier")):
            if key in details and number_text(float(details[key])) is not None:
                m[name] = number_text(float(details[key]))
        if details.get("last_trading_date"):
            m["last_trading_date"] = details["last_trading_date"][:10]
    return compact(m)


def host_bytes(text):
    """A scenario host text as the bytes the host hands over."""
    if isinstance(text, dict):
        return bytes.fromhex(text["hex"])
    return text.encode()


def decoded(text):
    """The study's reading of a host text: UTF-8 as is, else the ANSI code
    page, Windows-1252 in the test prefix."""
    raw = host_bytes(text)
    try:
        raw.decode("utf-8")
        return raw
    except UnicodeDecodeError:
        return raw.decode("cp1252").encode()


def utc_text(local, zone):
    """A chart-local "YYYY-MM-DD HH:MM:SS[.ffffff]" as the record's UTC time."""
    fmt = "%Y-%m-%d %H:%M:%S.%f" if "." in local else "%Y-%m-%d %H:%M:%S"
    t = datetime.datetime.strptime(local.replace("T", " "), fmt)
    t = t.replace(tzinfo=zoneinfo.ZoneInfo(WINDOWS_ZONES[zone])).astimezone(datetime.timezone.utc)
    return t.strftime("%Y-%m-%dT%H:%M:%S.%fZ")


SIDES = {"buy": "buy", "sell": "sell", 1: "buy", 2: "sell"}


def fill_parts(fill, zone):
    """(native fill id, identity quality, fill fragment) of a scenario fill."""
    fragment = (b',"executed_at":' + jq(utc_text(fill["time"], zone)) +
                b',"side":' + jq(SIDES[fill.get("side", "buy")]) +
                b',"quantity":' + jq(decimal_text(float(fill.get("quantity", 1)))) +
                b',"price":' + jq(decimal_text(float(fill.get("price", 0)))))
    service_id = decoded(fill.get("execution_id", ""))
    if service_id:
        return service_id, b"service", fragment
    order_id = str(fill.get("order_id", 0)).encode()
    return b"fallback:" + sha(order_id + fragment).encode(), b"local_fallback", fragment


def fill_event_id(scope, fill, zone):
    native_id, _, fragment = fill_parts(fill, zone)
    return sha(scope.digest().encode() + b"|fill|" + jq(native_id) + fragment)


def fill_record(scope, fill, index, chart, observed_at):
    """The whole record file of a fill, observed_at given (it is the write time)."""
    zone = chart.get("time_zone", "UTC")
    native_id, quality, fragment = fill_parts(fill, zone)
    event_id = fill_event_id(scope, fill, zone)
    body = (b',"kind":"fill","native_fill_id":' + jq(native_id) + fragment +
            b',"native_fill_index":' + str(index).encode() +
            b',"identity_quality":' + jq(quality) +
            b',"internal_order_id":' + jq(str(fill.get("order_id", 0))) +
            b',"service_order_id":' + jq(decoded(fill.get("service_order_id", ""))) +
            b',"position_quantity":' + jq(decimal_text(float(fill.get("position", 0)))) +
            b',"note":' + jq(decoded(fill.get("note", ""))) +
            b',"instrument_metadata":' + metadata_text(chart) +
            b',"source_chart_timezone":' + jq(zone))
    return (b'{"schema_version":1,"event_id":' + jq(event_id) + scope.fragment() +
            b',"observed_at":' + jq(observed_at) + body + b"}\n")


# --- the outbox on disk -------------------------------------------------------

def records(scope_dir):
    """name -> bytes of the record files (E.json) of a scope outbox."""
    out = {}
    if os.path.isdir(scope_dir):
        for name in sorted(os.listdir(scope_dir)):
            if name.endswith(".json"):
                with open(os.path.join(scope_dir, name), "rb") as f:
                    out[name] = f.read()
    return out


def fill_records(scope_dir):
    return {n: b for n, b in records(scope_dir).items() if b'"kind":"fill"' in b}


def tree_bytes(root):
    """Every file under root: relative path -> bytes."""
    out = {}
    for base, _, files in os.walk(root):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = f.read()
    return out


# --- running the simulator ----------------------------------------------------

_held_ports = []


def unused_port():
    """A loopback port nobody can serve while this process lives: bound here,
    never listening, so connections are refused and no other test's server
    can take it over."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    _held_ports.append(s)
    return s.getsockname()[1]


class HostRun:
    """One qb-hostsim process: its exit status, output lines and per-step view."""

    def __init__(self, rc, text, started, ended):
        self.rc, self.text, self.started, self.ended = rc, text, started, ended
        self.lines = text.split("\n")
        self.steps = {}  # label -> list of lines from its STEP line to the next
        current = None
        for line in self.lines:
            m = re.match(r"HOSTSIM STEP \d+ ?(.*)$", line)
            if m:
                current = m.group(1)
                self.steps[current] = []
            elif current is not None:
                self.steps[current].append(line)

    def logs(self, label=None, flag=None):
        lines = self.lines if label is None else self.steps.get(label, [])
        out = []
        for line in lines:
            m = re.match(r"HOSTSIM LOG ([01]) (.*)$", line)
            if m and (flag is None or int(m.group(1)) == flag):
                out.append(m.group(2))
        return out

    def pauses(self, label=None):
        return [l[len("Quorbelle collector: "):] for l in self.logs(label, 1) if l.startswith("Quorbelle collector: ")]

    def input(self, index):
        for line in self.lines:
            m = re.match(r"HOSTSIM INPUT %d (.*) \| " % index, line)
            if m:
                return m.group(1)
        return None


class Sim:
    def __init__(self, build, name):
        self.build = build
        self.wine_run = os.path.join(build, "wine-run")
        self.hostsim = os.path.join(build, "tools", "hostsim", "qb-hostsim.exe")
        self.dll = os.path.join(build, "src", "study", "QuorbelleSync.dll")
        # Short ASCII paths: the data folder must fit the host data-folder limit.
        self.work = tempfile.mkdtemp(prefix="qbe2e-%s-" % name, dir="/tmp")
        self.outputs = []

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def prepare(self, data, scope, secret, user=None):
        """Writes the scope's settings file, protected for the tests' Windows
        user or for another user (an OtherUser)."""
        os.makedirs(data, exist_ok=True)
        doc = self.path("settings-%s.json" % scope.settings_key())
        with open(doc, "w") as f:
            json.dump(scope.settings_document(secret), f, ensure_ascii=False)
        r = subprocess.run([self.wine_run, self.hostsim, "prepare-settings", data, doc],
                           capture_output=True, timeout=60, env=user.env if user else None)
        os.remove(doc)  # holds the secret in clear
        if r.returncode != 0:
            raise RuntimeError("prepare-settings failed: %s" % r.stderr.decode(errors="replace"))
        return scope.settings_path(data)

    def write_scenario(self, name, scenario):
        path = self.path(name + ".json")
        with open(path, "w") as f:
            json.dump(scenario, f)
        return path

    def start(self, name, scenario, data, start_step=None, user=None):
        args = [self.wine_run, self.hostsim, "play", self.dll, self.write_scenario(name, scenario),
                "--data-folder", data]
        if start_step is not None:
            args += ["--start-step", str(start_step)]
        out = open(self.path(name + ".out"), "wb")
        self.outputs.append(self.path(name + ".out"))
        return (subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, env=user.env if user else None), out,
                time.time())

    def finish(self, started, timeout=120):
        proc, out, t0 = started
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = proc.wait()
        out.close()
        with open(out.name, "rb") as f:
            text = f.read().decode("utf-8", errors="replace")
        return HostRun(rc, text, t0, time.time())

    def play(self, name, scenario, data, start_step=None, timeout=120, user=None):
        return self.finish(self.start(name, scenario, data, start_step, user), timeout)

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)


class OtherUser:
    """Another Windows user of the machine: a wine prefix of its own (its own
    profile and wineserver) and another user name. Wine keys its data
    protection to the user name, not to the prefix, so what this user
    protects the tests' own user cannot unprotect. The prefix stays out of
    the work folder, whose files the secret check reads: its device links
    (com1 is a serial port) would block a read."""

    def __init__(self, sim, name="qb-other-user"):
        if name == (os.environ.get("USER") or getpass.getuser()):
            raise RuntimeError("the other user's name is the tests' own: %s" % name)
        self.prefix = tempfile.mkdtemp(prefix="qbuser-", dir="/tmp")
        self.env = dict(os.environ, QB_OWN_WINEPREFIX=self.prefix, USER=name, LOGNAME=name)
        r = subprocess.run([sim.wine_run, "wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=180)
        if r.returncode != 0:
            raise RuntimeError("wineboot for %s failed: %s" % (name, r.stderr.decode(errors="replace")))

    def close(self):
        """Waits until the prefix's wineserver has gone by itself, then removes the prefix."""
        subprocess.run([WINESERVER, "-w"], env=dict(self.env, WINEPREFIX=self.prefix), timeout=120)
        shutil.rmtree(self.prefix, ignore_errors=True)


def wait_for(path, text, seconds):
    """Waits until a growing output file holds the text; false on time-out."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        with open(path, "rb") as f:
            if text.encode() in f.read():
                return True
        time.sleep(0.2)
    return False


class Checks:
    def __init__(self, name):
        self.name, self.failures, self.count = name, [], 0

    def ok(self, condition, what):
        self.count += 1
        if not condition:
            self.failures.append(what)
            print("FAIL: " + what, flush=True)
        return condition

    def eq(self, actual, expected, what):
        return self.ok(actual == expected, "%s: expected %r, got %r" % (what, expected, actual))

    def record_bytes(self, actual, expected_without_time, run, what):
        """actual must equal the expected record once its observed_at, which
        must be a write time inside the run, is put in."""
        m = OBSERVED_AT.search(actual)
        if not self.ok(m is not None, what + ": no observed_at of the fixed form in %r" % actual[:200]):
            return
        stamp = datetime.datetime.strptime(m.group(1).decode(), "%Y-%m-%dT%H:%M:%S.%f")
        stamp = stamp.replace(tzinfo=datetime.timezone.utc).timestamp()
        self.ok(run.started - 2 <= stamp <= run.ended + 2, what + ": observed_at %s outside the run" % m.group(1))
        expected = expected_without_time(m.group(1).decode() + "000Z")
        if actual != expected:
            at = next((i for i in range(min(len(actual), len(expected))) if actual[i] != expected[i]),
                      min(len(actual), len(expected)))
            self.ok(False, "%s: record bytes differ at %d:\n  got      %r\n  expected %r" %
                    (what, at, actual[max(0, at - 60):at + 80], expected[max(0, at - 60):at + 80]))
        else:
            self.count += 1

    def no_secret(self, secret, email, roots, outputs, what):
        needles = [secret.encode(), base64.b64encode(("%s:%s" % (email, secret)).encode())]
        for root in roots:
            for rel, data in tree_bytes(root).items():
                for needle in needles:
                    self.ok(needle not in data, "%s: %r found in %s" % (what, needle, rel))
        for path in outputs:
            with open(path, "rb") as f:
                data = f.read()
            for needle in needles:
                self.ok(needle not in data, "%s: %r found in %s" % (what, needle, os.path.basename(path)))

    def finish(self, sim):
        if self.failures:
            print("%s: %d of %d checks failed; work kept in %s" % (self.name, len(self.failures), self.count, sim.work))
            for path in sim.outputs:
                print("---- " + os.path.basename(path))
                with open(path, "rb") as f:
                    print(f.read().decode("utf-8", errors="replace")[-6000:])
            return 1
        print("%s: %d checks passed" % (self.name, self.count))
        sim.cleanup()
        return 0
