#include "service/logged_transport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "service/fake_transport.h"
#include "settings/api_origin.h"

namespace qbsync {
namespace {

constexpr const char* kKey = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kOp = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
const std::string kRid = "00112233445566778899aabbccddeeff";

class LoggedTransportTest : public ::testing::Test {
 protected:
  LogSink sink() {
    return [this](const std::string& text, bool isError) { lines.push_back({text, isError}); };
  }
  FakeTransport inner;
  std::vector<LogLine> lines;
};

TEST_F(LoggedTransportTest, ExchangesTable) {
  struct Case {
    const char* name;
    std::string method, path, key;
    HttpResponse response;
    std::string origin;
    LogLine sending, server;
  };
  const std::string def(kDefaultApiOrigin);
  const std::string local = "http://127.0.0.1:8080";
  const Case cases[] = {
      {"accepted batch", "POST", "/api/v2/journal/execution-batches", kKey, {202, "{}", 0, "", "", kRid}, local,
       {std::string("Sending POST /api/v2/journal/execution-batches; request=") + kKey, false},
       {"Server POST /api/v2/journal/execution-batches: HTTP 202; request_id=" + kRid, false}},
      {"status 0 import poll", "GET", std::string("/api/v2/journal/execution-imports/") + kOp, "", {}, local,
       {std::string("Sending GET /api/v2/journal/execution-imports/") + kOp, false},
       {std::string("Server GET /api/v2/journal/execution-imports/") + kOp + ": network unavailable", true}},
      {"429 with retry after", "POST", "/api/v2/journal/notes", kKey, {429, "", 30, "", "", ""}, local,
       {std::string("Sending POST /api/v2/journal/notes; request=") + kKey, false},
       {"Server POST /api/v2/journal/notes: HTTP 429; retry_after=30s", true}},
      {"code, field, request id, retry after", "POST", "/api/v2/journal/execution-batches", kKey,
       {422, "", 5, "INVALID_SIDE", "executions[3].side", kRid}, local,
       {std::string("Sending POST /api/v2/journal/execution-batches; request=") + kKey, false},
       {"Server POST /api/v2/journal/execution-batches: HTTP 422; code=INVALID_SIDE; field=executions[3].side; "
        "request_id=" + kRid + "; retry_after=5s",
        true}},
      {"unknown code and bad request id hidden", "POST", "/api/v2/journal/accounts", "",
       {401, "", 0, "SOMETHING_ELSE", "body", "ABCDEF"}, local, {"Sending POST /api/v2/journal/accounts", false},
       {"Server POST /api/v2/journal/accounts: HTTP 401", true}},
      {"default origin shows rewritten readiness", "GET", "/api/sierrachart-sync/", "", {200, "{}", 0, "", "", ""},
       def, {"Sending GET /tradeapi/sierrachart-sync/", false},
       {"Server GET /tradeapi/sierrachart-sync/: HTTP 200", false}},
      {"stored origin with slash shows the plain path", "GET", "/api/sierrachart-sync/", "",
       {200, "{}", 0, "", "", ""}, def + "/", {"Sending GET /api/sierrachart-sync/", false},
       {"Server GET /api/sierrachart-sync/: HTTP 200", false}},
      {"key that is not an identifier", "POST", "/api/v2/journal/notes", "NOT-A-KEY", {304, "", 0, "", "", ""},
       local, {"Sending POST /api/v2/journal/notes", false}, {"Server POST /api/v2/journal/notes: HTTP 304", false}},
      {"control bytes and long path excerpted", "GE\nT", "/" + std::string(200, 'p'), "", {404, "", 0, "", "", ""},
       local, {"Sending GE T /" + std::string(159, 'p') + "...", false},
       {"Server GE T /" + std::string(159, 'p') + "...: HTTP 404", true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines.clear();
    inner.answer(c.response);
    LoggedTransport logged(inner, sink(), c.origin);
    const HttpResponse got = logged.request(c.method, c.path, "body-text", c.key);
    EXPECT_EQ(got.status, c.response.status);
    EXPECT_EQ(got.body, c.response.body);
    EXPECT_EQ(got.error_code, c.response.error_code);  // returned unchanged, unfiltered
    EXPECT_EQ(lines, (std::vector<LogLine>{c.sending, c.server}));
    EXPECT_EQ(inner.calls.back().path, c.path);  // the inner transport rewrites, not the decorator
  }
}

TEST_F(LoggedTransportTest, InnerFailureIsLoggedAndRethrown) {
  inner.fail("TLS_VALIDATION_FAILED");
  LoggedTransport logged(inner, sink(), "https://example.test");
  try {
    logged.request("POST", "/api/v2/journal/execution-batches", "{}", kKey);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "TLS_VALIDATION_FAILED");
  }
  EXPECT_EQ(lines, (std::vector<LogLine>{
                       {std::string("Sending POST /api/v2/journal/execution-batches; request=") + kKey, false},
                       {"Request did not complete: POST /api/v2/journal/execution-batches. No confirmation received.",
                        true}}));
}

TEST_F(LoggedTransportTest, ThrowingOrMissingSinkChangesNothing) {
  inner.answer(200, "{\"a\":1}");
  inner.answer(503);
  LoggedTransport throwing(inner, [](const std::string&, bool) { throw std::runtime_error("sink down"); }, "");
  EXPECT_EQ(throwing.request("POST", "/api/v2/journal/accounts", "{}", "").body, "{\"a\":1}");
  LoggedTransport silent(inner, nullptr, "");
  EXPECT_EQ(silent.request("POST", "/api/v2/journal/accounts", "{}", "").status, 503);
}

TEST_F(LoggedTransportTest, CancelReachesTheInnerTransport) {
  LoggedTransport logged(inner, sink(), "");
  logged.cancel();
  EXPECT_TRUE(inner.cancelled);
}

}  // namespace
}  // namespace qbsync
