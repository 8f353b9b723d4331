#include "scenario.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

#include "png_image.h"

namespace qbhostsim {
namespace {

const char* const kChart = R"("chart":{"account":"Sim1","trade_symbol":"ESM25"})";

std::string withSteps(const std::string& steps) { return std::string("{") + kChart + ",\"steps\":" + steps + "}"; }

// A scenario text that must be refused, naming its faulty member.
struct RefusalCase {
  const char* name;
  std::string text;
  const char* message;
};

void expectRefusals(const std::vector<RefusalCase>& cases) {
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      parseScenario(c.text);
      ADD_FAILURE() << "parsed";
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(ScenarioTest, RefusesMalformedScenariosNamingTheMember) {
  const std::vector<RefusalCase> cases = {
      {"not json", "{\"chart\":", "scenario: not JSON"},
      {"not an object", "[]", "scenario: expected an object"},
      {"no chart", "{\"steps\":[]}", "scenario: \"chart\" is required"},
      {"no steps", std::string("{") + kChart + "}", "scenario: \"steps\" is required"},
      {"unknown top member", withSteps("[]").insert(1, "\"stpes\":[],"), "scenario: unknown member \"stpes\""},
      {"chart without account", "{\"chart\":{\"trade_symbol\":\"ES\"},\"steps\":[]}", "chart: \"account\" is required"},
      {"chart without symbol", "{\"chart\":{\"account\":\"A\"},\"steps\":[]}", "chart: \"trade_symbol\" or \"chart_symbol\""},
      {"unknown chart member", "{\"chart\":{\"account\":\"A\",\"trade_symbol\":\"ES\",\"zone\":\"UTC\"},\"steps\":[]}",
       "chart: unknown member \"zone\""},
      {"flag not boolean", "{\"chart\":{\"account\":\"A\",\"trade_symbol\":\"ES\",\"simulated\":1},\"steps\":[]}",
       "chart.simulated: expected true or false"},
      {"odd hex", "{\"chart\":{\"account\":{\"hex\":\"414\"},\"trade_symbol\":\"ES\"},\"steps\":[]}",
       "chart.account.hex: expected pairs of hex digits"},
      {"NUL in hex", "{\"chart\":{\"account\":{\"hex\":\"4100\"},\"trade_symbol\":\"ES\"},\"steps\":[]}",
       "chart.account.hex: a host text cannot hold a NUL byte"},
      {"steps not array", withSteps("{}"), "steps: expected an array"},
      {"unknown step member", withSteps("[{\"fils\":[]}]"), "steps[0]: unknown member \"fils\""},
      {"bad side", withSteps("[{},{\"fills\":[{\"side\":\"long\"}]}]"), "steps[1].fills[0].side: expected \"buy\""},
      {"bad date", withSteps("[{\"at\":\"2024-02-30 10:00:00\"}]"), "steps[0].at: expected a date-time"},
      {"bad fraction", withSteps("[{\"at\":\"2024-02-03 10:00:00.1234567\"}]"), "steps[0].at: expected a date-time"},
      {"bad hour", withSteps("[{\"at\":\"2024-02-03 24:00:00\"}]"), "steps[0].at: expected a date-time"},
      {"bad now", withSteps("[{\"fills\":[{\"time\":\"now-5m\"}]}]"), "steps[0].fills[0].time: expected \"now\""},
      {"time and utc", withSteps("[{\"fills\":[{\"time\":\"now\",\"time_utc\":\"2024-01-01 00:00:00\"}]}]"),
       "steps[0].fills[0]: give \"time\" or \"time_utc\", not both"},
      {"negative order id", withSteps("[{\"fills\":[{\"order_id\":-1}]}]"), "steps[0].fills[0].order_id: expected an integer 0 or more"},
      {"quantity text", withSteps("[{\"fills\":[{\"quantity\":\"2\"}]}]"), "steps[0].fills[0].quantity: expected a number"},
      {"order without id", withSteps("[{\"orders\":[{\"price1\":1}]}]"), "steps[0].orders[0].id: every order needs an id"},
      {"child with parent id", withSteps("[{\"orders\":[{\"id\":5,\"stop\":{\"id\":5}}]}]"),
       "steps[0].orders[0].stop.id: a child needs an id of its own"},
      {"unknown child member", withSteps("[{\"orders\":[{\"id\":5,\"target\":{\"id\":6,\"px\":1}}]}]"),
       "steps[0].orders[0].target: unknown member \"px\""},
      {"input key", withSteps("[{\"inputs\":{\"x\":1}}]"), "steps[0].inputs.x: input keys are indexes"},
      {"input key leading zero", withSteps("[{\"inputs\":{\"01\":1}}]"), "steps[0].inputs.01: input keys are indexes"},
      {"input value", withSteps("[{\"inputs\":{\"3\":[1]}}]"), "steps[0].inputs.3: expected a string"},
      {"key text", withSteps("[{\"key\":\"Ctrl+Shift+n\"}]"), "steps[0].key: expected modifiers"},
      {"capture mode", withSteps("[{\"capture\":{\"mode\":\"sometimes\"}}]"), "steps[0].capture.mode: expected \"write\""},
      {"until empty", withSteps("[{\"until\":{}}]"), "steps[0].until: give \"log\", \"status\" or \"file\""},
      {"until with repeat", withSteps("[{\"repeat\":2,\"until\":{\"log\":\"x\"}}]"), "steps[0]: give \"repeat\" or \"until\""},
      {"until without call", withSteps("[{\"call\":false,\"until\":{\"log\":\"x\"}}]"), "steps[0]: \"until\" needs a call"},
      {"repeat zero", withSteps("[{\"repeat\":0}]"), "steps[0].repeat: expected 1 to 100000"},
      {"wait too long", withSteps("[{\"wait_ms\":600001}]"), "steps[0].wait_ms: expected 0 to 600000"},
      {"label twice", withSteps("[{\"label\":\"a\"},{\"label\":\"a\"}]"), "steps[1].label: \"a\" is used twice"},
      {"end", withSteps("[]").insert(1, "\"end\":\"crash\","), "scenario.end: expected \"final\" or \"exit\""},
  };
  expectRefusals(cases);
}

TEST(ScenarioTest, ReadsChartFillsOrdersAndEvents) {
  const Scenario s = parseScenario(R"({
    "chart": {"account": {"hex": "53696de9"}, "trade_symbol": "ESM25", "time_zone": "Eastern Standard Time",
              "symbol_details": {"tick_size": 0.25, "value_per_tick": 12.5, "contract_size": "nan"},
              "capture": {"mode": "never", "delay_renders": 2}},
    "default_wait_ms": 1100,
    "steps": [
      {"label": "open", "at": "2024-03-10 01:59:59.5",
       "fills": [{"time": "now-3s", "side": "sell", "quantity": 2, "price": 5000.25, "execution_id": "x1"},
                 {"time_utc": "2024-03-10T07:00:00"}, {}],
       "orders": [{"id": 10, "side": "buy", "price1": 5000, "stop": {"id": 11, "price1": 4990},
                   "target": {"id": 12, "price1": 5010}}]},
      {"menu": "Quorbelle Sync setup", "key": "Ctrl+Shift+N", "inputs": {"0": false, "11": 3, "12": "note"},
       "until": {"status": "applied", "file": "/tmp/done", "timeout_ms": 5000}, "capture": {"mode": "truncated"}},
      {"symbol_details": null, "call": false, "renders": 2, "crash": true}
    ],
    "end": "exit"})");
  EXPECT_EQ(s.chart.account, "Sim\xe9");
  EXPECT_EQ(s.chart.chartSymbol, "ESM25");
  EXPECT_TRUE(s.chart.symbolDetails.offered);
  EXPECT_EQ(s.chart.symbolDetails.details.tickSize, 0.25);
  EXPECT_TRUE(std::isnan(s.chart.symbolDetails.details.contractSize));
  EXPECT_EQ(s.defaultWaitMs, 1100);
  EXPECT_FALSE(s.finalCall);
  ASSERT_EQ(s.steps.size(), 3u);

  const Step& open = s.steps[0];
  // 2024-03-10 is 45361 days after 1899-12-30.
  EXPECT_EQ(*open.at, 45361LL * 86400000000LL + (((1 * 60) + 59) * 60 + 59) * 1000000LL + 500000);
  ASSERT_EQ(open.fills.size(), 3u);
  EXPECT_EQ(open.fills[0].time.kind, TimeSpec::Kind::kNow);
  EXPECT_EQ(open.fills[0].time.offsetMicros, -3000000);
  EXPECT_EQ(open.fills[0].side, 2);
  EXPECT_EQ(open.fills[1].time.kind, TimeSpec::Kind::kUtc);
  EXPECT_EQ(open.fills[2].time.kind, TimeSpec::Kind::kStepTime);
  ASSERT_EQ(open.orders.size(), 3u);
  EXPECT_EQ(open.orders[0].stopChild, 11u);
  EXPECT_EQ(open.orders[0].targetChild, 12u);
  EXPECT_EQ(open.orders[1].parent, 10u);
  EXPECT_EQ(open.orders[1].side, 2);
  EXPECT_EQ(open.orders[1].oco, 12u);
  EXPECT_EQ(open.orders[2].oco, 11u);

  const Step& events = s.steps[1];
  ASSERT_TRUE(events.key.has_value());
  EXPECT_EQ(events.key->code, 78);
  ASSERT_TRUE(events.until.has_value());
  EXPECT_EQ(events.until->fileExists, "/tmp/done");
  EXPECT_TRUE(events.key->ctrl && events.key->shift && !events.key->alt);
  ASSERT_EQ(events.inputs.size(), 3u);
  EXPECT_EQ(events.inputs[0].integer, 0);
  EXPECT_TRUE(events.inputs[2].isText);
  // A step's capture options start from the chart's.
  EXPECT_EQ(events.capture->mode, CaptureOptions::Mode::kTruncated);
  EXPECT_EQ(events.capture->delayRenders, 2);
  EXPECT_EQ(s.steps[2].symbolDetails->offered, false);
  EXPECT_EQ(stepIndex(s, "open"), 0u);
  EXPECT_EQ(stepIndex(s, "2"), 2u);
  EXPECT_THROW(stepIndex(s, "4"), ScenarioError);
}

std::string withWindowSteps(const std::string& steps) {
  return R"({"chart":{"account":"Sim1","trade_symbol":"ESM25","chart_window":true},"steps":)" + steps + "}";
}

TEST(ScenarioTest, RefusesMalformedSetupActions) {
  const std::vector<RefusalCase> cases = {
      {"no chart window", withSteps(R"([{"setup":[{"wait_window":true}]}])"), "steps[0].setup: the setup window needs an owner"},
      {"not a list", withWindowSteps(R"([{"setup":{"click":102}}])"), "steps[0].setup: expected an array"},
      {"empty list", withWindowSteps(R"([{"setup":[]}])"), "steps[0].setup: expected at least one action"},
      {"no verb", withWindowSteps(R"([{"setup":[{"timeout_ms":5}]}])"), "steps[0].setup[0]: give exactly one of"},
      {"two verbs", withWindowSteps(R"([{"setup":[{"click":102,"close":true}]}])"), "steps[0].setup[0]: give exactly one of"},
      {"type without control", withWindowSteps(R"([{"setup":[{"type":"x"}]}])"), "steps[0].setup[0]: \"type\" needs \"into\""},
      {"into on a click", withWindowSteps(R"([{"setup":[{"click":102,"into":100}]}])"), "steps[0].setup[0].into: \"into\" belongs to \"type\""},
      {"in without pick", withWindowSteps(R"([{"setup":[{"click":102,"in":103}]}])"), "steps[0].setup[0].in: \"in\" belongs to \"pick\""},
      {"control zero", withWindowSteps(R"([{"setup":[{"click":0}]}])"), "steps[0].setup[0].click: expected 1 to 65535"},
      {"pick negative", withWindowSteps(R"([{"setup":[{"pick":-1}]}])"), "steps[0].setup[0].pick: expected 0 to 10000"},
      {"empty status", withWindowSteps(R"([{"setup":[{"status":""}]}])"), "steps[0].setup[0].status: expected a non-empty text"},
      {"close false", withWindowSteps(R"([{"setup":[{"close":false}]}])"), "steps[0].setup[0].close: expected true"},
      {"wait window false", withWindowSteps(R"([{"setup":[{"wait_window":false}]}])"), "steps[0].setup[0].wait_window: expected true"},
      {"unknown member", withWindowSteps(R"([{"setup":[{"click":102,"wait":1}]}])"), "steps[0].setup[0]: unknown member \"wait\""},
      {"setup without call", withWindowSteps(R"([{"call":false,"setup":[{"close":true}]}])"), "steps[0]: \"setup\" needs calls"},
      {"setup with repeat", withWindowSteps(R"([{"repeat":3,"setup":[{"close":true}]}])"), "steps[0]: give \"repeat\" or \"setup\""},
  };
  expectRefusals(cases);
}

TEST(ScenarioTest, ReadsSetupActions) {
  const Scenario s = parseScenario(withWindowSteps(R"([{"menu":"Quorbelle Sync setup","setup":[
      {"wait_window":"Quorbelle Sync setup"}, {"wait_window":true,"timeout_ms":500},
      {"type":"trader@example.com","into":100}, {"pick":"Peer Demo Account"}, {"pick":2,"in":7},
      {"click":111}, {"status":"applied 2","timeout_ms":30000}, {"close":true}, {"sleep_ms":250}]}])"));
  EXPECT_TRUE(s.chart.chartWindow);
  EXPECT_FALSE(s.chart.timeCalls);
  ASSERT_EQ(s.steps.size(), 1u);
  const std::vector<SetupAction>& a = s.steps[0].setup;
  ASSERT_EQ(a.size(), 9u);
  using K = SetupAction::Kind;
  EXPECT_EQ(a[0].kind, K::kWaitWindow);
  EXPECT_EQ(a[0].text, "Quorbelle Sync setup");
  EXPECT_EQ(a[0].timeoutMs, 15000);
  EXPECT_EQ(a[1].text, "");
  EXPECT_EQ(a[1].timeoutMs, 500);
  EXPECT_EQ(a[2].kind, K::kType);
  EXPECT_EQ(a[2].control, 100);
  EXPECT_EQ(a[2].text, "trader@example.com");
  // A pick names the account list unless told otherwise, by text or by position.
  EXPECT_EQ(a[3].kind, K::kPick);
  EXPECT_EQ(a[3].control, 103);
  EXPECT_EQ(a[3].index, -1);
  EXPECT_EQ(a[4].control, 7);
  EXPECT_EQ(a[4].index, 2);
  EXPECT_EQ(a[5].kind, K::kClick);
  EXPECT_EQ(a[5].control, 111);
  EXPECT_EQ(a[6].kind, K::kStatus);
  EXPECT_EQ(a[6].timeoutMs, 30000);
  EXPECT_EQ(a[7].kind, K::kClose);
  EXPECT_EQ(a[8].kind, K::kSleep);
  EXPECT_EQ(a[8].timeoutMs, 250);
}

TEST(PngImageTest, IsCompleteAndEndsWithAnEmptyIend) {
  const std::string png = makePng(300, 250, 7);  // more than one stored deflate block
  ASSERT_GT(png.size(), 57u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
  EXPECT_NE(makePng(300, 250, 8), png);
}

}  // namespace
}  // namespace qbhostsim
