#include "scenario.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "support/calendar_days.h"

namespace qbhostsim {
namespace {

using nlohmann::json;

constexpr std::int64_t kMicrosPerDay = 86400000000LL;
constexpr std::int64_t kBaseDaysFromUnix = -25569;  // 1899-12-30

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

// Reads the members of one object; every member must be read, so a typing
// mistake in a scenario is an error rather than a silent default.
class Members {
 public:
  Members(const json& value, std::string where) : value_(value), where_(std::move(where)) {
    if (!value_.is_object()) fail(where_, "expected an object");
  }

  const json* find(const char* key) {
    seen_.insert(key);
    auto it = value_.find(key);
    return it == value_.end() ? nullptr : &*it;
  }
  std::string at(const char* key) const { return where_ + "." + key; }

  bool flag(const char* key, bool fallback) {
    const json* v = find(key);
    if (!v) return fallback;
    if (!v->is_boolean()) fail(at(key), "expected true or false");
    return v->get<bool>();
  }
  std::optional<bool> optFlag(const char* key) {
    if (!find(key)) return std::nullopt;
    return flag(key, false);
  }
  std::int64_t integer(const char* key, std::int64_t fallback, std::int64_t lo, std::int64_t hi) {
    const json* v = find(key);
    if (!v) return fallback;
    return integerValue(*v, at(key), lo, hi);
  }
  std::optional<std::int32_t> optInt32(const char* key) {
    if (!find(key)) return std::nullopt;
    return static_cast<std::int32_t>(integer(key, 0, INT32_MIN, INT32_MAX));
  }
  std::uint64_t id(const char* key) {
    const json* v = find(key);
    if (!v) return 0;
    if (!v->is_number_integer() || (v->is_number_integer() && !v->is_number_unsigned() && v->get<std::int64_t>() < 0)) {
      fail(at(key), "expected an integer 0 or more");
    }
    return v->get<std::uint64_t>();
  }
  double number(const char* key, double fallback) {
    const json* v = find(key);
    if (!v) return fallback;
    if (v->is_number()) return v->get<double>();
    // Texts allow the values JSON cannot carry, for scenarios that test them.
    if (v->is_string()) {
      const std::string s = v->get<std::string>();
      if (s == "nan") return std::numeric_limits<double>::quiet_NaN();
      if (s == "inf") return std::numeric_limits<double>::infinity();
      if (s == "-inf") return -std::numeric_limits<double>::infinity();
    }
    fail(at(key), "expected a number, \"nan\", \"inf\" or \"-inf\"");
  }
  // A host text: a JSON string (its UTF-8 bytes as they are) or {"hex": "..."}
  // for bytes in another code page.
  std::optional<std::string> optHostText(const char* key) {
    const json* v = find(key);
    if (!v) return std::nullopt;
    return hostText(*v, at(key));
  }
  std::string hostTextOr(const char* key, const std::string& fallback) {
    return optHostText(key).value_or(fallback);
  }
  std::string plainText(const char* key, const std::string& fallback) {
    const json* v = find(key);
    if (!v) return fallback;
    if (!v->is_string()) fail(at(key), "expected a string");
    return v->get<std::string>();
  }

  void finish() const {
    for (auto it = value_.begin(); it != value_.end(); ++it) {
      if (!seen_.count(it.key())) fail(where_, "unknown member \"" + it.key() + "\"");
    }
  }

  static std::int64_t integerValue(const json& v, const std::string& where, std::int64_t lo, std::int64_t hi) {
    if (!v.is_number_integer()) fail(where, "expected an integer");
    if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
      fail(where, "out of range");
    }
    const std::int64_t n = v.get<std::int64_t>();
    if (n < lo || n > hi) fail(where, "expected " + std::to_string(lo) + " to " + std::to_string(hi));
    return n;
  }

  static std::string hostText(const json& v, const std::string& where) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_object() && v.size() == 1 && v.contains("hex") && v["hex"].is_string()) {
      const std::string hex = v["hex"].get<std::string>();
      if (hex.size() % 2 != 0) fail(where + ".hex", "expected pairs of hex digits");
      std::string bytes;
      for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
          fail(where + ".hex", "expected pairs of hex digits");
        }
        const char byte = static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16));
        if (byte == '\0') fail(where + ".hex", "a host text cannot hold a NUL byte");
        bytes.push_back(byte);
      }
      return bytes;
    }
    fail(where, "expected a string or {\"hex\": \"...\"}");
  }

 private:
  const json& value_;
  std::string where_;
  std::set<std::string> seen_;
};

const json& arrayAt(const json& v, const std::string& where) {
  if (!v.is_array()) fail(where, "expected an array");
  return v;
}

std::int32_t sideOf(Members& m, const char* key, std::int32_t fallback) {
  const json* v = m.find(key);
  if (!v) return fallback;
  if (v->is_string()) {
    const std::string s = v->get<std::string>();
    if (s == "buy") return 1;
    if (s == "sell") return 2;
  }
  // Other codes are allowed so that scenarios can show how the study refuses them.
  if (v->is_number_integer()) return static_cast<std::int32_t>(Members::integerValue(*v, m.at(key), INT32_MIN, INT32_MAX));
  fail(m.at(key), "expected \"buy\", \"sell\" or an integer side code");
}

std::optional<HostDateTime> optTime(Members& m, const char* key) {
  const json* v = m.find(key);
  if (!v) return std::nullopt;
  if (!v->is_string()) fail(m.at(key), "expected a date-time text");
  return parseHostDateTime(v->get<std::string>(), m.at(key));
}

// "now", "now-5s", "now+250ms".
TimeSpec nowTime(const std::string& text, const std::string& where) {
  TimeSpec t;
  t.kind = TimeSpec::Kind::kNow;
  if (text == "now") return t;
  const char sign = text.size() > 3 ? text[3] : '\0';
  std::string rest = text.substr(std::min<std::size_t>(4, text.size()));
  std::int64_t unit = 0;
  if (rest.size() > 2 && rest.compare(rest.size() - 2, 2, "ms") == 0) {
    unit = 1000;
    rest.resize(rest.size() - 2);
  } else if (rest.size() > 1 && rest.back() == 's') {
    unit = 1000000;
    rest.pop_back();
  }
  if ((sign != '-' && sign != '+') || unit == 0 || rest.empty() || rest.size() > 9 ||
      rest.find_first_not_of("0123456789") != std::string::npos) {
    fail(where, "expected \"now\", \"now-<n>s\", \"now+<n>s\" or the same with \"ms\"");
  }
  t.offsetMicros = std::stoll(rest) * unit * (sign == '-' ? -1 : 1);
  return t;
}

FillSpec parseFill(const json& v, const std::string& where) {
  Members m(v, where);
  FillSpec f;
  f.symbol = m.optHostText("symbol");
  f.account = m.optHostText("account");
  f.simulated = m.optFlag("simulated");
  f.internalOrderId = m.id("order_id");
  const json* time = m.find("time");
  const json* utc = m.find("time_utc");
  if (time && utc) fail(where, "give \"time\" or \"time_utc\", not both");
  if (time) {
    if (!time->is_string()) fail(m.at("time"), "expected a date-time text or \"now...\"");
    const std::string s = time->get<std::string>();
    if (s.rfind("now", 0) == 0) {
      f.time = nowTime(s, m.at("time"));
    } else {
      f.time.kind = TimeSpec::Kind::kChartLocal;
      f.time.value = parseHostDateTime(s, m.at("time"));
    }
  } else if (utc) {
    if (!utc->is_string()) fail(m.at("time_utc"), "expected a date-time text");
    f.time.kind = TimeSpec::Kind::kUtc;
    f.time.value = parseHostDateTime(utc->get<std::string>(), m.at("time_utc"));
  }
  f.side = sideOf(m, "side", 1);
  f.quantity = m.number("quantity", 1);
  f.price = m.number("price", 0);
  f.executionId = m.hostTextOr("execution_id", "");
  f.positionQuantity = m.number("position", 0);
  f.note = m.hostTextOr("note", "");
  f.serviceOrderId = m.hostTextOr("service_order_id", "");
  f.loading = m.flag("loading", false);
  m.finish();
  return f;
}

OrderSpec parseOrderFields(Members& m, const OrderSpec& base) {
  OrderSpec o = base;
  o.id = m.id("id");
  if (o.id == 0) fail(m.at("id"), "every order needs an id above 0");
  if (auto s = m.optHostText("symbol")) o.symbol = s;
  if (auto s = m.optHostText("account")) o.account = s;
  if (auto s = m.optFlag("simulated")) o.simulated = s;
  o.typeCode = static_cast<std::int32_t>(m.integer("type_code", o.typeCode, INT32_MIN, INT32_MAX));
  o.type = m.hostTextOr("type", o.type);
  o.note = m.hostTextOr("note", "");
  o.quantity = m.number("quantity", o.quantity);
  o.price1 = m.number("price1", 0);
  o.price2 = m.number("price2", 0);
  o.status = static_cast<std::int32_t>(m.integer("status", o.status, INT32_MIN, INT32_MAX));
  o.filled = m.number("filled", 0);
  o.parent = m.id("parent") ? m.id("parent") : o.parent;
  o.link = m.id("link") ? m.id("link") : o.link;
  if (auto t = optTime(m, "last_activity")) o.lastActivity = t;
  o.side = sideOf(m, "side", o.side);
  o.targetChild = m.id("target_child");
  o.stopChild = m.id("stop_child");
  o.oco = m.id("oco");
  return o;
}

// An order with optional "stop" and "target" children: each child is an
// order of its own whose parent is this one, on the other side, OCO with
// its sibling; the parent names them as its children.
void parseOrder(const json& v, const std::string& where, std::vector<OrderSpec>& out) {
  Members m(v, where);
  OrderSpec parent = parseOrderFields(m, OrderSpec{});
  const json* stop = m.find("stop");
  const json* target = m.find("target");
  m.finish();
  std::vector<OrderSpec> children;
  for (auto [child, name] : {std::pair{stop, "stop"}, std::pair{target, "target"}}) {
    if (!child) continue;
    Members cm(*child, where + "." + name);
    OrderSpec base;
    base.symbol = parent.symbol;
    base.account = parent.account;
    base.simulated = parent.simulated;
    base.quantity = parent.quantity;
    base.side = parent.side == 1 ? 2 : parent.side == 2 ? 1 : parent.side;
    base.typeCode = std::string(name) == "stop" ? 3 : 1;
    base.type = std::string(name) == "stop" ? "Stop" : "Limit";
    base.status = parent.status;
    base.parent = parent.id;
    base.link = parent.link;
    OrderSpec c = parseOrderFields(cm, base);
    if (c.parent == 0) c.parent = parent.id;
    cm.finish();
    if (c.id == parent.id) fail(where + "." + name + ".id", "a child needs an id of its own");
    (std::string(name) == "stop" ? parent.stopChild : parent.targetChild) = c.id;
    children.push_back(c);
  }
  if (children.size() == 2) {
    if (children[0].id == children[1].id) fail(where + ".target.id", "stop and target need different ids");
    if (children[0].oco == 0) children[0].oco = children[1].id;
    if (children[1].oco == 0) children[1].oco = children[0].id;
  }
  out.push_back(parent);
  out.insert(out.end(), children.begin(), children.end());
}

SymbolDetailsSpec parseDetails(const json& v, const std::string& where) {
  SymbolDetailsSpec d;
  if (v.is_null()) {
    d.offered = false;
    return d;
  }
  Members m(v, where);
  d.details.tickSize = m.number("tick_size", 0);
  d.details.currencyValuePerTick = m.number("value_per_tick", 0);
  d.details.displayPriceMultiplier = m.number("display_multiplier", 1);
  d.details.strikePrice = m.number("strike", 0);
  d.details.contractSize = m.number("contract_size", 0);
  if (auto t = optTime(m, "last_trading_date")) d.details.lastTradingDate = *t;
  m.finish();
  return d;
}

CaptureOptions parseCapture(const json& v, const std::string& where, const CaptureOptions& base) {
  Members m(v, where);
  CaptureOptions c = base;
  const std::string mode = m.plainText("mode", "");
  if (mode == "write") c.mode = CaptureOptions::Mode::kWrite;
  else if (mode == "refuse") c.mode = CaptureOptions::Mode::kRefuse;
  else if (mode == "never") c.mode = CaptureOptions::Mode::kNever;
  else if (mode == "truncated") c.mode = CaptureOptions::Mode::kTruncated;
  else if (!mode.empty()) fail(m.at("mode"), "expected \"write\", \"refuse\", \"never\" or \"truncated\"");
  c.delayRenders = static_cast<std::int32_t>(m.integer("delay_renders", c.delayRenders, 0, 1000));
  c.width = static_cast<std::int32_t>(m.integer("width", c.width, 1, 4096));
  c.height = static_cast<std::int32_t>(m.integer("height", c.height, 1, 4096));
  m.finish();
  return c;
}

KeySpec parseKey(const json& v, const std::string& where) {
  KeySpec k;
  if (v.is_string()) {
    // "Ctrl+Shift+N": modifiers, then one letter or digit.
    std::string rest = v.get<std::string>();
    for (;;) {
      if (rest.rfind("Ctrl+", 0) == 0) { k.ctrl = true; rest = rest.substr(5); }
      else if (rest.rfind("Shift+", 0) == 0) { k.shift = true; rest = rest.substr(6); }
      else if (rest.rfind("Alt+", 0) == 0) { k.alt = true; rest = rest.substr(4); }
      else break;
    }
    if (rest.size() != 1 || !((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= '0' && rest[0] <= '9'))) {
      fail(where, "expected modifiers and one upper-case letter or digit, as \"Ctrl+Shift+N\"");
    }
    k.code = rest[0];
    return k;
  }
  Members m(v, where);
  k.code = static_cast<std::int32_t>(m.integer("code", 0, 0, 65535));
  k.ctrl = m.flag("ctrl", false);
  k.shift = m.flag("shift", false);
  k.alt = m.flag("alt", false);
  m.finish();
  return k;
}

std::vector<InputEdit> parseInputs(const json& v, const std::string& where) {
  if (!v.is_object()) fail(where, "expected an object of input index to value");
  std::vector<InputEdit> edits;
  for (auto it = v.begin(); it != v.end(); ++it) {
    const std::string key = it.key();
    const std::string at = where + "." + key;
    if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != std::string::npos ||
        (key.size() > 1 && key[0] == '0')) {
      fail(at, "input keys are indexes 0 to 127");
    }
    InputEdit e;
    e.index = std::stoi(key);
    if (e.index > 127) fail(at, "input keys are indexes 0 to 127");
    const json& value = it.value();
    if (value.is_boolean()) {
      e.integer = value.get<bool>() ? 1 : 0;
    } else if (value.is_number_integer()) {
      e.integer = static_cast<std::int32_t>(Members::integerValue(value, at, INT32_MIN, INT32_MAX));
    } else {
      e.isText = true;
      e.text = Members::hostText(value, at);
    }
    edits.push_back(e);
  }
  return edits;
}

ChartChange parseChartChange(const json& v, const std::string& where) {
  Members m(v, where);
  ChartChange c;
  c.account = m.optHostText("account");
  c.tradeSymbol = m.optHostText("trade_symbol");
  c.chartSymbol = m.optHostText("chart_symbol");
  c.simulated = m.optFlag("simulated");
  c.replaying = m.optFlag("replaying");
  c.feedState = m.optInt32("feed_state");
  if (m.find("time_zone")) c.timeZone = m.plainText("time_zone", "");
  m.finish();
  return c;
}

SetupAction parseSetupAction(const json& v, const std::string& where) {
  Members m(v, where);
  SetupAction a;
  int verbs = 0;
  const auto controlId = [&](const char* key, std::int32_t fallback) {
    return static_cast<std::int32_t>(m.integer(key, fallback, 1, 65535));
  };
  if (const json* w = m.find("wait_window")) {
    ++verbs;
    a.kind = SetupAction::Kind::kWaitWindow;
    if (w->is_string()) a.text = w->get<std::string>();
    else if (!w->is_boolean() || !w->get<bool>()) fail(m.at("wait_window"), "expected true or a caption text");
  }
  if (const json* t = m.find("type")) {
    ++verbs;
    a.kind = SetupAction::Kind::kType;
    if (!t->is_string()) fail(m.at("type"), "expected a text");
    a.text = t->get<std::string>();
    if (!m.find("into")) fail(where, "\"type\" needs \"into\": a control id");
  }
  a.control = controlId("into", 0);
  if (v.contains("into") && a.kind != SetupAction::Kind::kType) fail(m.at("into"), "\"into\" belongs to \"type\"");
  if (const json* p = m.find("pick")) {
    ++verbs;
    a.kind = SetupAction::Kind::kPick;
    if (p->is_string()) a.text = p->get<std::string>();
    else if (p->is_number_integer()) a.index = static_cast<std::int32_t>(Members::integerValue(*p, m.at("pick"), 0, 10000));
    else fail(m.at("pick"), "expected an entry text or an index");
  }
  if (m.find("in")) {
    if (a.kind != SetupAction::Kind::kPick) fail(m.at("in"), "\"in\" belongs to \"pick\"");
    a.control = controlId("in", 0);
  } else if (a.kind == SetupAction::Kind::kPick) {
    a.control = 103;  // the destination account list
  }
  if (m.find("click")) {
    ++verbs;
    a.kind = SetupAction::Kind::kClick;
    a.control = controlId("click", 0);
  }
  if (const json* st = m.find("status")) {
    ++verbs;
    a.kind = SetupAction::Kind::kStatus;
    if (!st->is_string() || st->get<std::string>().empty()) fail(m.at("status"), "expected a non-empty text");
    a.text = st->get<std::string>();
  }
  if (const json* c = m.find("close")) {
    ++verbs;
    a.kind = SetupAction::Kind::kClose;
    if (!c->is_boolean() || !c->get<bool>()) fail(m.at("close"), "expected true");
  }
  if (m.find("sleep_ms")) {
    ++verbs;
    a.kind = SetupAction::Kind::kSleep;
    a.timeoutMs = static_cast<std::int32_t>(m.integer("sleep_ms", 0, 0, 600000));
  } else {
    a.timeoutMs = static_cast<std::int32_t>(m.integer("timeout_ms", a.timeoutMs, 1, 600000));
  }
  m.finish();
  if (verbs != 1) {
    fail(where, "give exactly one of \"wait_window\", \"type\", \"pick\", \"click\", \"status\", \"close\", \"sleep_ms\"");
  }
  return a;
}

Chart parseChart(const json& v, const std::string& where) {
  Members m(v, where);
  Chart c;
  c.chartId = static_cast<std::int32_t>(m.integer("chart_id", 1, 1, INT32_MAX));
  c.account = m.hostTextOr("account", "");
  c.tradeSymbol = m.hostTextOr("trade_symbol", "");
  c.chartSymbol = m.hostTextOr("chart_symbol", c.tradeSymbol);
  c.simulated = m.flag("simulated", true);
  c.replaying = m.flag("replaying", false);
  c.feedState = static_cast<std::int32_t>(m.integer("feed_state", 2, INT32_MIN, INT32_MAX));
  c.dataFolder = m.plainText("data_folder", "");
  c.timeZone = m.plainText("time_zone", "UTC");
  if (c.timeZone.empty()) fail(m.at("time_zone"), "expected a Windows time zone id");
  c.securityKind = m.optInt32("security_kind");
  c.tradeService = m.optHostText("trade_service");
  if (const json* d = m.find("symbol_details")) c.symbolDetails = parseDetails(*d, m.at("symbol_details"));
  if (const json* cap = m.find("capture")) c.capture = parseCapture(*cap, m.at("capture"), c.capture);
  c.autoRender = m.flag("auto_render", true);
  c.emptyTextAsUnset = m.flag("empty_text_as_unset", true);
  c.chartWindow = m.flag("chart_window", false);
  c.refuseSetupWindow = m.flag("refuse_setup_window", false);
  c.timeCalls = m.flag("time_calls", false);
  c.callClock = m.flag("call_clock", false);
  c.pollBaseline = m.flag("poll_baseline", false);
  if (c.callClock || c.pollBaseline) c.timeCalls = true;
  if (auto t = optTime(m, "start_time")) c.startTime = *t;
  m.finish();
  if (c.account.empty()) fail(where, "\"account\" is required");
  if (c.tradeSymbol.empty() && c.chartSymbol.empty()) fail(where, "\"trade_symbol\" or \"chart_symbol\" is required");
  return c;
}

Step parseStep(const json& v, const std::string& where, const CaptureOptions& capture) {
  Members m(v, where);
  Step s;
  s.label = m.plainText("label", "");
  s.at = optTime(m, "at");
  s.waitMs = static_cast<std::int32_t>(m.integer("wait_ms", -1, 0, 600000));
  if (const json* c = m.find("chart")) s.chart = parseChartChange(*c, m.at("chart"));
  s.clearFills = m.flag("clear_fills", false);
  if (const json* f = m.find("fills")) {
    const json& list = arrayAt(*f, m.at("fills"));
    for (std::size_t i = 0; i < list.size(); ++i) {
      s.fills.push_back(parseFill(list[i], m.at("fills") + "[" + std::to_string(i) + "]"));
    }
  }
  s.clearOrders = m.flag("clear_orders", false);
  if (const json* o = m.find("orders")) {
    const json& list = arrayAt(*o, m.at("orders"));
    for (std::size_t i = 0; i < list.size(); ++i) {
      parseOrder(list[i], m.at("orders") + "[" + std::to_string(i) + "]", s.orders);
    }
  }
  if (const json* r = m.find("remove_orders")) {
    const json& list = arrayAt(*r, m.at("remove_orders"));
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string at = m.at("remove_orders") + "[" + std::to_string(i) + "]";
      s.removeOrders.push_back(static_cast<std::uint64_t>(Members::integerValue(list[i], at, 1, INT64_MAX)));
    }
  }
  if (const json* d = m.find("symbol_details")) s.symbolDetails = parseDetails(*d, m.at("symbol_details"));
  if (const json* c = m.find("capture")) s.capture = parseCapture(*c, m.at("capture"), capture);
  s.menu = m.plainText("menu", "");
  if (const json* k = m.find("key")) s.key = parseKey(*k, m.at("key"));
  if (const json* in = m.find("inputs")) s.inputs = parseInputs(*in, m.at("inputs"));
  s.call = m.flag("call", true);
  s.repeat = static_cast<std::int32_t>(m.integer("repeat", 1, 1, 100000));
  if (const json* u = m.find("until")) {
    Members um(*u, m.at("until"));
    UntilSpec until;
    until.logContains = um.plainText("log", "");
    until.statusContains = um.plainText("status", "");
    until.fileExists = um.plainText("file", "");
    until.timeoutMs = static_cast<std::int32_t>(um.integer("timeout_ms", until.timeoutMs, 1, 3600000));
    until.everyMs = static_cast<std::int32_t>(um.integer("every_ms", until.everyMs, 0, 600000));
    um.finish();
    if (until.logContains.empty() && until.statusContains.empty() && until.fileExists.empty()) {
      fail(m.at("until"), "give \"log\", \"status\" or \"file\"");
    }
    s.until = until;
  }
  if (const json* actions = m.find("setup")) {
    const json& list = arrayAt(*actions, m.at("setup"));
    if (list.empty()) fail(m.at("setup"), "expected at least one action");
    for (std::size_t i = 0; i < list.size(); ++i) {
      s.setup.push_back(parseSetupAction(list[i], m.at("setup") + "[" + std::to_string(i) + "]"));
    }
  }
  s.renders = static_cast<std::int32_t>(m.integer("renders", 0, 0, 1000));
  s.crash = m.flag("crash", false);
  s.refuseSetupWindow = m.optFlag("refuse_setup_window");
  m.finish();
  if (s.until && !s.call) fail(where, "\"until\" needs a call");
  if (s.until && s.repeat != 1) fail(where, "give \"repeat\" or \"until\", not both");
  if (!s.setup.empty() && !s.call) fail(where, "\"setup\" needs calls");
  if (!s.setup.empty() && s.repeat != 1) fail(where, "give \"repeat\" or \"setup\", not both");
  return s;
}

}  // namespace

HostDateTime parseHostDateTime(const std::string& text, const std::string& where) {
  // YYYY-MM-DD HH:MM:SS, then an optional fraction of 1 to 6 digits.
  auto digits = [&](std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return -1;
    int n = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      n = n * 10 + (text[i] - '0');
    }
    return n;
  };
  const int year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  const int hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
  bool ok = text.size() >= 19 && text[4] == '-' && text[7] == '-' && (text[10] == ' ' || text[10] == 'T') &&
            text[13] == ':' && text[16] == ':' && year >= 1900 && month >= 1 && month <= 12 && day >= 1 &&
            hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
  std::int64_t micros = 0;
  if (ok && text.size() > 19) {
    const std::size_t count = text.size() - 20;
    ok = text[19] == '.' && count >= 1 && count <= 6 && digits(20, count) >= 0;
    if (ok) {
      micros = digits(20, count);
      for (std::size_t i = count; i < 6; ++i) micros *= 10;
    }
  }
  if (ok) {
    const auto back = qbsync::civilFromDays(qbsync::daysFromCivil(year, month, day));
    ok = back.month == static_cast<unsigned>(month) && back.day == static_cast<unsigned>(day);
  }
  if (!ok) fail(where, "expected a date-time \"YYYY-MM-DD HH:MM:SS[.ffffff]\", got \"" + text + "\"");
  const std::int64_t days = qbsync::daysFromCivil(year, month, day) - kBaseDaysFromUnix;
  return days * kMicrosPerDay + ((hour * 60 + minute) * 60 + second) * 1000000LL + micros;
}

Scenario parseScenario(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("scenario: not JSON: ") + e.what());
  }
  Members m(doc, "scenario");
  Scenario s;
  const json* chart = m.find("chart");
  if (!chart) fail("scenario", "\"chart\" is required");
  s.chart = parseChart(*chart, "chart");
  s.defaultWaitMs = static_cast<std::int32_t>(m.integer("default_wait_ms", 0, 0, 600000));
  const json* steps = m.find("steps");
  if (!steps) fail("scenario", "\"steps\" is required");
  const json& list = arrayAt(*steps, "steps");
  std::set<std::string> labels;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = "steps[" + std::to_string(i) + "]";
    s.steps.push_back(parseStep(list[i], where, s.chart.capture));
    if (!s.steps.back().setup.empty() && !s.chart.chartWindow) {
      fail(where + ".setup", "the setup window needs an owner: set \"chart_window\": true in \"chart\"");
    }
    const std::string& label = s.steps.back().label;
    if (!label.empty() && !labels.insert(label).second) fail(where + ".label", "\"" + label + "\" is used twice");
  }
  const std::string end = m.plainText("end", "final");
  if (end != "final" && end != "exit") fail("scenario.end", "expected \"final\" or \"exit\"");
  s.finalCall = end == "final";
  m.finish();
  return s;
}

std::size_t stepIndex(const Scenario& scenario, const std::string& labelOrNumber) {
  for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
    if (scenario.steps[i].label == labelOrNumber) return i;
  }
  if (!labelOrNumber.empty() && labelOrNumber.size() <= 9 &&
      labelOrNumber.find_first_not_of("0123456789") == std::string::npos) {
    const std::size_t n = std::stoul(labelOrNumber);
    if (n <= scenario.steps.size()) return n;
  }
  throw ScenarioError("start step \"" + labelOrNumber + "\": no such label or step number");
}

}  // namespace qbhostsim
