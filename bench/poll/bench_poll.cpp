// The chart thread's cost of one collector poll (outbox scan, instrument
// metadata, fill phase) over a scope outbox that make_poll_fixture.py built
// natively, against the work no poll can skip: enumerating the same
// directory and reading the same fills through the host interface, plus, for
// a poll that records new fills, bare publishes of the same record bytes.
// Rounds alternate poll and bare so both meet the same directory.
//
//   qb-bench-poll steady <scope-dir> <fills> <rounds>
//       every fill is recorded already: the first poll (a restarted host,
//       nothing known yet) and the later ones are timed apart
//   qb-bench-poll record <scope-dir> <fills> <new> <rounds>
//       <fills> recorded plus <new> fresh ones per round
// Fill i is the fixture's fill i; see make_poll_fixture.py.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support/bare_write.h"
#include "collector/collector_state.h"
#include "collector/fill_phase.h"
#include "collector/instrument_metadata.h"
#include "storage/durable_file.h"
#include "study/study_host.h"
#include "support/calendar_days.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kHostEpochToUnixMicros = 2209161600000000LL;
// 2025-01-02 00:00:00 UTC as a host date-time; the chart runs in UTC.
constexpr HostDateTime kBaseTime = qbsync::daysFromCivil(2025, 1, 2) * 86400000000LL + kHostEpochToUnixMicros;
constexpr std::int64_t kStepMicros = 1000003;

struct BenchFill {
  std::string executionId;
  HostFillRecord record{};
};

// A host with a fill list and nothing else the fill phase does not ask for.
struct BenchHost {
  StudyHost host{};
  std::vector<BenchFill> fills;
  std::string account = "Sim1";
  std::string symbol = "ESZ25";

  BenchHost() {
    host.structSize = sizeof(StudyHost);
    host.interfaceVersion = QB_STUDY_HOST_VERSION;
    host.hostContext = this;
    host.chartId = 1;
    host.accountText = account.c_str();
    host.tradeSymbolText = symbol.c_str();
    host.chartSymbolText = symbol.c_str();
    host.simulated = 1;
    host.feedState = 2;
    host.fillTotal = [](StudyHost* h) { return static_cast<int32_t>(self(h).fills.size()); };
    host.fillRecord = [](StudyHost* h, int32_t i, HostFillRecord* out) -> int32_t {
      auto& fills = self(h).fills;
      if (i < 0 || static_cast<std::size_t>(i) >= fills.size()) return 0;
      *out = fills[static_cast<std::size_t>(i)].record;
      return 1;
    };
    host.shiftTimeZone = [](StudyHost*, HostDateTime value, const char*) { return value; };
    host.chartZoneName = [](StudyHost*, int32_t) { return "UTC"; };
    host.securityKind = [](StudyHost*) { return int32_t{1}; };
    host.tradeServiceText = [](StudyHost*) { return "Simulated"; };
    host.symbolDetails = [](StudyHost*, const char*, HostSymbolDetails* out, int32_t) -> int32_t {
      *out = HostSymbolDetails{12.5, 0.25, 1, 0, 50, 0};
      return 1;
    };
  }
  static BenchHost& self(StudyHost* h) { return *static_cast<BenchHost*>(h->hostContext); }

  // Fill i of the fixture, with the execution id given.
  void add(std::int64_t i, std::string executionId) {
    BenchFill& f = fills.emplace_back();
    f.executionId = std::move(executionId);
    HostFillRecord& r = f.record;
    r.symbol = symbol.c_str();
    r.tradeAccount = account.c_str();
    r.simulated = 1;
    r.internalOrderId = static_cast<std::uint64_t>(i + 1);
    r.fillTime = kBaseTime + i * kStepMicros;
    r.side = i % 2 == 0 ? 1 : 2;
    r.quantity = static_cast<double>(1 + i % 3);
    r.price = 5000 + static_cast<double>(i % 400) * 0.25;
    r.positionQuantity = 0;
    r.note = "";
    r.serviceOrderId = "";
  }
  // Texts point into the vector's strings: set them once it stops growing.
  void fixTexts() {
    for (BenchFill& f : fills) f.record.serviceExecutionId = f.executionId.c_str();
  }
};

std::string fixtureId(std::int64_t i) {
  char id[32];
  std::snprintf(id, sizeof id, "B%07lld", static_cast<long long>(i));
  return id;
}

// The fill phase's inputs of one poll, the metadata captured as the study does.
qbsync::FillPhaseInputs pollInputs(BenchHost& h) {
  qbsync::FillPhaseInputs in;
  in.account = h.account;
  in.symbol = h.symbol;
  in.simulation = true;
  in.metadataText = qbsync::captureInstrumentMetadata(h.host, h.symbol).dump();
  in.maxFills = 100000;
  return in;
}

// One poll from the outbox scan on (the study's steps 24 to 27 without captures).
std::size_t poll(BenchHost& h, qbsync::CollectorState& state) {
  const std::size_t before = state.knownNames.size();
  state.scanOutbox();
  if (state.outboxSize >= state.budget) throw std::runtime_error("budget reached");
  qbsync::runFillPhase(h.host, state, pollInputs(h));
  return state.knownNames.size() - before;
}

// What any poll must do: list the directory and read every fill with its texts.
std::uint64_t bare(BenchHost& h, const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list " + dir);
  std::uint64_t sum = 0;
  do {
    sum += data.nFileSizeLow;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  const int32_t n = h.host.fillTotal(&h.host);
  for (int32_t i = 0; i < n; ++i) {
    HostFillRecord r{};
    if (!h.host.fillRecord(&h.host, i, &r)) throw std::runtime_error("fill not loaded");
    sum += std::strlen(r.symbol) + std::strlen(r.tradeAccount) + std::strlen(r.serviceExecutionId) +
           std::strlen(r.note) + std::strlen(r.serviceOrderId) + static_cast<std::uint64_t>(r.fillTime & 1);
  }
  return sum;
}

double micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void newState(qbsync::CollectorState& state, const std::string& dir) {
  state.sourceFragment = qbsync::sourceFragment("Sim1", "ESZ25", "bench-session", true, false);
  state.scopeDigest = state.digest.sha256Hex(state.sourceFragment);
  state.outboxDir = dir;
  state.budget = 32768ULL * 1048576;
}

int steady(const std::string& dir, std::int64_t count, int rounds) {
  BenchHost h;
  for (std::int64_t i = 0; i < count; ++i) h.add(i, fixtureId(i));
  h.fixTexts();
  qbsync::CollectorState state;
  newState(state, dir);
  const std::size_t files = qbsync::listFiles(dir, "*.json").size();

  auto t0 = Clock::now();
  poll(h, state);
  auto t1 = Clock::now();
  const double cold = micros(t0, t1);
  if (state.knownNames.size() != static_cast<std::size_t>(count) || qbsync::listFiles(dir, "*.json").size() != files) {
    std::fprintf(stderr, "fixture does not match: the poll wrote records\n");
    return 1;
  }
  t0 = Clock::now();
  bare(h, dir);
  const double coldBare = micros(t0, Clock::now());

  std::vector<double> warm, base;
  for (int r = 0; r < rounds; ++r) {
    t0 = Clock::now();
    const std::size_t written = poll(h, state);
    t1 = Clock::now();
    bare(h, dir);
    auto t2 = Clock::now();
    if (written != 0) throw std::runtime_error("a steady poll wrote records");
    warm.push_back(micros(t0, t1));
    base.push_back(micros(t1, t2));
  }
  const double w = median(warm), b = median(base);
  const long long n = static_cast<long long>(count);
  std::printf("steady poll, %lld fills all recorded (%zu files): first poll %.0f us (bare %.0f us, ratio %.2f); "
              "later polls median %.0f us, bare %.0f us, %.3f us per fill\n",
              n, files, cold, coldBare, coldBare > 0 ? cold / coldBare : 0.0, w, b, w / static_cast<double>(count));
  std::printf("BENCH poll_steady_%lld_us %.0f\n", n, w);
  std::printf("BENCH poll_steady_%lld_bare_us %.0f\n", n, b);
  std::printf("BENCH poll_steady_%lld_ratio %.3f\n", n, b > 0 ? w / b : 0.0);
  std::printf("BENCH poll_first_%lld_us %.0f\n", n, cold);
  std::printf("BENCH poll_first_%lld_ratio %.3f\n", n, coldBare > 0 ? cold / coldBare : 0.0);
  return 0;
}

int record(const std::string& dir, std::int64_t count, std::int64_t fresh, int rounds) {
  BenchHost h;
  for (std::int64_t i = 0; i < count; ++i) h.add(i, fixtureId(i));
  h.fixTexts();
  qbsync::CollectorState state;
  newState(state, dir);
  // Nothing new yet: the study learns the recorded names as a running one has.
  if (poll(h, state) != static_cast<std::size_t>(count)) throw std::runtime_error("fixture does not match");
  const std::set<std::string> recorded = state.knownNames;
  std::vector<std::string> bareNames;
  for (std::int64_t i = count; i < count + fresh; ++i) h.add(i, std::string());
  std::vector<double> polls, bares;
  for (int r = 0; r < rounds; ++r) {
    for (std::int64_t k = 0; k < fresh; ++k) {
      char id[48];
      std::snprintf(id, sizeof id, "N%03d-%06lld", r, static_cast<long long>(k));
      h.fills[static_cast<std::size_t>(count + k)].executionId = id;
    }
    h.fixTexts();
    const std::set<std::string> known = state.knownNames;
    auto t0 = Clock::now();
    const std::size_t written = poll(h, state);
    auto t1 = Clock::now();
    if (written != static_cast<std::size_t>(std::min<std::int64_t>(fresh, 250))) {
      std::fprintf(stderr, "recording poll wrote %zu records\n", written);
      return 1;
    }
    std::vector<std::string> contents, targets;
    for (const std::string& name : state.knownNames) {
      if (known.count(name) != 0) continue;
      contents.push_back(qbbench::readRecordFile(dir + "\\" + name));
      char bareName[64];
      std::snprintf(bareName, sizeof bareName, "\\bare-%03d-%06zu.json", r, targets.size());
      targets.push_back(dir + bareName);
    }
    auto t2 = Clock::now();
    bare(h, dir);
    for (std::size_t k = 0; k < contents.size(); ++k) qbbench::bareDurableWrite(targets[k], contents[k], MOVEFILE_WRITE_THROUGH);
    auto t3 = Clock::now();
    bareNames.insert(bareNames.end(), targets.begin(), targets.end());
    polls.push_back(micros(t0, t1));
    bares.push_back(micros(t2, t3));
  }
  // The fixture stays as it was built, for the steady runs that follow on it.
  for (const std::string& name : state.knownNames) {
    if (recorded.count(name) == 0) DeleteFileA((dir + "\\" + name).c_str());
  }
  for (const std::string& name : bareNames) DeleteFileA(name.c_str());
  const double p = median(polls), b = median(bares);
  const double perNew = p / static_cast<double>(fresh), barePerNew = b / static_cast<double>(fresh);
  std::printf("recording poll, %lld recorded + %lld new fills: median %.0f us (%.1f us per new record), "
              "bare %.0f us (%.1f us per record)\n",
              static_cast<long long>(count), static_cast<long long>(fresh), p, perNew, b, barePerNew);
  std::printf("BENCH poll_record_%lld_us %.0f\n", static_cast<long long>(fresh), p);
  std::printf("BENCH poll_record_per_new_us %.1f\n", perNew);
  std::printf("BENCH poll_record_bare_per_new_us %.1f\n", barePerNew);
  std::printf("BENCH poll_record_ratio %.3f\n", b > 0 ? p / b : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "steady" && argc == 5) return steady(argv[2], std::atoll(argv[3]), std::atoi(argv[4]));
    if (mode == "record" && argc == 6) {
      return record(argv[2], std::atoll(argv[3]), std::atoll(argv[4]), std::atoi(argv[5]));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: qb-bench-poll steady <scope-dir> <fills> <rounds>\n"
               "       qb-bench-poll record <scope-dir> <fills> <new> <rounds>\n");
  return 2;
}
