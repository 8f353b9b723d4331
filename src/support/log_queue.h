// Bounded hand-over of message log lines from any thread to the chart thread.
#ifndef QB_SUPPORT_LOG_QUEUE_H
#define QB_SUPPORT_LOG_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qbsync {

struct LogEntry {
  std::string text;
  bool isError = false;
};

// At most kCapacity entries; further pushes are counted and reported once
// there is room. Every member is thread-safe.
class NativeLogQueue {
 public:
  static constexpr std::size_t kCapacity = 8192;
  static constexpr std::size_t kTextLimit = 1024;

  NativeLogQueue() = default;
  NativeLogQueue(const NativeLogQueue&) = delete;
  NativeLogQueue& operator=(const NativeLogQueue&) = delete;

  void push(std::string_view text, bool isError);
  // Up to maxCount entries, oldest first, plus the backlog notice when room remains.
  std::vector<LogEntry> take(std::size_t maxCount);

 private:
  std::mutex mutex_;
  std::deque<LogEntry> entries_;
  std::uint64_t omitted_ = 0;
};

// A callable taking (text, isError) that queues a log line.
using LogSink = std::function<void(const std::string& text, bool isError)>;

LogSink makeLogSink(std::shared_ptr<NativeLogQueue> queue);

// Calls the sink when set and swallows anything it throws.
void logTo(const LogSink& sink, const std::string& text, bool isError) noexcept;

}  // namespace qbsync

#endif
