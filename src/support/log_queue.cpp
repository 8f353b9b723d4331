#include "support/log_queue.h"

#include <utility>

#include "support/log_excerpt.h"

namespace qbsync {

void NativeLogQueue::push(std::string_view text, bool isError) {
  // The excerpt is built outside the lock; the lock covers only the hand-over.
  LogEntry entry{logExcerpt(text, kTextLimit), isError};
  const std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() >= kCapacity) {
    ++omitted_;
    return;
  }
  entries_.push_back(std::move(entry));
}

std::vector<LogEntry> NativeLogQueue::take(std::size_t maxCount) {
  std::vector<LogEntry> result;
  const std::lock_guard<std::mutex> lock(mutex_);
  while (result.size() < maxCount && !entries_.empty()) {
    result.push_back(std::move(entries_.front()));
    entries_.pop_front();
  }
  if (omitted_ != 0 && result.size() < maxCount) {
    result.push_back({"Message Log backlog: omitted " + std::to_string(omitted_) +
                          " log entries. Sync records and receipts are retained.",
                      true});
    omitted_ = 0;
  }
  return result;
}

LogSink makeLogSink(std::shared_ptr<NativeLogQueue> queue) {
  return [queue = std::move(queue)](const std::string& text, bool isError) {
    if (queue) queue->push(text, isError);
  };
}

void logTo(const LogSink& sink, const std::string& text, bool isError) noexcept {
  if (!sink) return;
  try {
    sink(text, isError);
  } catch (...) {
    // A failing log line must never stop the work that reported it.
  }
}

}  // namespace qbsync
