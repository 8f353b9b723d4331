// Drain benchmark: a journaled backlog delivered to the local peer by the real
// sender thread, against the pacing limit of the sender's own schedule plus
// the bare work each turn needs, timed in the same run.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support/bare_write.h"
#include "common/temp_dir.h"
#include "service/native_http.h"
#include "storage/durable_file.h"
#include "support/identifier.h"
#include "sync/intake.h"
#include "sync/native_sender.h"
#include "sync/native_spool.h"
#include "sync/record_fields.h"
#include "sync/spool_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTurnMs = 500;
constexpr double kAppliedDelayMs = 250;
constexpr double kPendingDelayMs = 1000;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The time the sender's schedule needs for `batches` batches when each loop
// turn costs `turnWorkMs` and each step `stepWorkMs` on top of its waits, and
// the first turn of a run also `firstPassMs`: a run's first intake pass reads
// and checks every outbox record again.
double scheduleMs(int batches, bool journalMode, double turnWorkMs, double stepWorkMs, double firstPassMs) {
  double now = firstPassMs;
  double nextStep = 0;
  int applied = 0;
  bool pending = false;
  for (;;) {
    now += turnWorkMs;
    if (now >= nextStep) {
      const double started = now;
      now += stepWorkMs;
      if (journalMode && !pending) {
        pending = true;  // submitted, answered "accepted"
        nextStep = started + kPendingDelayMs;
      } else {
        pending = false;
        if (++applied == batches) return now;
        nextStep = started + kAppliedDelayMs;
      }
    }
    now += kTurnMs;
  }
}

int run(const std::string& mode, int count, const std::string& origin) {
  qbsync::ConnectionSettings s = mode == "native" ? qbtest::nativeSettings() : qbtest::journalSettings();
  s.origin = origin;
  s.allow_loopback_http = true;  // the local peer listens on plain loopback HTTP
  s.email = "trader@example.com";
  s.account_id = "5b0c6a5e-8f4e-4c61-9d37-3f1a2b4c5d6e";
  s.batch_size = 500;
  const std::string secret = "peer-secret";
  qbtest::OutboxFixture fx(s);
  for (int n = 1; n <= count; ++n) fx.write(qbtest::fillRecord(s, n, qbbench::fillTimestamp(n)));
  {
    auto spool = fx.open();
    qbsync::intakePass(*spool);
  }

  std::mutex mutex;
  Clock::time_point verifiedAt{};
  bool verified = false;
  const auto sink = [&](const std::string& text, bool) {
    std::lock_guard<std::mutex> guard(mutex);
    if (!verified && text.rfind("Sender connection verified", 0) == 0) {
      verified = true;
      verifiedAt = Clock::now();
    }
  };
  const std::string done = "Captured " + std::to_string(count) + "; applied " + std::to_string(count);
  qbsync::NativeSender sender(s, secret, fx.outbox, sink, qbsync::nativeHttpTransportFactory());
  const auto start = Clock::now();
  while (sender.statusText().rfind(done, 0) != 0) {
    if (sender.halted() || msSince(start) > 600000) {
      std::fprintf(stderr, "drain did not finish: %s\n", sender.statusText().c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double drainMs = msSince(verifiedAt);
  sender.stopAndJoin();

  // The bare work of a turn and of a step, timed on the same files.
  const std::string spoolDir = fx.outbox + "\\native-sync";
  const auto batchFiles = qbsync::listFiles(spoolDir, "b-*.json");
  std::string batchDocument, receiptDocument, body, key;
  for (const std::string& name : batchFiles) {
    if (name.find(".receipt.") != std::string::npos) {
      receiptDocument = qbsync::readSmallFile(spoolDir + "\\" + name);
    } else if (batchDocument.empty()) {
      batchDocument = qbsync::readSmallFile(spoolDir + "\\" + name);
      const nlohmann::json frozen = nlohmann::json::parse(batchDocument);
      body = frozen["body"].get<std::string>();
      key = frozen["key"].get<std::string>();
    }
  }
  const int repeats = 5;
  auto t = Clock::now();
  for (int i = 0; i < repeats; ++i) {
    qbsync::listFiles(fx.outbox, "*.json");
    qbsync::directorySize(spoolDir);
  }
  const double turnWorkMs = msSince(t) / repeats;
  const std::string path = mode == "native" ? "/api/sierrachart-sync/" : "/api/v2/journal/execution-batches";
  qbsync::NativeHttp http(s, secret, qbsync::newIdentifier());
  t = Clock::now();
  for (int i = 0; i < repeats; ++i) {
    if (http.request("POST", path, body, key).status == 0) throw std::runtime_error("bare request failed");
  }
  const double requestMs = msSince(t) / repeats;
  const std::string bareDir = qbtest::freshTempDir("bare-drain");
  t = Clock::now();
  for (int i = 0; i < repeats; ++i) {
    const std::string batchFile = bareDir + "\\b-" + std::to_string(i) + ".json";
    qbbench::bareDurableWrite(batchFile, batchDocument, MOVEFILE_REPLACE_EXISTING);
    qbbench::bareDurableWrite(batchFile + ".receipt.json", receiptDocument, MOVEFILE_REPLACE_EXISTING);
  }
  const double writeMs = msSince(t) / repeats;
  // The first pass's bare share: list the outbox, read and parse each record once.
  t = Clock::now();
  std::size_t members = 0;
  for (const std::string& name : qbsync::listFiles(fx.outbox, "*.json")) {
    members += nlohmann::json::parse(qbsync::readSmallFile(fx.outbox + "\\" + name)).size();
  }
  const double firstPassMs = msSince(t);
  if (members == 0) throw std::runtime_error("bare read found no records");
  const int batches = (count + 499) / 500;
  const double limitMs = scheduleMs(batches, mode != "native", turnWorkMs, requestMs + writeMs, firstPassMs);
  const double achieved = count / (drainMs / 1000);
  const double limit = count / (limitMs / 1000);
  std::printf(
      "drain %s: %d executions in %d batches, %.0f ms; bare first pass %.0f ms, turn %.1f ms, request %.1f ms, "
      "writes %.1f ms\n",
      mode.c_str(), count, batches, drainMs, firstPassMs, turnWorkMs, requestMs, writeMs);
  std::printf("BENCH drain_%s_executions_per_s %.1f\n", mode.c_str(), achieved);
  std::printf("BENCH drain_%s_limit_per_s %.1f\n", mode.c_str(), limit);
  std::printf("BENCH drain%s_ratio %.3f\n", mode == "native" ? "" : "_journal", achieved / limit);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qb-bench-drain native|journal <count> <origin>\n");
    return 2;
  }
  try {
    return run(argv[1], std::stoi(argv[2]), argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
}
