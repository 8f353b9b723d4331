#include "collector/instrument_metadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "collector/fake_study_host.h"
#include "support/calendar_days.h"

namespace qbtest {
namespace {

using qbsync::captureInstrumentMetadata;
using qbsync::metadataNumberText;

constexpr std::int64_t kDayMicros = 86400000000LL;

std::int64_t hostDay(std::int64_t y, unsigned m, unsigned d) {
  return (qbsync::daysFromCivil(y, m, d) - qbsync::daysFromCivil(1899, 12, 30)) * kDayMicros;
}

TEST(MetadataNumberTextTest, ShortestTextWithoutExponent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double in;
    std::string out;
  } cases[] = {
      {0.25, "0.25"},       {50, "50"},         {1e-05, "0.00001"}, {2.5e+21, "2500000000000000000000"},
      {12.5, "12.5"},       {0.1, "0.1"},       {1e+22, "10000000000000000000000"},
      {1.2345e-7, "0.00000012345"}, {123456789012.5, "123456789012.5"}, {5e-324, "0." + std::string(323, '0') + "5"},
      {0, ""},              {-0.25, ""},        {nan, ""},          {inf, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(metadataNumberText(c.in), c.out);
  }
}

TEST(InstrumentMetadataTest, FullObjectIsCompactAndKeyOrdered) {
  FakeStudyHost fake;
  fake.details = {12.5, 0.25, 1, 0, 50, hostDay(2025, 12, 19) + 3600000000LL};
  const std::string text = captureInstrumentMetadata(fake.host(), "ESZ25").dump();
  EXPECT_EQ(text,
            "{\"chart_symbol\":\"ESZ25\",\"contract_size\":\"50\",\"currency_value_per_tick\":\"12.5\","
            "\"display_price_multiplier\":\"1\",\"last_trading_date\":\"2025-12-19\",\"market_data_connected\":true,"
            "\"metadata_scope\":\"trade_symbol\",\"security_type\":7,\"source_symbol\":\"ESZ25\","
            "\"tick_size\":\"0.25\",\"trade_service\":\"CQG\"}");
  EXPECT_EQ(fake.detailsAsked, std::vector<std::string>({"ESZ25"}));
}

TEST(InstrumentMetadataTest, MembersTheHostCannotSupplyAreOmitted) {
  struct Case {
    const char* name;
    std::function<void(FakeStudyHost&)> setup;
    std::string expected;
  } cases[] = {
      {"no market data: no details are read",
       [](FakeStudyHost& f) { f.host().feedState = 1; },
       "{\"chart_symbol\":\"ESZ25\",\"market_data_connected\":false,\"metadata_scope\":\"trade_symbol\","
       "\"security_type\":7,\"source_symbol\":\"ESZ25\",\"trade_service\":\"CQG\"}"},
      {"optional host functions absent",
       [](FakeStudyHost& f) {
         f.offerSecurityKind = false;
         f.tradeService.reset();
         f.offerSymbolDetails = false;
       },
       "{\"chart_symbol\":\"ESZ25\",\"market_data_connected\":true,\"metadata_scope\":\"trade_symbol\","
       "\"source_symbol\":\"ESZ25\"}"},
      {"empty trade service, zero tick, NaN contract size, unset date",
       [](FakeStudyHost& f) {
         f.tradeService = std::string();
         f.details = {12.5, 0, 1, 0, std::nan(""), 0};
       },
       "{\"chart_symbol\":\"ESZ25\",\"currency_value_per_tick\":\"12.5\",\"display_price_multiplier\":\"1\","
       "\"market_data_connected\":true,\"metadata_scope\":\"trade_symbol\",\"security_type\":7,"
       "\"source_symbol\":\"ESZ25\"}"},
      {"trading date in 1899",
       [](FakeStudyHost& f) {
         f.offerSecurityKind = false;
         f.tradeService.reset();
         f.details = {0, 0, 0, 0, 0, hostDay(1899, 12, 31)};
       },
       "{\"chart_symbol\":\"ESZ25\",\"market_data_connected\":true,\"metadata_scope\":\"trade_symbol\","
       "\"source_symbol\":\"ESZ25\"}"},
      {"trading date after 9999",
       [](FakeStudyHost& f) {
         f.offerSecurityKind = false;
         f.tradeService.reset();
         f.details = {0, 0, 0, 0, 0, hostDay(10000, 1, 1)};
       },
       "{\"chart_symbol\":\"ESZ25\",\"market_data_connected\":true,\"metadata_scope\":\"trade_symbol\","
       "\"source_symbol\":\"ESZ25\"}"},
      {"negative strike, tiny tick",
       [](FakeStudyHost& f) {
         f.offerSecurityKind = false;
         f.tradeService.reset();
         f.details = {0, 1e-05, 0, -5, 0, hostDay(1900, 1, 1)};
       },
       "{\"chart_symbol\":\"ESZ25\",\"last_trading_date\":\"1900-01-01\",\"market_data_connected\":true,"
       "\"metadata_scope\":\"trade_symbol\",\"source_symbol\":\"ESZ25\",\"tick_size\":\"0.00001\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStudyHost fake;
    c.setup(fake);
    fake.refresh();
    EXPECT_EQ(captureInstrumentMetadata(fake.host(), "ESZ25").dump(), c.expected);
  }
}

TEST(InstrumentMetadataTest, ChartSymbolMismatchHasNoSecurityType) {
  FakeStudyHost fake;
  fake.tradeSymbol = "ESH26";
  fake.chartSymbol = "ESZ25";
  fake.refresh();
  const nlohmann::json m = captureInstrumentMetadata(fake.host(), "ESH26");
  EXPECT_EQ(m["metadata_scope"], "chart_symbol_mismatch");
  EXPECT_EQ(m["source_symbol"], "ESH26");
  EXPECT_EQ(m["chart_symbol"], "ESZ25");
  EXPECT_FALSE(m.contains("security_type"));
  EXPECT_EQ(m["tick_size"], "0.25");
  EXPECT_EQ(fake.detailsAsked, std::vector<std::string>({"ESH26"}));  // the raw trade symbol
}

TEST(InstrumentMetadataTest, EmptyTradeSymbolAsksWithTheChartSymbolAndKeepsUtf8Raw) {
  FakeStudyHost fake;
  fake.tradeSymbol = "";
  fake.chartSymbol = "DAX\xc3\xa9";
  fake.refresh();
  const std::string text = captureInstrumentMetadata(fake.host(), "DAX\xc3\xa9").dump();
  EXPECT_NE(text.find("\"chart_symbol\":\"DAX\xc3\xa9\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"metadata_scope\":\"trade_symbol\""), std::string::npos);
  EXPECT_EQ(fake.detailsAsked, std::vector<std::string>({"DAX\xc3\xa9"}));

  // Without any symbol there is nothing to ask the host about.
  FakeStudyHost none;
  none.tradeSymbol = "";
  none.chartSymbol = "";
  none.refresh();
  captureInstrumentMetadata(none.host(), "");
  EXPECT_TRUE(none.detailsAsked.empty());
}

}  // namespace
}  // namespace qbtest
