#include "poll_baseline.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "bench_support/bare_write.h"

namespace qbhostsim {
namespace {

class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceFrequency(&frequency_); }
  void start() { QueryPerformanceCounter(&started_); }
  void stop() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    total_ += now.QuadPart - started_.QuadPart;
  }
  double ms() const { return static_cast<double>(total_) * 1000.0 / static_cast<double>(frequency_.QuadPart); }

 private:
  LARGE_INTEGER frequency_{}, started_{};
  std::int64_t total_ = 0;
};

bool isRecordName(const char* name) {
  const std::size_t n = std::strlen(name);
  if (n != 69 || std::strcmp(name + 64, ".json") != 0) return false;
  for (std::size_t i = 0; i < 64; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

void PollBaseline::noteLog(const std::string& message) {
  if (message.rfind(kOutboxLine, 0) != 0) return;
  const std::string dir = message.substr(std::strlen(kOutboxLine));
  if (dir == scopeDir_) return;
  // The line comes before the poll's phases: what the directory holds now
  // was recorded earlier (a restarted host), not by this poll.
  scopeDir_ = dir;
  records_.clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((scopeDir_ + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (isRecordName(data.cFileName)) records_.insert(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

bool PollBaseline::measure(StudyHost& host, Result& result) {
  if (scopeDir_.empty()) return false;
  Stopwatch watch;

  // The directory scan, noting the records the poll added.
  std::vector<std::string> fresh;
  std::uint64_t bytes = 0;
  watch.start();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((scopeDir_ + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) throw std::runtime_error("poll baseline: cannot list " + scopeDir_);
  do {
    bytes += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (isRecordName(data.cFileName) && records_.insert(data.cFileName).second) fresh.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);

  // The host reads, as the fill and order phases make them.
  std::uint64_t seen = 0;
  const int32_t fills = host.fillTotal ? host.fillTotal(&host) : 0;
  for (int32_t i = 0; i < fills; ++i) {
    HostFillRecord r{};
    if (!host.fillRecord(&host, i, &r)) continue;
    seen += std::strlen(r.symbol) + std::strlen(r.tradeAccount) + std::strlen(r.serviceExecutionId) +
            std::strlen(r.note) + std::strlen(r.serviceOrderId);
  }
  for (int32_t i = 0; host.orderRecord; ++i) {
    HostOrderRecord r{};
    if (host.orderRecord(&host, i, &r) == -1) break;
    seen += std::strlen(r.symbol) + std::strlen(r.tradeAccount) + std::strlen(r.orderType) + std::strlen(r.note);
  }
  watch.stop();

  // The publishes, with the bytes of the poll's own new records.
  std::vector<std::string> contents;
  for (const std::string& name : fresh) contents.push_back(qbbench::readRecordFile(scopeDir_ + "\\" + name));
  std::vector<std::string> copies;
  for (std::size_t k = 0; k < contents.size(); ++k) {
    copies.push_back(scopeDir_ + "\\bare-baseline-" + std::to_string(++copies_) + ".qbb");
  }
  watch.start();
  for (std::size_t k = 0; k < contents.size(); ++k) {
    qbbench::bareDurableWrite(copies[k], contents[k], MOVEFILE_WRITE_THROUGH);
  }
  watch.stop();
  for (const std::string& copy : copies) DeleteFileA(copy.c_str());

  result.ms = watch.ms();
  result.records = fresh.size();
  // Keeps the reads from being optimised away.
  if (bytes + seen == 0 && fills > 0) throw std::runtime_error("poll baseline: nothing read");
  return true;
}

}  // namespace qbhostsim
