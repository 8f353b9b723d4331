#include "collector/event_record.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "collector/collector_fixture.h"
#include "collector/json_quote.h"
#include "common/fault_file_api.h"
#include "storage/durable_file.h"

namespace qbtest {
namespace {

using qbsync::jsonQuote;
using qbsync::writeEventRecord;

const std::string kId(64, 'a');

std::string noteBody(const std::string& text) {
  return ",\"kind\":\"note\",\"note_id\":\"manual:1\",\"note\":" + jsonQuote(text) + ",\"internal_order_id\":\"\"";
}

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "<none>";
}

TEST(JsonQuoteTest, EscapesOnlyWhatJsonRequires) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"empty", "", "\"\""},
      {"plain", "abc", "\"abc\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab, line feed, return", "\t\n\r", "\"\\t\\n\\r\""},
      {"other controls as lowercase \\u", std::string("\x01\x1f\x0b", 3), "\"\\u0001\\u001f\\u000b\""},
      {"NUL", std::string("a\0b", 3), "\"a\\u0000b\""},
      {"DEL and UTF-8 bytes kept raw", "\x7f\xc3\xa9\xe2\x82\xac", "\"\x7f\xc3\xa9\xe2\x82\xac\""},
      {"slash not escaped", "a/b", "\"a/b\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(jsonQuote(c.in), c.out);
  }
}

class EventRecordTest : public CollectorFixture {};

TEST_F(EventRecordTest, WritesTheExactRecordAndCountsItsSize) {
  const std::string body = noteBody("say \"hi\"\\\t\x01 caf\xc3\xa9");
  ASSERT_TRUE(writeEventRecord(state_, kId, body, ".json"));
  const std::string expected = header(kId) +
                               ",\"kind\":\"note\",\"note_id\":\"manual:1\",\"note\":\"say \\\"hi\\\"\\\\\\t\\u0001 "
                               "caf\xc3\xa9\",\"internal_order_id\":\"\"}\n";
  EXPECT_EQ(readBytes(file(kId + ".json")), expected);
  EXPECT_EQ(state_.outboxSize, expected.size());
  EXPECT_FALSE(exists(file(kId + ".json.tmp")));
}

TEST_F(EventRecordTest, SameNameTwiceWritesOnceAndLeavesTheFileUntouched) {
  ASSERT_TRUE(writeEventRecord(state_, kId, noteBody("first"), ".json"));
  const std::string first = readBytes(file(kId + ".json"));
  const std::uint64_t size = state_.outboxSize;
  clock_.advanceMs(5000);
  EXPECT_FALSE(writeEventRecord(state_, kId, noteBody("second"), ".json"));
  EXPECT_EQ(readBytes(file(kId + ".json")), first);
  EXPECT_EQ(state_.outboxSize, size);

  // A new state (restart) has no known names; the file on disk answers.
  qbsync::CollectorState fresh;
  fresh.sourceFragment = state_.sourceFragment;
  fresh.scopeDigest = state_.scopeDigest;
  fresh.outboxDir = state_.outboxDir;
  fresh.budget = state_.budget;
  EXPECT_FALSE(writeEventRecord(fresh, kId, noteBody("third"), ".json"));
  EXPECT_EQ(readBytes(file(kId + ".json")), first);
  EXPECT_EQ(fresh.knownNames.count(kId + ".json"), 1u);

  // The extension is part of the name: a pending capture is a different record.
  EXPECT_TRUE(writeEventRecord(state_, kId, noteBody("first"), ".capture"));
}

TEST_F(EventRecordTest, KnownNameIsNotWrittenAgainEvenWhenTheFileIsGone) {
  state_.knownNames.insert(kId + ".json");
  EXPECT_FALSE(writeEventRecord(state_, kId, noteBody("x"), ".json"));
  EXPECT_FALSE(exists(file(kId + ".json")));
}

// A restarted host's first poll looked up every recorded fill's file one by
// one although its own scan had just listed the directory.
TEST_F(EventRecordTest, AfterTheFirstScanRecordedNamesCostNoFileAccess) {
  ASSERT_TRUE(writeEventRecord(state_, kId, noteBody("first"), ".json"));
  qbsync::CollectorState restarted;
  restarted.sourceFragment = state_.sourceFragment;
  restarted.scopeDigest = state_.scopeDigest;
  restarted.outboxDir = state_.outboxDir;
  restarted.budget = state_.budget;
  restarted.scanOutbox();
  EXPECT_TRUE(restarted.knownNamesComplete);
  EXPECT_EQ(restarted.outboxSize, state_.outboxSize);

  FaultFileApi counter;
  FileApiOverride use(counter);
  EXPECT_FALSE(writeEventRecord(restarted, kId, noteBody("again"), ".json"));
  EXPECT_EQ(counter.calls(FileOp::GetFileAttributesA) + counter.calls(FileOp::CreateFileA), 0u);
  // A new name is published with one existence check, publishOnce's own.
  const std::string other(64, 'c');
  EXPECT_TRUE(writeEventRecord(restarted, other, noteBody("new"), ".json"));
  EXPECT_EQ(counter.calls(FileOp::GetFileAttributesA), 1u);
  // A file that appeared behind the state's back is still never replaced.
  ASSERT_TRUE(writeBytes(file(std::string(64, 'd') + ".json"), "foreign"));
  EXPECT_FALSE(writeEventRecord(restarted, std::string(64, 'd'), noteBody("mine"), ".json"));
  EXPECT_EQ(readBytes(file(std::string(64, 'd') + ".json")), "foreign");
}

TEST_F(EventRecordTest, RecordOfExactly64KiBIsWrittenOneByteMoreIsRefused) {
  const std::size_t overhead = (header(kId) + noteBody("") + "}\n").size();
  const std::string fits(qbsync::kMaxEventRecordBytes - overhead, 'n');
  const std::string idOver(64, 'b');
  EXPECT_EQ(errorOf([&] { writeEventRecord(state_, idOver, noteBody(fits + "n"), ".json"); }),
            "Event exceeds the 64 KiB sync record limit; collection paused for review.");
  EXPECT_FALSE(exists(file(idOver + ".json")));
  EXPECT_FALSE(exists(file(idOver + ".json.tmp")));
  EXPECT_EQ(state_.knownNames.count(idOver + ".json"), 0u);  // a later poll may retry it

  ASSERT_TRUE(writeEventRecord(state_, kId, noteBody(fits), ".json"));
  EXPECT_EQ(readBytes(file(kId + ".json")).size(), 65536u);
}

TEST_F(EventRecordTest, BudgetExactlyReachedIsWrittenOneByteShortIsRefused) {
  const std::size_t length = (header(kId) + noteBody("b") + "}\n").size();
  const std::string capacity =
      "Outbox capacity reached. Collection paused; increase the budget after checking disk space. No files were "
      "deleted.";
  struct Case {
    const char* name;
    std::uint64_t size;
    std::uint64_t budget;
    bool written;
  } cases[] = {
      {"budget equals size plus record", 1000, 1000 + length, true},
      {"one byte short", 1000, 1000 + length - 1, false},
      {"size already above budget", 5000, 4000, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = std::string(63, 'c') + static_cast<char>('0' + n++);
    state_.outboxSize = c.size;
    state_.budget = c.budget;
    if (c.written) {
      EXPECT_TRUE(writeEventRecord(state_, id, noteBody("b"), ".json"));
      EXPECT_EQ(state_.outboxSize, c.budget);
    } else {
      EXPECT_EQ(errorOf([&] { writeEventRecord(state_, id, noteBody("b"), ".json"); }), capacity);
      EXPECT_FALSE(exists(file(id + ".json")));
      EXPECT_EQ(state_.outboxSize, c.size);
    }
  }
}

TEST_F(EventRecordTest, FailedPublishLeavesNoRecordAndTheNextTryWritesIt) {
  FaultFileApi faults;
  FileApiOverride use(faults);
  faults.failAt(1, ERROR_DISK_FULL, true, {FileOp::WriteFile});
  EXPECT_EQ(errorOf([&] { writeEventRecord(state_, kId, noteBody("x"), ".json"); }),
            "Outbox write failed; no fill cursor was advanced.");
  EXPECT_FALSE(exists(file(kId + ".json")));
  EXPECT_EQ(state_.outboxSize, 0u);
  faults.clearFault();
  EXPECT_TRUE(writeEventRecord(state_, kId, noteBody("x"), ".json"));
  EXPECT_EQ(readBytes(file(kId + ".json")), header(kId) + noteBody("x") + "}\n");
}

TEST_F(EventRecordTest, SourceFragmentQuotesEveryScopeText) {
  EXPECT_EQ(qbsync::sourceFragment("A\"c", "E\\S", "s", false, true),
            ",\"source_account\":\"A\\\"c\",\"source_symbol\":\"E\\\\S\",\"session_id\":\"s\",\"simulation\":false,"
            "\"replay\":true");
}

}  // namespace
}  // namespace qbtest
