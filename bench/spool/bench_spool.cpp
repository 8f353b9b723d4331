// Spool benchmarks: intake of a backlog against the bare writes it needs, and
// the reload of a large journal against a bare read and parse of its files.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_support/bare_write.h"
#include "common/temp_dir.h"
#include "storage/durable_file.h"
#include "sync/intake.h"
#include "sync/journal_load.h"
#include "sync/native_spool.h"
#include "sync/record_fields.h"
#include "sync/spool_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int intakeBench(int count) {
  qbtest::OutboxFixture fx(qbtest::nativeSettings());
  for (int n = 1; n <= count; ++n) fx.write(qbtest::fillRecord(fx.settings, n, qbbench::fillTimestamp(n)));
  auto spool = fx.open();
  const auto start = Clock::now();
  const std::size_t taken = qbsync::intakePass(*spool);
  const double engine = secondsSince(start);
  if (taken != static_cast<std::size_t>(count) || spool->executions.size() != taken) {
    std::fprintf(stderr, "intake took %zu of %d records\n", taken, count);
    return 1;
  }

  // The same files with the same bytes, written bare into a fresh directory.
  std::vector<std::string> entries, markers;
  for (int n = 1; n <= count; ++n) {
    entries.push_back(qbsync::readSmallFile(spool->path("e-" + qbsync::sequenceDigits(n) + ".json")));
    markers.push_back(qbsync::readSmallFile(spool->path("o-" + qbtest::eventIdFor(n) + ".json")));
  }
  const std::string bareDir = qbtest::freshTempDir("bare-intake");
  const auto bareStart = Clock::now();
  for (int n = 1; n <= count; ++n) {
    constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    qbbench::bareDurableWrite(bareDir + "\\e-" + qbsync::sequenceDigits(n) + ".json", entries[n - 1], kReplace);
    qbbench::bareDurableWrite(bareDir + "\\high-water.json", "{\"sequence\":" + std::to_string(n) + "}", kReplace);
    qbbench::bareDurableWrite(bareDir + "\\o-" + qbtest::eventIdFor(n) + ".json", markers[n - 1], kReplace);
  }
  const double bare = secondsSince(bareStart);
  std::printf("intake: %d records, engine %.3f ms/record, bare writes %.3f ms/record\n", count,
              engine * 1000 / count, bare * 1000 / count);
  std::printf("BENCH intake_ms_per_record %.3f\n", engine * 1000 / count);
  std::printf("BENCH intake_ratio %.3f\n", engine / bare);
  return 0;
}

// A spool with one execution journaled by the engine; the native fixture
// builder checks its own derivation against it and extends the journal.
int templateSpool(const std::string& outbox) {
  CreateDirectoryA(outbox.c_str(), nullptr);
  qbtest::OutboxFixture fx(qbtest::nativeSettings());
  fx.outbox = outbox;
  fx.write(qbtest::fillRecord(fx.settings, 1, qbbench::fillTimestamp(1)));
  auto spool = fx.open();
  if (qbsync::intakePass(*spool) != 1) return 1;
  std::printf("template spool ready\n");
  return 0;
}

int reloadBench(const std::string& outbox) {
  qbtest::OutboxFixture fx(qbtest::nativeSettings());
  fx.outbox = outbox;
  const auto start = Clock::now();
  auto spool = fx.open();
  const double engine = secondsSince(start);
  const std::size_t entries = spool->executions.size();
  spool.reset();

  const auto bareStart = Clock::now();
  std::size_t parsed = 0;
  const std::string dir = outbox + "\\native-sync";
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir + "\\e-*.json").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const nlohmann::json value = nlohmann::json::parse(qbtest::readFileBytes(dir + "\\" + found.cFileName));
      parsed += value.is_object();
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  const double bare = secondsSince(bareStart);
  if (parsed != entries) {
    std::fprintf(stderr, "reload saw %zu entries, bare read %zu files\n", entries, parsed);
    return 1;
  }
  std::printf("reload: %zu executions, engine %.3f s, bare read and parse %.3f s\n", entries, engine, bare);
  std::printf("BENCH reload_s %.3f\n", engine);
  std::printf("BENCH reload_ratio %.3f\n", engine / bare);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "intake" && argc == 3) return intakeBench(std::stoi(argv[2]));
    if (mode == "template" && argc == 3) return templateSpool(argv[2]);
    if (mode == "reload" && argc == 3) return reloadBench(argv[2]);
    std::fprintf(stderr, "usage: qb-bench-spool intake <count> | template <outbox> | reload <outbox>\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
}
