// The transport, account discovery and the connection check against the
// journal-service peer: what the client sends is accepted, every malformed
// answer the peer can script is refused with its code and never taken as
// success, TLS holds for real, cancellation is prompt and the secret never
// reaches a log line. peer_test.sh starts the peers and exports their ports.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/account_requests.h"
#include "service/api_errors.h"
#include "service/logged_transport.h"
#include "service/native_http.h"
#include "service/protocol.h"

namespace qbsync {
namespace {

constexpr const char* kAccount = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e";
constexpr const char* kSecret = "peer-secret";
// Base64 of "trader@example.com:peer-secret", as the Authorization header carries it.
constexpr const char* kBasic = "dHJhZGVyQGV4YW1wbGUuY29tOnBlZXItc2VjcmV0";

std::string env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) throw std::runtime_error(std::string("peer_test.sh must set ") + name);
  return value;
}

ConnectionSettings httpSettings() {
  ConnectionSettings s;
  s.origin = "http://127.0.0.1:" + env("QB_PEER_HTTP_PORT");
  s.allow_loopback_http = true;
  s.email = "trader@example.com";
  return s;
}

ConnectionSettings httpsSettings(const char* portVariable) {
  ConnectionSettings s;
  s.origin = "https://localhost:" + env(portVariable);
  s.email = "trader@example.com";
  return s;
}

// The peer re-reads its fault script before every request.
void script(const std::string& rules) {
  const std::string path = env("QB_PEER_STATE_WIN") + "\\script.json";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "{\"rules\":[" << rules << "]}";
}

struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;
  LogSink sink() {
    return [this](const std::string& text, bool) {
      std::lock_guard<std::mutex> guard(mutex);
      lines.push_back(text);
    };
  }
};

// What a call ended with: "" for success, else the exception's message.
std::string outcome(const std::function<void()>& call) {
  try {
    call();
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string readinessFailure(const std::string& reason) {
  return "Connection check failed (" + reason +
         "). The Sierra sync endpoint has not confirmed this account. Saved records are retained.";
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override { script(""); }
  void TearDown() override { script(""); }
};

TEST_F(PeerTest, DiscoveryAndCheckAreAcceptedAndLoggedWithoutTheSecret) {
  LogLines log;
  std::atomic<bool> cancel{false};
  const auto accounts = requestAccounts(httpSettings(), kSecret, cancel, log.sink());
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts[0].account_id, kAccount);
  EXPECT_EQ(accounts[0].name, "Peer Demo Account");

  ConnectionSettings candidate = httpSettings();
  candidate.account_id = kAccount;
  EXPECT_EQ(outcome([&] { requestConnectionCheck(candidate, kSecret, cancel, log.sink()); }), "");

  ASSERT_FALSE(log.lines.empty());
  bool sawRequestId = false;
  for (const auto& line : log.lines) {
    EXPECT_EQ(line.find(kSecret), std::string::npos) << line;
    EXPECT_EQ(line.find(kBasic), std::string::npos) << line;
    if (line.find("request_id=") != std::string::npos) sawRequestId = true;
  }
  EXPECT_TRUE(sawRequestId);
}

TEST_F(PeerTest, WrongCredentialsAndUnknownAccountAreRefused) {
  std::atomic<bool> cancel{false};
  // Discovery sends the email exactly as typed; the peer compares it byte for byte.
  ConnectionSettings typed = httpSettings();
  typed.email = "Trader@example.com";
  EXPECT_EQ(outcome([&] { requestAccounts(typed, kSecret, cancel, nullptr); }), readinessFailure("HTTP 401"));
  EXPECT_EQ(outcome([&] { requestAccounts(httpSettings(), "wrong-secret", cancel, nullptr); }),
            readinessFailure("HTTP 401"));
  ConnectionSettings other = httpSettings();
  other.account_id = "6b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e";
  EXPECT_EQ(outcome([&] { requestConnectionCheck(other, kSecret, cancel, nullptr); }), readinessFailure("HTTP 404"));
}

// Every scripted answer that is not a sound one ends in a code, never in a list.
TEST_F(PeerTest, MalformedDirectoryAndReadinessAnswersAreRefused) {
  const std::string directory = R"("match":{"method":"POST","path":"/api/v2/journal/accounts"})";
  const std::string readiness = R"("match":{"method":"GET","path":"/api/sierrachart-sync/"})";
  const std::string pad513(513, 'n');
  struct Case {
    const char* name;
    std::string rule;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"directory 401", "{" + directory + R"(,"action":{"status":401,"error":{"code":"NOT_AUTHORIZED","field":""}}})",
       "COULD_NOT_LOAD_ACCOUNTS"},
      {"directory 503", "{" + directory + R"(,"action":{"status":503,"retry_after":5}})", "COULD_NOT_LOAD_ACCOUNTS"},
      {"directory dropped", "{" + directory + R"(,"action":{"drop":true,"process":false}})", "COULD_NOT_LOAD_ACCOUNTS"},
      {"directory not JSON", "{" + directory + R"(,"action":{"status":200,"body":"accounts"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"directory without accounts", "{" + directory + R"(,"action":{"status":200,"body":"{\"items\":[]}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"accounts not an array", "{" + directory + R"(,"action":{"status":200,"body":"{\"accounts\":{}}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"repeated key", "{" + directory + R"(,"action":{"repeat_key":"accounts"}})", "INVALID_ACCOUNT_DIRECTORY"},
      {"empty name", "{" + directory +
                         R"(,"action":{"status":200,"body":"{\"accounts\":[{\"account_id\":\"5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e\",\"name\":\"\"}]}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"upper-case id", "{" + directory +
                            R"(,"action":{"status":200,"body":"{\"accounts\":[{\"account_id\":\"5B0C6A5E-8F4E-4C61-9D37-3F1A2B4C5D6E\",\"name\":\"A\"}]}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"nil id", "{" + directory +
                     R"(,"action":{"status":200,"body":"{\"accounts\":[{\"account_id\":\"00000000-0000-0000-0000-000000000000\",\"name\":\"A\"}]}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"513-byte name", "{" + directory +
                            R"(,"action":{"status":200,"body":"{\"accounts\":[{\"account_id\":\"5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e\",\"name\":\")" +
                            pad513 + R"(\"}]}"}})",
       "INVALID_ACCOUNT_DIRECTORY"},
      {"oversized directory", "{" + directory + R"(,"action":{"status":200,"oversized_body":65537}})",
       "HTTP_RESPONSE_LIMIT"},
      {"readiness 401", "{" + readiness + R"(,"action":{"status":401}})", readinessFailure("HTTP 401")},
      {"readiness 503", "{" + readiness + R"(,"action":{"status":503,"retry_after":3}})", readinessFailure("HTTP 503")},
      {"readiness dropped", "{" + readiness + R"(,"action":{"drop":true,"process":false}})",
       readinessFailure("network unavailable")},
      {"readiness extra member", "{" + readiness + R"(,"action":{"override":{"extra":1}}})",
       "INVALID_READINESS_RESPONSE"},
      {"readiness wrong status", "{" + readiness + R"(,"action":{"override":{"status":"ready"}}})",
       "INVALID_READINESS_RESPONSE"},
      {"readiness repeated key", "{" + readiness + R"(,"action":{"repeat_key":"status"}})",
       "INVALID_READINESS_RESPONSE"},
      {"readiness wrong connector", "{" + readiness + R"(,"action":{"override":{"connector":"other"}}})",
       "INVALID_READINESS_RESPONSE"},
  };
  std::atomic<bool> cancel{false};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script(c.rule);
    EXPECT_EQ(outcome([&] { requestAccounts(httpSettings(), kSecret, cancel, nullptr); }), c.expected);
  }
  script("");
  EXPECT_EQ(outcome([&] { requestAccounts(httpSettings(), kSecret, cancel, nullptr); }), "");
}

TEST_F(PeerTest, ReadinessOfTheWrongAccountOrModeIsRefused) {
  const std::string readiness = R"({"match":{"method":"GET","path":"/api/sierrachart-sync/"},"action":)";
  ConnectionSettings candidate = httpSettings();
  candidate.account_id = kAccount;
  std::atomic<bool> cancel{false};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {readiness + R"({"override":{"account_id":"6b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e"}}})",
       "INVALID_READINESS_RESPONSE"},
      {readiness + R"({"override":{"status":"eligible"}}})", "INVALID_READINESS_RESPONSE"},
      {readiness + R"({"override":{"protocol":2}}})", "INVALID_READINESS_RESPONSE"},
      {readiness + R"({"status":403,"error":{"code":"SIERRA_SYNC_DISABLED","field":""}}})", readinessFailure("HTTP 403")},
  };
  for (const auto& [rule, expected] : cases) {
    SCOPED_TRACE(rule);
    script(rule);
    EXPECT_EQ(outcome([&] { requestConnectionCheck(candidate, kSecret, cancel, nullptr); }), expected);
  }
}

TEST_F(PeerTest, CancelDuringARequestEndsTheCallPromptly) {
  struct Case {
    const char* name;
    std::string rule;
    bool discovery;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // Discovery judges the readiness answer first: the cancelled request reads as no network.
      {"discovery, readiness in flight",
       R"({"match":{"method":"GET","path":"/api/sierrachart-sync/"},"action":{"delay_ms":8000}})", true,
       readinessFailure("network unavailable")},
      {"discovery, directory in flight",
       R"({"match":{"method":"POST","path":"/api/v2/journal/accounts"},"action":{"delay_ms":8000}})", true,
       "ACCOUNT_LOADING_CANCELLED"},
      {"check, readiness in flight",
       R"({"match":{"method":"GET","path":"/api/sierrachart-sync/"},"action":{"delay_ms":8000}})", false,
       "CONNECTION_CHECK_CANCELLED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script(c.rule);
    std::atomic<bool> cancel{false};
    ConnectionSettings candidate = httpSettings();
    if (!c.discovery) candidate.account_id = kAccount;
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string result = outcome([&] {
      if (c.discovery) {
        requestAccounts(candidate, kSecret, cancel, nullptr);
      } else {
        requestConnectionCheck(candidate, kSecret, cancel, nullptr);
      }
    });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(result, c.expected);
    // The watcher polls every 25 ms; closing the request may take its bounded close wait.
    EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
  }
}

TEST_F(PeerTest, TlsHoldsForRealAndCertificateFailuresAreTransportFailures) {
  std::atomic<bool> cancel{false};
  const auto accounts = requestAccounts(httpsSettings("QB_PEER_HTTPS_PORT"), kSecret, cancel, nullptr);
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts[0].account_id, kAccount);

  // Windows reports an untrusted chain through the secure-failure callback
  // ("TLS_VALIDATION_FAILED"); wine ends the request without a status.
  for (const char* port : {"QB_UNTRUSTED_HTTPS_PORT", "QB_WRONG_HOST_HTTPS_PORT"}) {
    SCOPED_TRACE(port);
    NativeHttp http(httpsSettings(port), kSecret, "0f8fad5b-d9cb-469f-a165-70867728950e");
    try {
      const HttpResponse response = http.request("GET", "/api/sierrachart-sync/", "", "");
      EXPECT_EQ(response.status, 0);
      EXPECT_TRUE(response.body.empty());
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "TLS_VALIDATION_FAILED");
    }
    const std::string discovery = outcome([&] { requestAccounts(httpsSettings(port), kSecret, cancel, nullptr); });
    EXPECT_TRUE(discovery == readinessFailure("network unavailable") || discovery == "TLS_VALIDATION_FAILED")
        << discovery;
  }
}

}  // namespace
}  // namespace qbsync
