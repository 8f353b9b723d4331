// Publishing a small record once, against the bare calls a careful writer
// makes for the same bytes: CreateFile, WriteFile, FlushFileBuffers and a
// no-replace MoveFileEx. Both write into directories of the same size, in
// alternating rounds, so a file system whose lookups grow with the directory
// charges both alike.
//   bench_durable_write [count]   (default 400 records per side)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support/bare_write.h"
#include "common/temp_dir.h"
#include "storage/durable_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 400;
  if (count <= 0) {
    std::fprintf(stderr, "usage: bench_durable_write [count]\n");
    return 2;
  }
  // A record of the usual size: an outbox fill is a few hundred bytes.
  const std::string content = "{\"schema\":1,\"kind\":\"fill\"," + std::string(420, 'x') + "}\n";
  const std::string publishDir = qbtest::freshTempDir("bench-publish");
  const std::string bareDir = qbtest::freshTempDir("bench-bare");
  std::vector<double> publish, bare;
  try {
    for (int n = 0; n < count; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "\\%08d.json", n);
      auto t0 = Clock::now();
      if (!qbsync::publishOnce(publishDir + name, content)) throw std::runtime_error("record existed");
      auto t1 = Clock::now();
      qbbench::bareDurableWrite(bareDir + name, content, MOVEFILE_WRITE_THROUGH);
      auto t2 = Clock::now();
      publish.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      bare.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
  const double p = median(publish), b = median(bare);
  std::printf("durable write: %d records of %zu bytes; publishOnce median %.1f us, bare median %.1f us\n", count,
              content.size(), p, b);
  std::printf("BENCH durable_write_publish_us %.1f\n", p);
  std::printf("BENCH durable_write_bare_us %.1f\n", b);
  std::printf("BENCH durable_write_ratio %.3f\n", b > 0 ? p / b : 0.0);
  return 0;
}
