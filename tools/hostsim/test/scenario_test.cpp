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

TEST(ScenarioTest, RefusesMalformedScenariosNamingTheMember) {
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      parseScenario(c.text);
      ADD_FAILURE() << "parsed";
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
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

TEST(PngImageTest, IsCompleteAndEndsWithAnEmptyIend) {
  const std::string png = makePng(300, 250, 7);  // more than one stored deflate block
  ASSERT_GT(png.size(), 57u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
  EXPECT_NE(makePng(300, 250, 8), png);
}

}  // namespace
}  // namespace qbhostsim
