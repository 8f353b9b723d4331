// Drain benchmark: a journaled backlog delivered to the local peer by the real
// sender thread, against the pacing limit of the sender's own schedule plus
// the bare work each turn needs, timed in the same run.
#include <windows.h>

#include <algorithm>
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

// The median time of `repeats` calls of f(i).
template <typename F>
double medianMs(int repeats, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    f(i);
    times.push_back(msSince(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The bare work the sender's schedule is charged with, each a median time.
struct BareWork {
  double turn = 0;          // a loop turn's intake: the outbox listing
  double firstPass = 0;     // a run's first intake pass: every record read and parsed once more
  double scan = 0;          // the spool size scan, at most once per second, before a batch file is written
  double submit = 0;        // the batch request
  double check = 0;         // journal mode: the import status request
  double batchWrite = 0;    // the frozen batch file
  double receiptWrite = 0;  // the receipt file, after each answer
};

// The time the sender's schedule needs for `batches` batches: 500 ms between
// loop turns, a step when its delay has passed (250 ms after an applied
// receipt, 1,000 ms after a pending one), one request at a time, and the bare
// work of each turn and step on top.
double scheduleMs(int batches, bool journalMode, const BareWork& w) {
  double now = w.firstPass;
  double nextStep = 0;
  double scannedAt = -1e9;
  int applied = 0;
  bool pending = false;
  for (;;) {
    now += w.turn;
    if (now >= nextStep) {
      const double started = now;
      if (journalMode && pending) {
        now += w.check + w.receiptWrite;
        pending = false;
        if (++applied == batches) return now;
        nextStep = started + kAppliedDelayMs;
      } else {
        if (now - scannedAt >= 1000) {
          scannedAt = now;
          now += w.scan;
        }
        now += w.batchWrite + w.submit + w.receiptWrite;
        if (journalMode) {
          pending = true;  // answered "accepted"
          nextStep = started + kPendingDelayMs;
        } else {
          if (++applied == batches) return now;
          nextStep = started + kAppliedDelayMs;
        }
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
  // Each bare figure is the median of several timings: under wine a file
  // open or a loopback request now and then takes several times its usual
  // time, and a mean would let one such outlier lift the limit.
  const int repeats = 7;
  BareWork w;
  w.turn = medianMs(repeats, [&](int) { qbsync::listFiles(fx.outbox, "*.json"); });
  w.scan = medianMs(repeats, [&](int) { qbsync::directorySize(spoolDir); });
  // Each with a fresh key and the spool's client instance, so the peer does
  // all the work of a first submission on the same stream (the executions
  // are already stored, so it stores nothing again).
  const std::string path = mode == "native" ? "/api/sierrachart-sync/" : "/api/v2/journal/execution-batches";
  const std::string instance = nlohmann::json::parse(qbsync::readSmallFile(spoolDir + "\\manifest.json"))
                                   ["client_instance_id"].get<std::string>();
  qbsync::NativeHttp http(s, secret, instance);
  w.submit = medianMs(repeats, [&](int) {
    const int status = http.request("POST", path, body, qbsync::newIdentifier()).status;
    if (status != (mode == "native" ? 200 : 202)) throw std::runtime_error("bare request refused");
  });
  if (mode != "native") {
    const std::string operation = nlohmann::json::parse(receiptDocument)["operation_id"].get<std::string>();
    w.check = medianMs(repeats, [&](int) {
      if (http.request("GET", "/api/v2/journal/execution-imports/" + operation, "", "").status != 200) {
        throw std::runtime_error("bare status request failed");
      }
    });
  }
  const std::string bareDir = qbtest::freshTempDir("bare-drain");
  w.batchWrite = medianMs(repeats, [&](int i) {
    qbbench::bareDurableWrite(bareDir + "\\b-" + std::to_string(i) + ".json", batchDocument, MOVEFILE_REPLACE_EXISTING);
  });
  w.receiptWrite = medianMs(repeats, [&](int) {
    qbbench::bareDurableWrite(bareDir + "\\b.receipt.json", receiptDocument, MOVEFILE_REPLACE_EXISTING);
  });
  w.firstPass = medianMs(repeats, [&](int) {
    std::size_t members = 0;
    for (const std::string& name : qbsync::listFiles(fx.outbox, "*.json")) {
      members += nlohmann::json::parse(qbsync::readSmallFile(fx.outbox + "\\" + name)).size();
    }
    if (members == 0) throw std::runtime_error("bare read found no records");
  });
  const int batches = (count + 499) / 500;
  const double limitMs = scheduleMs(batches, mode != "native", w);
  const double achieved = count / (drainMs / 1000);
  const double limit = count / (limitMs / 1000);
  std::printf(
      "drain %s: %d executions in %d batches, %.0f ms (limit %.0f ms); bare: first pass %.0f ms, listing %.1f ms, "
      "size scan %.1f ms, submit %.1f ms, check %.1f ms, batch write %.1f ms, receipt write %.1f ms\n",
      mode.c_str(), count, batches, drainMs, limitMs, w.firstPass, w.turn, w.scan, w.submit, w.check, w.batchWrite,
      w.receiptWrite);
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
