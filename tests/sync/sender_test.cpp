// The sender thread: access proof, its waits, final statuses and stops.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/fake_transport.h"
#include "common/recording_clock.h"
#include "common/temp_dir.h"
#include "support/sha256.h"
#include "sync/native_sender.h"
#include "sync/spool_fixture.h"

namespace {

using qbtest::FakeTransport;
using qbtest::RecordedRequest;

qbsync::HttpResponse answer(int status, const std::string& body) {
  qbsync::HttpResponse r;
  r.status = status;
  r.body = body;
  return r;
}

struct SenderRun {
  explicit SenderRun(qbsync::ConnectionSettings s) : fx(std::move(s)), transport(std::make_shared<FakeTransport>()) {}

  void start() {
    sender = std::make_unique<qbsync::NativeSender>(
        fx.settings, "s3cret", fx.outbox, [this](const std::string& text, bool error) {
          std::lock_guard<std::mutex> guard(mutex);
          log.push_back((error ? "E " : "I ") + text);
        },
        [this](const qbsync::ConnectionSettings&, const std::string&, const std::string&) { return transport; });
  }
  // Waits (real time, bounded) until the predicate holds.
  bool until(const std::function<bool()>& predicate) {
    for (int i = 0; i < 2000; ++i) {
      if (predicate()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return predicate();
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> guard(mutex);
    return log;
  }

  qbtest::OutboxFixture fx;
  std::shared_ptr<FakeTransport> transport;
  std::unique_ptr<qbsync::NativeSender> sender;
  std::mutex mutex;
  std::vector<std::string> log;
};

std::string directory(const std::string& accounts) { return "{\"accounts\":" + accounts + "}"; }

TEST(Sender, AccessFailuresEndInOneFinalStatus) {
  struct Case {
    const char* name;
    bool native;
    qbsync::HttpResponse response;
    const char* status;
  };
  const std::string other = "[{\"account_id\":\"00000000-1111-4222-8333-444444444444\",\"name\":\"B\"}]";
  const std::vector<Case> cases = {
      {"directory without the account", false, answer(200, directory(other)),
       "Needs attention: DESTINATION_NOT_AUTHORIZED. Saved records are retained."},
      {"accounts is an object", false, answer(200, directory("{}")),
       "Needs attention: INVALID_ACCOUNT_DIRECTORY. Saved records are retained."},
      {"element is a string", false, answer(200, directory("[\"x\"]")),
       "Needs attention: SYNC_STATE_OR_PROTOCOL_ERROR. Saved records are retained."},
      {"journal credentials refused", false, answer(401, ""),
       "Needs attention: ACCOUNT_AUTHENTICATION_FAILED. Saved records are retained."},
      {"native credentials refused", true, answer(401, ""),
       "Connection check failed (HTTP 401). The Sierra sync endpoint has not confirmed this account. Saved "
       "records are retained."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SenderRun run(c.native ? qbtest::nativeSettings() : qbtest::journalSettings());
    run.transport->push([r = c.response](const RecordedRequest&) { return r; });
    run.start();
    ASSERT_TRUE(run.until([&] { return run.sender->halted(); }));
    EXPECT_EQ(run.sender->statusText(), c.status);
    int errors = 0;
    for (const std::string& line : run.lines()) errors += line == std::string("E ") + c.status;
    EXPECT_EQ(errors, 1);
  }
}

TEST(Sender, UnreachableServiceIsAskedAgainWithGrowingWaits) {
  qbtest::RecordingClock clock;
  qbtest::ScopedClock scoped(clock);
  SenderRun run(qbtest::journalSettings());
  for (int i = 0; i < 7; ++i) run.transport->push(0);
  qbsync::HttpResponse busy = answer(503, "");
  busy.retry_after_seconds = 300;
  run.transport->push([busy](const RecordedRequest&) { return busy; });
  run.transport->setFallback([](const RecordedRequest&) { return qbsync::HttpResponse{}; });
  run.start();
  ASSERT_TRUE(run.until([&] { return clock.waits().size() >= 9; }));
  const std::vector<std::uint64_t> waits = clock.waits();
  const std::vector<std::uint64_t> expected = {2000, 4000, 8000, 16000, 32000, 64000, 64000, 300000, 64000};
  EXPECT_EQ(std::vector<std::uint64_t>(waits.begin(), waits.begin() + 9), expected);
  EXPECT_EQ(run.sender->statusText(), "Connection unavailable; local capture continues. Retrying Quorbelle...");
  run.sender->stopAndJoin();
  EXPECT_FALSE(run.sender->halted());
}

TEST(Sender, StopDuringAWaitOrARequestEndsQuietly) {
  // A real minute-long wait: the stop must cut it short.
  SenderRun waiting(qbtest::journalSettings());
  waiting.transport->push(503, "", 60);
  waiting.start();
  ASSERT_TRUE(waiting.until([&] { return waiting.transport->requests().size() == 1; }));
  const auto begin = std::chrono::steady_clock::now();
  waiting.sender->stopAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  EXPECT_FALSE(waiting.sender->halted());
  EXPECT_EQ(waiting.sender->statusText(), "Connection unavailable; local capture continues. Retrying Quorbelle...");

  // A stop while a request is in flight cancels the transport.
  SenderRun inFlight(qbtest::journalSettings());
  std::atomic<bool> entered{false};
  inFlight.transport->push([&](const RecordedRequest&) {
    entered = true;
    while (!inFlight.transport->cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return qbsync::HttpResponse{};
  });
  inFlight.start();
  ASSERT_TRUE(inFlight.until([&] { return entered.load(); }));
  inFlight.sender->stopAndJoin();
  EXPECT_TRUE(inFlight.transport->cancelled());
  EXPECT_FALSE(inFlight.sender->halted());
  for (const std::string& line : inFlight.lines()) EXPECT_EQ(line.find("Needs attention"), std::string::npos);
}

TEST(Sender, DeliversTheOutboxAndReportsItsSummary) {
  qbtest::RecordingClock clock;
  qbtest::ScopedClock scoped(clock);
  SenderRun run(qbtest::nativeSettings());
  for (int n = 1; n <= 3; ++n) run.fx.write(qbtest::fillRecord(run.fx.settings, n, "2025-12-01T14:30:0" + std::to_string(n) + ".000000Z"));
  run.transport->setFallback([](const RecordedRequest& req) {
    if (req.method == "GET") {
      return answer(200, "{\"account_id\":\"" + std::string(qbtest::kAccountId) +
                             "\",\"connector\":\"sierrachart\",\"protocol\":1,\"status\":\"ready\"}");
    }
    const nlohmann::json body = nlohmann::json::parse(req.body);
    const nlohmann::json receipt = {{"account_id", qbtest::kAccountId},
                                    {"operation_id", "7c9e6679-7425-40de-944b-e07fc1f90ae7"},
                                    {"protocol", 1},
                                    {"record_count", body["executions"].size()},
                                    {"request_sha256", qbsync::sha256Hex(req.body)},
                                    {"status", "applied"}};
    return answer(200, receipt.dump());
  });
  run.start();
  ASSERT_TRUE(run.until([&] { return run.sender->statusText() == "Captured 3; applied 3; pending notes 0"; }))
      << run.sender->statusText();
  EXPECT_TRUE(run.sender->verified());
  run.sender->stopAndJoin();
  EXPECT_FALSE(run.sender->halted());
}

}  // namespace
