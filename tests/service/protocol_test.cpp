#include "service/protocol.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "service/api_errors.h"
#include "settings/api_origin.h"

namespace qbsync {
namespace {

constexpr const char* kAccount = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e";

HttpResponse ok(std::string body) {
  HttpResponse r;
  r.status = 200;
  r.body = std::move(body);
  return r;
}

// "" on success, "readiness:" + message for NativeReadinessError, else the message.
std::string outcome(const HttpResponse& response, const std::string& account, bool eligible) {
  try {
    checkReadiness(response, account, eligible);
    return "";
  } catch (const NativeReadinessError& e) {
    return std::string("readiness:") + e.what();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

TEST(IsRetryableStatus, Table) {
  const std::pair<int, bool> cases[] = {{0, true},    {200, false}, {202, false}, {400, false}, {401, false},
                                        {404, false}, {408, true},  {409, false}, {429, true},  {499, false},
                                        {500, true},  {503, true},  {599, true},  {302, false}};
  for (const auto& [status, retryable] : cases) {
    SCOPED_TRACE(status);
    EXPECT_EQ(isRetryableStatus(status), retryable);
  }
}

TEST(CheckReadiness, BodiesTable) {
  const std::string ready = std::string(R"({"account_id":")") + kAccount +
                            R"(","connector":"sierrachart","protocol":1,"status":"ready"})";
  const std::string eligibleBody = R"({"account_id":null,"connector":"sierrachart","protocol":1,"status":"eligible"})";
  const std::string bad = "INVALID_READINESS_RESPONSE";
  struct Case {
    const char* name;
    std::string body;
    std::string account;
    bool eligible;
    std::string expected;
  };
  const Case cases[] = {
      {"ready", ready, kAccount, false, ""},
      {"eligible", eligibleBody, "", true, ""},
      {"member order does not matter",
       std::string(R"({"status":"ready","protocol":1,"connector":"sierrachart","account_id":")") + kAccount + "\"}",
       kAccount, false, ""},
      {"fifth member", ready.substr(0, ready.size() - 1) + R"(,"extra":0})", kAccount, false, bad},
      {"protocol as float",
       std::string(R"({"account_id":")") + kAccount + R"(","connector":"sierrachart","protocol":1.0,"status":"ready"})",
       kAccount, false, bad},
      {"protocol as string",
       std::string(R"({"account_id":")") + kAccount + R"(","connector":"sierrachart","protocol":"1","status":"ready"})",
       kAccount, false, bad},
      {"protocol 2",
       std::string(R"({"account_id":")") + kAccount + R"(","connector":"sierrachart","protocol":2,"status":"ready"})",
       kAccount, false, bad},
      {"upper-case account id in answer",
       R"({"account_id":"5B0C6A5E-8F4E-4C61-9D37-3F1A2B4C5D6E","connector":"sierrachart","protocol":1,"status":"ready"})",
       kAccount, false, bad},
      {"other account", R"({"account_id":"6b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e","connector":"sierrachart","protocol":1,"status":"ready"})",
       kAccount, false, bad},
      {"eligible answer when ready expected", eligibleBody, kAccount, false, bad},
      {"ready answer when eligible expected", ready, "", true, bad},
      {"eligible with account_id absent",
       R"({"connector":"sierrachart","protocol":1,"status":"eligible","x":null})", "", true, bad},
      {"eligible with account_id a string",
       std::string(R"({"account_id":")") + kAccount + R"(","connector":"sierrachart","protocol":1,"status":"eligible"})",
       "", true, bad},
      {"wrong connector", R"({"account_id":null,"connector":"other","protocol":1,"status":"eligible"})", "", true, bad},
      {"repeated key", R"({"account_id":null,"connector":"sierrachart","protocol":1,"status":"eligible","status":"eligible"})",
       "", true, bad},
      {"array root", "[]", "", true, bad},
      {"empty body", "", "", true, bad},
      {"trailing content", eligibleBody + "x", "", true, bad},
      {"eligible mode given an account", eligibleBody, kAccount, true, bad},
      {"ready mode given a non-identifier", ready, "5B0C6A5E-8F4E-4C61-9D37-3F1A2B4C5D6E", false, bad},
      {"ready mode given nothing", ready, "", false, bad},
      {"over 65536 bytes", eligibleBody + std::string(65537 - eligibleBody.size(), ' '), "", true, bad},
      {"65536 bytes with padding", eligibleBody + std::string(65536 - eligibleBody.size(), ' '), "", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(ok(c.body), c.account, c.eligible), c.expected);
  }
}

// No valid readiness shape nests, so the depth bound shows only as a refusal
// of hostile nesting that must not exhaust the stack.
TEST(CheckReadiness, HostileNestingIsRefused) {
  EXPECT_EQ(outcome(ok(std::string(65536, '{')), "", true), "INVALID_READINESS_RESPONSE");
  EXPECT_EQ(outcome(ok(std::string(65536, '[')), "", true), "INVALID_READINESS_RESPONSE");
}

TEST(CheckReadiness, OtherStatusesNameTheReason) {
  const std::string tail = "). The Sierra sync endpoint has not confirmed this account. Saved records are retained.";
  HttpResponse r;
  r.status = 401;
  EXPECT_EQ(outcome(r, kAccount, false), "readiness:Connection check failed (HTTP 401" + tail);
  r.status = 0;
  EXPECT_EQ(outcome(r, "", true), "readiness:Connection check failed (network unavailable" + tail);
  r.status = 503;
  EXPECT_EQ(outcome(r, kAccount, false), "readiness:Connection check failed (HTTP 503" + tail);
  r.status = 202;
  r.body = "{}";
  EXPECT_EQ(outcome(r, kAccount, false), "readiness:Connection check failed (HTTP 202" + tail);
}

TEST(ResolvePath, OnlyTheDefaultOriginRewritesReadiness) {
  const std::string def(kDefaultApiOrigin);
  struct Case {
    std::string origin;
    std::string path;
    std::string expected;
  };
  const Case cases[] = {
      {def, "/api/sierrachart-sync/", "/tradeapi/sierrachart-sync/"},
      {def, "/api/v2/journal/accounts", "/api/v2/journal/accounts"},
      {def, "/api/sierrachart-sync", "/api/sierrachart-sync"},
      {def + "/", "/api/sierrachart-sync/", "/api/sierrachart-sync/"},
      {def + ":443", "/api/sierrachart-sync/", "/api/sierrachart-sync/"},
      {"HTTPS" + def.substr(5), "/api/sierrachart-sync/", "/api/sierrachart-sync/"},
      {"http://127.0.0.1:8080", "/api/sierrachart-sync/", "/api/sierrachart-sync/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.origin + " " + c.path);
    EXPECT_EQ(resolvePath(c.origin, c.path), c.expected);
  }
}

}  // namespace
}  // namespace qbsync
