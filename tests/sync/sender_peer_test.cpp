// The sender over the real WinHTTP transport against the journal-service
// peer. Access proof: every refusal ends in its one final status after a
// single request, an unreachable or busy service is asked again after the
// waits the sender owes it, and a service that recovers gets the saved
// records. Batch delivery: each fault the peer injects ends in delivery after
// retries or in one clear stop. The test clock records the waits instead of
// sleeping them.
// sender_peer_test.sh starts the peer and exports its port and state dir.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/recording_clock.h"
#include "common/temp_dir.h"
#include "service/native_http.h"
#include "storage/durable_file.h"
#include "sync/native_sender.h"
#include "sync/spool_fixture.h"

namespace {

// The peer's user (sender_peer_test.sh writes its accounts.json): the
// fixture's account is ready for the connector, this second one is not.
constexpr const char* kSecret = "peer-secret";
constexpr const char* kNotReadyAccount = "8d7c6b5a-4e3f-4a1b-9c8d-7e6f5a4b3c2d";
// An identifier the peer's user does not own.
constexpr const char* kForeignAccount = "00000000-1111-4222-8333-444444444444";

constexpr const char* kWaiting = "Connection unavailable; local capture continues. Retrying Quorbelle...";
constexpr std::uint64_t kLoopTurnMs = 500;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) throw std::runtime_error(std::string("sender_peer_test.sh must set ") + name);
  return value;
}

std::string stateFile(const std::string& name) { return env("QB_PEER_STATE_WIN") + "\\" + name; }

// The peer re-reads its script before every request but restarts its rule
// counters only when the bytes change; the case name keeps the scripts of
// consecutive cases apart.
void script(const std::string& caseName, const std::string& rules) {
  std::ofstream out(stateFile("script.json"), std::ios::binary | std::ios::trunc);
  out << "{\"case\":" << nlohmann::json(caseName).dump() << ",\"rules\":[" << rules << "]}";
}

std::vector<std::string> fileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(qbtest::readFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// A loopback port nobody listens on: bound, read back and released.
int closedLoopbackPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int length = sizeof(address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  WSACleanup();
  return ntohs(address.sin_port);
}

// IMF-fixdate of a FILETIME value, as a service writes Retry-After.
std::string httpDate(std::uint64_t fileTime) {
  FILETIME ft{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[st.wDayOfWeek], st.wDay,
                kMonths[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
  return text;
}

struct SenderRun {
  explicit SenderRun(qbsync::ConnectionSettings s) : fx(std::move(s)) {}

  void start(const std::string& secret,
             qbsync::TransportFactory factory = qbsync::nativeHttpTransportFactory()) {
    sender = std::make_unique<qbsync::NativeSender>(
        fx.settings, secret, fx.outbox,
        [this](const std::string& text, bool error) {
          std::lock_guard<std::mutex> guard(mutex);
          log.push_back((error ? "E " : "I ") + text);
        },
        std::move(factory));
  }
  // Waits (real time, bounded) until the predicate holds.
  static bool until(const std::function<bool()>& predicate) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
      if (predicate()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return predicate();
  }
  int count(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex);
    int n = 0;
    for (const std::string& l : log) n += l == line;
    return n;
  }
  int countContaining(const std::string& part) {
    std::lock_guard<std::mutex> guard(mutex);
    int n = 0;
    for (const std::string& l : log) n += l.find(part) != std::string::npos;
    return n;
  }

  qbtest::OutboxFixture fx;
  std::unique_ptr<qbsync::NativeSender> sender;
  std::mutex mutex;
  std::vector<std::string> log;
};

std::string readinessFailure(const std::string& reason) {
  return "Connection check failed (" + reason +
         "). The Sierra sync endpoint has not confirmed this account. Saved records are retained.";
}

std::string needsAttention(const std::string& code) {
  return "Needs attention: " + code + ". Saved records are retained.";
}

TEST(SenderPeer, AccessFailuresGiveTheirWaitsOrTheirFinalStatus) {
  enum class End { Halts, KeepsAsking, Delivers };
  struct Case {
    const char* name;
    bool native;
    const char* secret;
    std::string account;  // the destination; empty: the fixture's ready account
    bool unreachable;     // a closed loopback port instead of the peer
    std::string rules;    // the peer's fault script
    End end;
    std::string finalStatus;               // Halts: the status and its one error line
    std::vector<std::uint64_t> waits;      // the access waits; Halts: all of them
    std::vector<std::string> peerAnswers;  // the peer's record of the access requests; KeepsAsking: the first ones
  };
  const std::string foreignDirectory = nlohmann::json({{"accounts", {{{"account_id", kForeignAccount},
                                                                      {"name", "Other"}}}}}).dump();
  // Retry-After as a date is measured against the test clock's calendar,
  // which every case's fresh clock starts at.
  const std::string twoMinutesAhead = httpDate(qbtest::RecordingClock().fileTimeNow() + 120ULL * 10000000ULL);
  const std::vector<Case> cases = {
      {"journal, wrong secret", false, "not-the-secret", "", false, "", End::Halts,
       needsAttention("ACCOUNT_AUTHENTICATION_FAILED"), {}, {"401 NOT_AUTHORIZED"}},
      {"native, wrong secret", true, "not-the-secret", "", false, "", End::Halts, readinessFailure("HTTP 401"), {},
       {"401 NOT_AUTHORIZED"}},
      {"journal, directory without the account", false, kSecret, "", false,
       R"({"match":{"path":"/api/v2/journal/accounts"},"action":{"status":200,"body":)" +
           nlohmann::json(foreignDirectory).dump() + "}}",
       End::Halts, needsAttention("DESTINATION_NOT_AUTHORIZED"), {}, {"200 fault"}},
      {"journal, account not of this user", false, kSecret, kForeignAccount, false, "", End::Halts,
       needsAttention("ACCOUNT_AUTHENTICATION_FAILED"), {}, {"404 ACCOUNT_NOT_FOUND"}},
      {"native, account not ready for the connector", true, kSecret, kNotReadyAccount, false, "", End::Halts,
       readinessFailure("HTTP 403"), {}, {"403 SIERRA_SYNC_DISABLED"}},
      {"journal, unreachable", false, kSecret, "", true, "", End::KeepsAsking, "",
       {2000, 4000, 8000, 16000, 32000, 64000, 64000, 64000}, {}},
      // Retry-After wins only while it is the longer wait; the doubling goes
      // on underneath it.
      {"journal, busy with Retry-After", false, kSecret, "", false,
       R"({"match":{"path":"/api/v2/journal/accounts"},"times":2,"action":{"status":503,"retry_after":5}},)"
       R"({"match":{"path":"/api/v2/journal/accounts"},"times":1,"action":{"status":503,"retry_after":300}},)"
       R"({"match":{"path":"/api/v2/journal/accounts"},"times":0,"action":{"status":503}})",
       End::KeepsAsking, "", {5000, 5000, 300000, 16000, 32000, 64000, 64000},
       {"503 fault", "503 fault", "503 fault", "503 fault", "503 fault", "503 fault", "503 fault"}},
      {"native, busy once with a dated Retry-After, then ready", true, kSecret, "", false,
       R"({"match":{"path":"/api/sierrachart-sync/","method":"GET"},"times":1,)"
       R"("action":{"status":503,"retry_after":)" + nlohmann::json(twoMinutesAhead).dump() + "}}",
       End::Delivers, "", {120000}, {"503 fault", "200"}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qbtest::RecordingClock caseClock;
    qbtest::ScopedClock scoped(caseClock);
    qbsync::ConnectionSettings settings = c.native ? qbtest::nativeSettings() : qbtest::journalSettings();
    settings.origin = "http://127.0.0.1:" + (c.unreachable ? std::to_string(closedLoopbackPort())
                                                            : env("QB_PEER_HTTP_PORT"));
    settings.allow_loopback_http = true;
    if (!c.account.empty()) settings.account_id = c.account;
    SenderRun run(settings);
    for (int n = 1; n <= 3; ++n) {
      run.fx.write(qbtest::fillRecord(run.fx.settings, n, "2025-12-01T14:30:0" + std::to_string(n) + ".000000Z"));
    }
    script(c.name, c.rules);
    const std::size_t requestsBefore = fileLines(stateFile("requests.jsonl")).size();
    const std::string executionsFile = stateFile("executions\\" + std::string(qbtest::kAccountId) + ".jsonl");
    const std::size_t executionsBefore = fileLines(executionsFile).size();

    run.start(c.secret);
    switch (c.end) {
      case End::Halts:
        ASSERT_TRUE(run.until([&] { return run.sender->halted(); })) << run.sender->statusText();
        break;
      case End::KeepsAsking:
        ASSERT_TRUE(run.until([&] { return caseClock.waits().size() >= c.waits.size(); }));
        break;
      case End::Delivers:
        ASSERT_TRUE(run.until([&] { return run.sender->statusText() == "Captured 3; applied 3; pending notes 0"; }))
            << run.sender->statusText();
        break;
    }
    run.sender->stopAndJoin();

    const std::vector<std::uint64_t> waits = caseClock.waits();
    ASSERT_GE(waits.size(), c.waits.size());
    EXPECT_EQ(std::vector<std::uint64_t>(waits.begin(), waits.begin() + c.waits.size()), c.waits);
    const int waitingLines = run.count("E " + std::string(kWaiting));
    if (c.end == End::Halts) {
      EXPECT_TRUE(run.sender->halted());
      EXPECT_EQ(run.sender->statusText(), c.finalStatus);
      EXPECT_EQ(run.count("E " + c.finalStatus), 1);
      EXPECT_EQ(waits.size(), c.waits.size());
    } else {
      EXPECT_FALSE(run.sender->halted());
      EXPECT_EQ(run.countContaining("Needs attention"), 0);
      EXPECT_EQ(run.countContaining("Connection check failed"), 0);
    }
    if (c.end == End::KeepsAsking) {
      EXPECT_EQ(run.sender->statusText(), kWaiting);
      // One line per wait; a stop can land in the last wait before the clock records it.
      EXPECT_GE(waitingLines, static_cast<int>(waits.size()));
      EXPECT_LE(waitingLines, static_cast<int>(waits.size()) + 1);
    }
    if (c.end == End::Delivers) {
      // After the access waits only the loop's turns.
      for (std::size_t i = c.waits.size(); i < waits.size(); ++i) EXPECT_EQ(waits[i], kLoopTurnMs) << i;
      EXPECT_EQ(waitingLines, static_cast<int>(c.waits.size()));
      EXPECT_EQ(run.count("I Sender connection verified; processing saved executions and notes."), 1);
      EXPECT_EQ(run.sender->verified(), c.native);
      EXPECT_EQ(fileLines(executionsFile).size() - executionsBefore, 3u);
    } else {
      EXPECT_EQ(fileLines(executionsFile).size(), executionsBefore);
    }

    // What reached the peer: one request per access attempt, none after a refusal.
    std::vector<std::string> answers;
    const std::vector<std::string> requests = fileLines(stateFile("requests.jsonl"));
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
      const nlohmann::json r = nlohmann::json::parse(requests[i]);
      const std::string path = r["path"].get<std::string>();
      const bool readiness = path == "/api/sierrachart-sync/" && r["method"] == "GET";
      if (path != "/api/v2/journal/accounts" && !readiness) continue;
      std::string answer = std::to_string(r["status"].get<int>());
      if (!r["fault"].is_null()) answer += " fault";
      if (!r["error_code"].get<std::string>().empty()) answer += " " + r["error_code"].get<std::string>();
      answers.push_back(answer);
    }
    if (c.end == End::KeepsAsking && !c.peerAnswers.empty()) {
      ASSERT_GE(answers.size(), c.peerAnswers.size());
      answers.resize(c.peerAnswers.size());
    }
    EXPECT_EQ(answers, c.peerAnswers);
  }
}

// Every fault class the peer can inject into batch delivery ends in delivery
// after retries, or in one clear stop with the saved records kept; never in a
// receipt taken as applied for executions the peer did not store.
TEST(SenderPeer, BatchFaultsEndInDeliveryOrInOneClearStop) {
  enum class End { Delivers, Halts };
  struct Case {
    const char* name;
    bool native;
    std::uint64_t batchSize;
    std::uint32_t deadlineMs;  // 0: the transport's own
    std::string rules;
    End end;
    std::string finalStatus;
    std::string logged;             // a line part the run must have logged
    std::uint64_t minimumDelay = 0;  // the retry delay it logged is at least this long
  };
  const std::string nativeBatch = R"("match":{"method":"POST","path":"/api/sierrachart-sync/"})";
  const std::string journalBatch = R"("match":{"method":"POST","path":"/api/v2/journal/execution-batches"})";
  const std::string statusPoll = R"("match":{"method":"GET","path_prefix":"/api/v2/journal/execution-imports/"})";
  const std::string rejected = "Import rejected (HTTP 422): INVALID_SIDE at executions[0].side. "
                               "Saved records are retained; sync is stopped.";
  const Case cases[] = {
      {"native, 500 once", true, 5, 0, "{" + nativeBatch + R"(,"action":{"status":500}})", End::Delivers, "",
       "Retrying executions #1-3"},
      {"native, 429 with Retry-After", true, 5, 0, "{" + nativeBatch + R"(,"action":{"status":429,"retry_after":30}})",
       End::Delivers, "", "Retrying executions #1-3", 30000},
      {"native, dropped before it was processed", true, 5, 0,
       "{" + nativeBatch + R"(,"action":{"drop":true,"process":false}})", End::Delivers, "", "Retrying executions #1-3"},
      {"native, answer dropped after it was applied", true, 5, 0, "{" + nativeBatch + R"(,"action":{"drop":true}})",
       End::Delivers, "", "Retrying executions #1-3"},
      {"native, receipt not JSON", true, 5, 0, "{" + nativeBatch + R"(,"action":{"status":200,"body":"{not json"}})",
       End::Halts, needsAttention("INVALID_JSON"), ""},
      {"native, receipt for other bytes", true, 5, 0,
       "{" + nativeBatch + R"(,"action":{"override":{"request_sha256":"00"}}})", End::Halts,
       needsAttention("INVALID_IMPORT_RECEIPT"), ""},
      {"native, an earlier batch's operation replayed", true, 1, 0,
       "{" + nativeBatch + R"(,"times":0,"action":{"override":{"operation_id":"11111111-2222-4333-8444-555555555555"}}})",
       End::Halts, needsAttention("REUSED_IMPORT_OPERATION"), "Applied execution #1:"},
      {"journal, 503 with Retry-After", false, 5, 0,
       "{" + journalBatch + R"(,"action":{"status":503,"retry_after":7}})", End::Delivers, "",
       "Retrying executions #1-3", 7000},
      {"journal, time-out after it was applied", false, 5, 1000,
       "{" + journalBatch + R"(,"action":{"delay_ms":2500}})", End::Delivers, "", "Retrying executions #1-3"},
      {"journal, status answer dropped", false, 5, 0, "{" + statusPoll + R"(,"action":{"drop":true}})",
       End::Delivers, "", "Retrying executions #1-3"},
      {"journal, waiting for an earlier sequence", false, 5, 0,
       "{" + journalBatch +
           R"(,"action":{"override":{"status":"waiting_for_sequence","application_error":{"code":"SOURCE_SEQUENCE_GAP"}}}})",
       End::Delivers, "", "APPLICATION_PENDING_SOURCE_SEQUENCE_GAP"},
      {"journal, rejected on the status poll", false, 5, 0,
       "{" + statusPoll + R"(,"action":{"override":{"status":"rejected"}}})", End::Halts,
       needsAttention("IMPORT_BLOCKED_RECONCILIATION_REQUIRED"), ""},
      {"journal, blocked on submission", false, 5, 0, "{" + journalBatch + R"(,"action":{"override":{"status":"blocked"}}})",
       End::Halts, needsAttention("IMPORT_BLOCKED_RECONCILIATION_REQUIRED"), ""},
      {"journal, applied without a data version", false, 5, 0,
       "{" + statusPoll + R"(,"times":0,"action":{"remove":["data_version"]}})", End::Halts,
       needsAttention("INVALID_PUBLICATION_VERSION"), ""},
      {"journal, projection only", false, 5, 0,
       "{" + journalBatch + R"(,"action":{"override":{"projection_only":true}}})", End::Halts,
       needsAttention("PROJECTION_ONLY_RECEIPT"), ""},
      {"journal, receipt for another account", false, 5, 0,
       "{" + journalBatch + R"(,"action":{"override":{"account_id":"00000000-1111-4222-8333-444444444444"}}})",
       End::Halts, needsAttention("INVALID_IMPORT_RECEIPT"), ""},
      {"journal, refused with an explanation", false, 5, 0,
       "{" + journalBatch + R"(,"action":{"status":422,"error":{"code":"INVALID_SIDE","field":"executions[0].side"}}})",
       End::Halts, rejected, ""},
  };

  const std::string executionsFile = stateFile("executions\\" + std::string(qbtest::kAccountId) + ".jsonl");
  int caseNumber = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++caseNumber;
    qbtest::RecordingClock caseClock;
    qbtest::ScopedClock scoped(caseClock);
    qbsync::ConnectionSettings settings = c.native ? qbtest::nativeSettings() : qbtest::journalSettings();
    settings.origin = "http://127.0.0.1:" + env("QB_PEER_HTTP_PORT");
    settings.allow_loopback_http = true;
    settings.batch_size = c.batchSize;
    // A stream and fills of its own: native streams are told apart by their
    // source, journal streams by the spool's client instance.
    settings.session_id = "batch-fault-" + std::to_string(caseNumber);
    SenderRun run(settings);
    for (int k = 1; k <= 3; ++k) {
      run.fx.write(qbtest::fillRecord(run.fx.settings, 100 * caseNumber + k,
                                      "2025-12-01T14:30:0" + std::to_string(k) + ".000000Z"));
    }
    script(c.name, c.rules);
    const std::size_t storedBefore = fileLines(executionsFile).size();

    qbsync::TransportFactory factory = qbsync::nativeHttpTransportFactory();
    if (c.deadlineMs) {
      factory = [ms = c.deadlineMs](const qbsync::ConnectionSettings& s, const std::string& secret,
                                    const std::string& instance) -> std::shared_ptr<qbsync::ITransport> {
        return std::make_shared<qbsync::NativeHttp>(s, secret, instance, ms);
      };
    }
    run.start(kSecret, factory);
    if (c.end == End::Delivers) {
      ASSERT_TRUE(run.until([&] { return run.sender->statusText() == "Captured 3; applied 3; pending notes 0"; }))
          << run.sender->statusText();
    } else {
      ASSERT_TRUE(run.until([&] { return run.sender->halted(); })) << run.sender->statusText();
    }
    run.sender->stopAndJoin();

    const std::size_t stored = fileLines(executionsFile).size() - storedBefore;
    const int applied = run.countContaining("I Applied execution #");
    // What the sender took as applied, the peer stored, each once.
    EXPECT_LE(applied, static_cast<int>(stored));
    if (c.end == End::Delivers) {
      EXPECT_EQ(stored, 3u);
      EXPECT_EQ(applied, 3);
      EXPECT_FALSE(run.sender->halted());
      EXPECT_EQ(run.countContaining("Needs attention"), 0);
    } else {
      EXPECT_TRUE(run.sender->halted());
      EXPECT_EQ(run.sender->statusText(), c.finalStatus);
      EXPECT_EQ(run.count("E " + c.finalStatus), 1);
      // The saved records stay: every execution entry is still in the spool.
      EXPECT_EQ(qbsync::listFiles(run.fx.outbox + "\\native-sync", "e-*.json").size(), 3u);
    }
    if (!c.logged.empty()) {
      EXPECT_GE(run.countContaining(c.logged), 1) << c.logged;
    }
    if (c.minimumDelay) {
      // "Retrying <label> in <ms>ms; original request retained."
      std::uint64_t delay = 0;
      {
        std::lock_guard<std::mutex> guard(run.mutex);
        for (const std::string& line : run.log) {
          const std::size_t in = line.rfind(" in ");
          if (line.rfind("E Retrying ", 0) == 0 && in != std::string::npos) {
            delay = std::max<std::uint64_t>(delay, std::stoull(line.substr(in + 4)));
          }
        }
      }
      EXPECT_GE(delay, c.minimumDelay);
    }
  }
}

}  // namespace

