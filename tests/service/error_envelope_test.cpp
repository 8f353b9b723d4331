#include "service/error_envelope.h"

#include <gtest/gtest.h>

#include <string>

namespace qbsync {
namespace {

std::string body(const std::string& code, const std::string& field) {
  return R"({"error":{"code":")" + code + R"(","field":")" + field + R"("}})";
}

TEST(ErrorEnvelope, BodiesTable) {
  struct Case {
    const char* name;
    std::string body;
    const char* code;
    const char* field;
  };
  std::string padded = R"({"error":{"code":"NOT_FOUND","field":"body"},"pad":")";
  padded += std::string(4096 - padded.size() - 2, 'x') + "\"}";
  const Case cases[] = {
      {"code and field", body("NOT_AUTHORIZED", "executions[3].side"), "NOT_AUTHORIZED", "executions[3].side"},
      {"field outside vocabulary", body("NOT_AUTHORIZED", "executions[3].price"), "NOT_AUTHORIZED", ""},
      {"lower-case code", body("not_authorized", "executions[3].side"), "", ""},
      {"unknown code drops field too", body("SOMETHING_NEW", "body"), "", ""},
      {"code without field", R"({"error":{"code":"BUSY"}})", "BUSY", ""},
      {"field not a string", R"({"error":{"code":"BUSY","field":3}})", "BUSY", ""},
      {"code not a string", R"({"error":{"code":1,"field":"body"}})", "", ""},
      {"error not an object", R"({"error":"BUSY"})", "", ""},
      {"other members ignored", R"({"detail":"x","error":{"code":"BUSY","field":"body","hint":[1]}})", "BUSY", "body"},
      {"repeated key", R"({"error":{"code":"BUSY","code":"BUSY"}})", "", ""},
      {"not json", "<html>busy</html>", "", ""},
      {"array root", R"([{"error":{"code":"BUSY"}}])", "", ""},
      {"empty", "", "", ""},
      {"exactly 4096 bytes", padded, "NOT_FOUND", "body"},
      {"4097 bytes", padded + " ", "", ""},
      {"depth 12", R"({"error":{"code":"BUSY"},"d":)" + std::string(11, '[') + std::string(11, ']') + "}", "BUSY", ""},
      {"depth 13", R"({"error":{"code":"BUSY"},"d":)" + std::string(12, '[') + std::string(12, ']') + "}", "", ""},
  };
  ASSERT_EQ(padded.size(), 4096u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ErrorEnvelope envelope = readErrorEnvelope(c.body);
    EXPECT_EQ(envelope.code, c.code);
    EXPECT_EQ(envelope.field, c.field);
  }
}

TEST(ErrorEnvelope, JsonContentTypes) {
  const std::pair<const char*, bool> cases[] = {
      {"application/json", true},          {"Application/JSON", true},
      {"application/json; charset=utf-8", true}, {"application/json  ;x", true},
      {"application/json  ", true},        {"text/html", false},
      {" application/json", false},        {"application/jsonx", false},
      {"application/problem+json", false}, {"", false},
  };
  for (const auto& [type, json] : cases) {
    SCOPED_TRACE(type);
    EXPECT_EQ(isJsonContentType(type), json);
  }
}

TEST(RetryAfter, ValuesTable) {
  // 2024-03-01 12:00:00 UTC as 100 ns units since 1601.
  const std::uint64_t now = (1709294400ULL + 11644473600ULL) * 10000000ULL;
  struct Case {
    const char* name;
    const char* value;
    std::uint64_t now;
    int expected;
  };
  const Case cases[] = {
      {"seconds", "120", now, 120},
      {"zero", "0", now, 0},
      {"leading zeros", "0030", now, 30},
      {"cap", "86400", now, 86400},
      {"over the cap", "999999", now, 86400},
      {"overflowing digits", "99999999999999999999999999999999", now, 86400},
      {"empty", "", now, 0},
      {"negative", "-5", now, 0},
      {"spaced", " 5", now, 0},
      {"garbage", "soon", now, 0},
      {"future IMF date", "Fri, 01 Mar 2024 12:02:00 GMT", now, 120},
      {"future date truncated", "Fri, 01 Mar 2024 12:02:00 GMT", now + 5000000, 119},
      {"same second", "Fri, 01 Mar 2024 12:00:00 GMT", now, 0},
      {"past date", "Fri, 01 Mar 2024 11:00:00 GMT", now, 0},
      {"far future date capped", "Sat, 01 Mar 2025 12:00:00 GMT", now, 86400},
      {"RFC 850 date", "Friday, 01-Mar-24 12:00:30 GMT", now, 30},
      {"asctime date", "Fri Mar  1 12:01:00 2024", now, 60},
      {"impossible day", "Fri, 30 Feb 2024 12:02:00 GMT", now, 0},
      {"not GMT", "Fri, 01 Mar 2024 12:02:00 PST", now, 0},
      {"trailing text", "Fri, 01 Mar 2024 12:02:00 GMT x", now, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parseRetryAfter(c.value, c.now), c.expected);
  }
}

}  // namespace
}  // namespace qbsync
