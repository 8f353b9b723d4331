#include "service/error_vocabulary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qbsync {
namespace {

TEST(ErrorVocabulary, CodeSetHas118DistinctCodes) {
  const auto codes = knownErrorCodes();
  ASSERT_EQ(codes.size(), 118u);
  EXPECT_EQ(std::set<std::string_view>(codes.begin(), codes.end()).size(), 118u);
  EXPECT_EQ(codes.front(), "INVALID_SYNC_IDENTITY");
  EXPECT_EQ(codes.back(), "RESPONSE_BUDGET_LIMIT");
  for (const std::string_view code : codes) EXPECT_TRUE(isKnownErrorCode(code)) << code;
}

TEST(ErrorVocabulary, CodesTable) {
  struct Case {
    const char* code;
    bool known;
  };
  const Case cases[] = {
      {"NOT_AUTHORIZED", true},
      {"SOURCE_SEQUENCE_GAP", true},
      {"TRUSTED_HTTPS_PROXY_REQUIRED", true},
      {"not_authorized", false},
      {"Not_Authorized", false},
      {"NOT_AUTHORIZED ", false},
      {"", false},
      {"TLS_VALIDATION_FAILED", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(isKnownErrorCode(c.code), c.known);
  }
}

TEST(ErrorVocabulary, FieldsTable) {
  struct Case {
    std::string field;
    bool known;
  };
  const Case cases[] = {
      {"body", true},
      {"connector", true},
      {"client_instance_id", true},
      {"source_sequence", true},
      {"Body", false},
      {"price", false},
      {"executions[0].side", true},
      {"executions[499].instrument.symbol", true},
      {"executions[42].instrument", true},
      {"executions[7].instrument.asset_type", true},
      {"executions[3].base_fees", true},
      {"executions[500].side", false},
      {"executions[999].side", false},
      {"executions[1000].side", false},
      {"executions[01].side", false},
      {"executions[0].price", false},
      {"executions[0].instrument.name", false},
      {"executions[0].side.x", false},
      {"executions[-1].side", false},
      {"executions[].side", false},
      {"xexecutions[0].side", false},
      {"executions[0].side ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(isKnownErrorField(c.field), c.known);
  }
}

}  // namespace
}  // namespace qbsync
