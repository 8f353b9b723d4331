// Fill records to executions: exact decimals, identity rules, both shapes.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "support/sha256.h"
#include "sync/execution.h"

namespace {

qbsync::ConnectionSettings journal() {
  qbsync::ConnectionSettings s;
  s.source_account = "Sim1";
  s.source_symbol = "ESZ25";
  s.session_id = "9e1d3a5c-7b2f-4c8e-a1d0-5f6e7a8b9c0d";
  s.simulation = true;
  s.asset_type = "future";
  s.api_symbol = "ES 12-25";
  s.commission_per_unit = "1.25";
  s.fees_per_unit = "0";
  return s;
}

nlohmann::json fill() {
  return {{"native_fill_id", "exec-1"},
          {"identity_quality", "service"},
          {"side", "buy"},
          {"quantity", "3"},
          {"price", "6012.25"},
          {"executed_at", "2025-12-01T14:30:05.5Z"},
          {"source_symbol", "ESZ25"},
          {"instrument_metadata", {{"source_symbol", "ESZ25"}, {"tick_size", "0.25"}}}};
}

std::string outcome(const qbsync::ConnectionSettings& s, const nlohmann::json& record) {
  qbsync::Sha256Provider digest;
  try {
    return qbsync::deriveExecution(s, digest, record, 1).dump();
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(Execution, JournalShapeCarriesMappingAndCosts) {
  qbsync::Sha256Provider digest;
  const nlohmann::json e = qbsync::deriveExecution(journal(), digest, fill(), 17);
  EXPECT_EQ(e["source_sequence"], "17");
  EXPECT_EQ(e["executed_at"], "2025-12-01T14:30:05.500000Z");
  EXPECT_EQ(e["native_price"], "6012.25");
  EXPECT_EQ(e["native_currency"], "USD");
  EXPECT_EQ(e["base_commission"], "3.75");
  EXPECT_EQ(e["base_fees"], "0");
  EXPECT_EQ(e["instrument"], (nlohmann::json{{"asset_type", "future"}, {"symbol", "ES 12-25"}}));
  EXPECT_EQ(e["source_execution_id"].get<std::string>().substr(0, 3), "sc-");
  // Only the sequence differs between two derivations of one record.
  nlohmann::json other = qbsync::deriveExecution(journal(), digest, fill(), 9);
  other["source_sequence"] = "17";
  EXPECT_EQ(other, e);
}

TEST(Execution, NativeShapeCarriesTheRecordsMetadata) {
  qbsync::ConnectionSettings s = journal();
  s.native_instrument_protocol = true;
  qbsync::Sha256Provider digest;
  nlohmann::json record = fill();
  record["quantity"] = "1.5";  // fractional futures quantities are the host's business here
  const nlohmann::json e = qbsync::deriveExecution(s, digest, record, 1);
  EXPECT_EQ(e["price"], "6012.25");
  EXPECT_EQ(e["commission"], "0");
  EXPECT_EQ(e["fees"], "0");
  EXPECT_EQ(e["quantity"], "1.5");
  EXPECT_EQ(e["instrument"], record["instrument_metadata"]);
}

TEST(Execution, RefusalsCarryTheirCodes) {
  struct Case {
    const char* name;
    std::function<void(qbsync::ConnectionSettings&, nlohmann::json&)> change;
    const char* code;
  };
  const std::vector<Case> cases = {
      {"missing fill id", [](auto&, auto& r) { r.erase("native_fill_id"); }, "INVALID_OBSERVATION_FIELD"},
      {"empty fill id", [](auto&, auto& r) { r["native_fill_id"] = ""; }, "INVALID_NATIVE_FILL_ID"},
      {"fill id of 1025 bytes", [](auto&, auto& r) { r["native_fill_id"] = std::string(1025, 'x'); },
       "INVALID_NATIVE_FILL_ID"},
      {"local fallback without opt-in", [](auto&, auto& r) { r["identity_quality"] = "local_fallback"; },
       "UNSAFE_FILL_IDENTITY"},
      {"upper-case identity quality",
       [](auto& s, auto& r) {
         s.allow_local_fill_ids = true;
         r["identity_quality"] = "LOCAL_FALLBACK";
       },
       "UNSAFE_FILL_IDENTITY"},
      {"side in upper case", [](auto&, auto& r) { r["side"] = "BUY"; }, "INVALID_SIDE"},
      {"zero quantity", [](auto&, auto& r) { r["quantity"] = "0"; }, "INVALID_DECIMAL"},
      {"negative zero quantity", [](auto&, auto& r) { r["quantity"] = "-0"; }, "INVALID_DECIMAL"},
      {"nine fraction digits", [](auto&, auto& r) { r["quantity"] = "0.000000001"; }, "INVALID_DECIMAL"},
      {"fractional future", [](auto&, auto& r) { r["quantity"] = "1.5"; }, "INVALID_FUTURES_QUANTITY"},
      {"stock price zero",
       [](auto& s, auto& r) {
         s.asset_type = "stock";
         r["price"] = "0";
       },
       "INVALID_DECIMAL"},
      {"time without Z", [](auto&, auto& r) { r["executed_at"] = "2025-12-01T14:30:05"; }, "UTC_TIMESTAMP_REQUIRED"},
      {"cost product past eight places",
       [](auto& s, auto& r) {
         s.asset_type = "stock";
         s.commission_per_unit = "0.12345678";
         r["quantity"] = "0.3";
       },
       "INVALID_DECIMAL"},
      {"native without metadata",
       [](auto& s, auto& r) {
         s.native_instrument_protocol = true;
         r.erase("instrument_metadata");
       },
       "NATIVE_INSTRUMENT_METADATA_REQUIRED"},
      {"native metadata for another symbol",
       [](auto& s, auto& r) {
         s.native_instrument_protocol = true;
         r["instrument_metadata"]["source_symbol"] = "NQZ25";
       },
       "NATIVE_INSTRUMENT_METADATA_MISMATCH"},
      {"native metadata over 8 KiB",
       [](auto& s, auto& r) {
         s.native_instrument_protocol = true;
         r["instrument_metadata"]["pad"] = std::string(8200, 'p');
       },
       "NATIVE_INSTRUMENT_METADATA_MISMATCH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qbsync::ConnectionSettings s = journal();
    nlohmann::json record = fill();
    c.change(s, record);
    EXPECT_EQ(outcome(s, record), c.code);
  }
  // A negative price is a fact of some futures markets.
  nlohmann::json negative = fill();
  negative["price"] = "-37.63";
  EXPECT_NE(outcome(journal(), negative).find("\"native_price\":\"-37.63\""), std::string::npos);
}

TEST(Execution, IdentityDependsOnSessionNotReplay) {
  qbsync::Sha256Provider digest;
  qbsync::ConnectionSettings a = journal();
  qbsync::ConnectionSettings b = journal();
  b.session_id = "0e1d3a5c-7b2f-4c8e-a1d0-5f6e7a8b9c0d";
  qbsync::ConnectionSettings c = journal();
  c.replay = true;
  EXPECT_NE(qbsync::sourceExecutionId(a, digest, "x"), qbsync::sourceExecutionId(b, digest, "x"));
  EXPECT_EQ(qbsync::sourceExecutionId(a, digest, "x"), qbsync::sourceExecutionId(c, digest, "x"));
}

TEST(Execution, DecimalProductIsExact) {
  struct Case {
    const char* a;
    const char* b;
    const char* product;
  };
  const Case cases[] = {{"3", "1.25", "3.75"},       {"0.5", "0.005", "0.0025"},  {"2.5", "0", "0"},
                        {"100", "0.01", "1"},        {"12", "12", "144"},         {"0.12345678", "1", "0.12345678"},
                        {"99999999999", "99999999999", "9999999999800000000001"}, {"0.12345678", "0.3", "INVALID_DECIMAL"},
                        {"-1", "2", "INVALID_DECIMAL"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " x " + c.b);
    std::string result;
    try {
      result = qbsync::decimalProduct(c.a, c.b);
    } catch (const std::exception& e) {
      result = e.what();
    }
    EXPECT_EQ(result, c.product);
  }
}

TEST(Execution, LogLineNamesSequenceSideQuantityAndPrice) {
  qbsync::Sha256Provider digest;
  const nlohmann::json e = qbsync::deriveExecution(journal(), digest, fill(), 17);
  std::string line;
  qbsync::executionLogLine([&](const std::string& text, bool) { line = text; }, journal(), "Queued", e);
  EXPECT_EQ(line.rfind("Queued execution #17: ESZ25 buy 3 @ 6012.25; UTC=2025-12-01T14:30:05.500000Z; execution_id=sc-", 0),
            0u);
}

}  // namespace
