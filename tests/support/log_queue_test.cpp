#include "support/log_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/log_excerpt.h"

namespace qbsync {
namespace {

constexpr const char* kBacklogOne =
    "Message Log backlog: omitted 1 log entries. Sync records and receipts are retained.";

TEST(LogExcerptTest, Table) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t limit;
    std::string expected;
  };
  const Case cases[] = {
      {"short text unchanged", "Queued note", 20, "Queued note"},
      {"exactly the limit", "abcd", 4, "abcd"},
      {"one over the limit", "abcde", 4, "abcd..."},
      {"control bytes become spaces", "a\nb\tc\rd\x7F" "e\x01", 20, "a b c d e "},
      {"embedded NUL becomes a space", std::string("a\0b", 3), 20, "a b"},
      {"high bytes kept", "caf\xC3\xA9", 20, "caf\xC3\xA9"},
      {"cut by bytes inside a character", "caf\xC3\xA9", 4, "caf\xC3..."},
      {"zero limit", "abc", 0, "..."},
      {"empty", "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(logExcerpt(c.text, c.limit), c.expected);
  }
}

TEST(NativeLogQueueTest, KeepsOrderFlagsAndExcerpts) {
  NativeLogQueue queue;
  EXPECT_TRUE(queue.take(200).empty());  // empty queue, no omissions: nothing at all

  queue.push("first\nline", false);
  queue.push(std::string(1025, 'x'), true);
  queue.push(std::string(1024, 'y'), false);
  const std::vector<LogEntry> entries = queue.take(200);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].text, "first line");
  EXPECT_FALSE(entries[0].isError);
  EXPECT_EQ(entries[1].text, std::string(1024, 'x') + "...");
  EXPECT_TRUE(entries[1].isError);
  EXPECT_EQ(entries[2].text, std::string(1024, 'y'));
  EXPECT_TRUE(queue.take(200).empty());
}

TEST(NativeLogQueueTest, FullQueueCountsAndReportsOnceThereIsRoom) {
  NativeLogQueue queue;
  for (std::size_t i = 0; i < NativeLogQueue::kCapacity + 1; ++i) queue.push("line " + std::to_string(i), false);

  // A drain that takes its full 200 has no room for the notice.
  std::vector<LogEntry> drained = queue.take(200);
  ASSERT_EQ(drained.size(), 200u);
  EXPECT_EQ(drained.front().text, "line 0");
  EXPECT_EQ(drained.back().text, "line 199");
  for (const LogEntry& e : drained) EXPECT_FALSE(e.isError);

  std::size_t stored = 200;
  while (true) {
    drained = queue.take(200);
    if (drained.size() < 200 || drained.back().isError) break;
    stored += drained.size();
  }
  // 8192 stored = 40 full drains + 192; the notice follows those 192.
  ASSERT_EQ(drained.size(), 193u);
  stored += 192;
  EXPECT_EQ(stored, NativeLogQueue::kCapacity);
  EXPECT_EQ(drained[191].text, "line 8191");
  EXPECT_EQ(drained.back().text, kBacklogOne);
  EXPECT_TRUE(drained.back().isError);
  // Reported once, then the count starts over.
  EXPECT_TRUE(queue.take(200).empty());
}

TEST(NativeLogQueueTest, FinalDrainFitsFullQueueAndNotice) {
  NativeLogQueue queue;
  for (std::size_t i = 0; i < NativeLogQueue::kCapacity + 3; ++i) queue.push("x", false);
  const std::vector<LogEntry> drained = queue.take(NativeLogQueue::kCapacity + 1);
  ASSERT_EQ(drained.size(), NativeLogQueue::kCapacity + 1);
  EXPECT_EQ(drained.back().text,
            "Message Log backlog: omitted 3 log entries. Sync records and receipts are retained.");
  // Room freed by a drain is used again.
  queue.push("after", false);
  ASSERT_EQ(queue.take(5).size(), 1u);
}

TEST(NativeLogQueueTest, ConcurrentProducersLoseNothingUncounted) {
  auto queue = std::make_shared<NativeLogQueue>();
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 5000;  // 20000 pushed: more than the capacity
  std::atomic<int> running{kProducers};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      const LogSink sink = makeLogSink(queue);
      for (int i = 0; i < kPerProducer; ++i) sink("p" + std::to_string(p) + " " + std::to_string(i), false);
      --running;
    });
  }

  // The chart thread: drains 200 a call while producers push.
  std::uint64_t ordinary = 0;
  std::uint64_t omitted = 0;
  std::vector<int> lastSeen(kProducers, -1);
  bool ordered = true;
  auto drainOnce = [&](std::size_t max) {
    for (const LogEntry& e : queue->take(max)) {
      if (e.isError) {
        const std::string prefix = "Message Log backlog: omitted ";
        ASSERT_EQ(e.text.rfind(prefix, 0), 0u) << e.text;
        omitted += std::stoull(e.text.substr(prefix.size()));
        continue;
      }
      ++ordinary;
      const std::size_t space = e.text.find(' ');
      const int producer = std::stoi(e.text.substr(1, space - 1));
      const int index = std::stoi(e.text.substr(space + 1));
      if (index <= lastSeen[producer]) ordered = false;
      lastSeen[producer] = index;
    }
  };
  while (running.load() > 0) drainOnce(200);
  for (std::thread& t : producers) t.join();
  drainOnce(NativeLogQueue::kCapacity + 1);

  EXPECT_EQ(ordinary + omitted, static_cast<std::uint64_t>(kProducers) * kPerProducer);
  EXPECT_TRUE(ordered) << "a producer's lines came out of order";
  EXPECT_TRUE(queue->take(200).empty());
}

TEST(LogSinkTest, LogToSwallowsSinkFailuresAndIgnoresEmptySink) {
  logTo(LogSink(), "nobody listens", false);
  int calls = 0;
  const LogSink throwing = [&](const std::string&, bool) {
    ++calls;
    throw std::runtime_error("host log gone");
  };
  logTo(throwing, "line", true);
  EXPECT_EQ(calls, 1);

  auto queue = std::make_shared<NativeLogQueue>();
  const LogSink sink = makeLogSink(queue);
  logTo(sink, "hello", true);
  const std::vector<LogEntry> entries = queue->take(10);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, "hello");
  EXPECT_TRUE(entries[0].isError);
}

TEST(LogSinkTest, SinkKeepsQueueAliveAfterOwnerDrops) {
  auto queue = std::make_shared<NativeLogQueue>();
  const std::weak_ptr<NativeLogQueue> watch = queue;
  LogSink sink = makeLogSink(queue);
  queue.reset();
  ASSERT_FALSE(watch.expired());
  sink("late line from a sender", false);
  EXPECT_EQ(watch.lock()->take(5).size(), 1u);
  sink = nullptr;
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace qbsync
