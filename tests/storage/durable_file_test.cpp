#include "storage/durable_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/fault_file_api.h"
#include "storage/scratch_dir.h"

namespace {

using qbtest::exists;
using qbtest::FaultFileApi;
using qbtest::FileApiOverride;
using qbtest::FileOp;
using qbtest::readBytes;
using qbtest::ScratchDir;
using qbtest::writeBytes;

template <typename F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(PublishOnce, WritesNewTargetAndLeavesNoTemporary) {
  ScratchDir dir("publish");
  const std::string target = dir.file("a.json");
  EXPECT_TRUE(qbsync::publishOnce(target, "{\"a\":1}"));
  EXPECT_EQ(readBytes(target), "{\"a\":1}");
  EXPECT_FALSE(exists(target + ".tmp"));
}

TEST(PublishOnce, ExistingTargetIsLeftAloneWithItsTemporary) {
  const struct {
    const char* name;
    bool leftoverTmp;
  } cases[] = {{"without temporary", false}, {"with temporary", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir("publish-existing");
    const std::string target = dir.file("a.json");
    ASSERT_TRUE(writeBytes(target, "first"));
    if (c.leftoverTmp) {
      ASSERT_TRUE(writeBytes(target + ".tmp", "stale temporary"));
    }
    EXPECT_FALSE(qbsync::publishOnce(target, "second"));
    EXPECT_EQ(readBytes(target), "first");
    EXPECT_EQ(readBytes(target + ".tmp"), c.leftoverTmp ? "stale temporary" : "<missing>");
  }
}

TEST(PublishOnce, SecondPublishKeepsTheFirstBytes) {
  ScratchDir dir("publish-twice");
  const std::string target = dir.file("a.json");
  ASSERT_TRUE(qbsync::publishOnce(target, "first"));
  EXPECT_FALSE(qbsync::publishOnce(target, "second, longer"));
  EXPECT_EQ(readBytes(target), "first");
}

TEST(DurableWrite, LeftoverTemporaryIsTruncatedAndReused) {
  const std::string longer(5000, 'x');
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaceFile" : "publishOnce");
    ScratchDir dir("leftover");
    const std::string target = dir.file("state.json");
    ASSERT_TRUE(writeBytes(target + ".tmp", longer));
    if (replace) {
      qbsync::replaceFile(target, "short");
    } else {
      EXPECT_TRUE(qbsync::publishOnce(target, "short"));
    }
    EXPECT_EQ(readBytes(target), "short");
    EXPECT_FALSE(exists(target + ".tmp"));
  }
}

TEST(DurableWrite, ShortWritesAreContinuedUntilComplete) {
  ScratchDir dir("short-writes");
  std::string content;
  for (int i = 0; i < 1000; ++i) content += static_cast<char>('a' + i % 26);
  FaultFileApi faults;
  faults.setMaxWriteChunk(7);
  {
    FileApiOverride use(faults);
    ASSERT_TRUE(qbsync::publishOnce(dir.file("p.json"), content));
    qbsync::replaceFile(dir.file("r.json"), content);
  }
  EXPECT_EQ(readBytes(dir.file("p.json")), content);
  EXPECT_EQ(readBytes(dir.file("r.json")), content);
  EXPECT_EQ(faults.calls(FileOp::WriteFile), 2u * ((1000 + 6) / 7));
}

TEST(DurableWrite, TemporaryIsOpenedExclusivelyAndWrittenThrough) {
  // The flags are the durability contract: no other writer may share the
  // temporary file, and an old one must be truncated.
  class Recorder : public FaultFileApi {
   public:
    HANDLE createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override {
      opens.push_back({access, share, disposition, flags});
      return FaultFileApi::createFileA(path, access, share, disposition, flags);
    }
    std::vector<std::vector<DWORD>> opens;
  } recorder;
  ScratchDir dir("flags");
  {
    FileApiOverride use(recorder);
    qbsync::publishOnce(dir.file("a"), "x");
    qbsync::replaceFile(dir.file("b"), "y");
  }
  const std::vector<DWORD> expected = {GENERIC_WRITE, 0, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH};
  ASSERT_EQ(recorder.opens.size(), 2u);
  EXPECT_EQ(recorder.opens[0], expected);
  EXPECT_EQ(recorder.opens[1], expected);
}

TEST(ReplaceFile, ReplacesWholeContent) {
  ScratchDir dir("replace");
  const std::string target = dir.file("high-water.json");
  qbsync::replaceFile(target, "a much longer first content");
  qbsync::replaceFile(target, "short");
  EXPECT_EQ(readBytes(target), "short");
  EXPECT_FALSE(exists(target + ".tmp"));
}

TEST(WriteImmutable, RepeatIsSuccessAndDifferenceIsConflict) {
  ScratchDir dir("immutable");
  const std::string path = dir.file("e-1.json");
  qbsync::writeImmutable(path, "{\"seq\":1}");
  EXPECT_EQ(errorOf([&] { qbsync::writeImmutable(path, "{\"seq\":1}"); }), "<no error>");
  EXPECT_EQ(errorOf([&] { qbsync::writeImmutable(path, "{\"seq\":2}"); }), "IMMUTABLE_FILE_CONFLICT");
  EXPECT_EQ(errorOf([&] { qbsync::writeImmutable(path, "{\"seq\":1} "); }), "IMMUTABLE_FILE_CONFLICT");
  EXPECT_EQ(readBytes(path), "{\"seq\":1}");
  ASSERT_TRUE(CreateDirectoryA(dir.file("d").c_str(), nullptr));
  EXPECT_EQ(errorOf([&] { qbsync::writeImmutable(dir.file("d"), "x"); }), "JOURNAL_PATH_UNAVAILABLE");
}

TEST(WriteImmutable, TargetAppearingAfterTheCheckIsACommitFailure) {
  ScratchDir dir("immutable-race");
  const std::string path = dir.file("e-1.json");
  ASSERT_TRUE(writeBytes(path, "other writer"));
  FaultFileApi faults;
  // The first existence check misses the file, as if it appeared just after.
  faults.failAt(1, ERROR_FILE_NOT_FOUND, false, {FileOp::GetFileAttributesA});
  FileApiOverride use(faults);
  EXPECT_EQ(errorOf([&] { qbsync::writeImmutable(path, "mine"); }), "JOURNAL_COMMIT_FAILED");
  EXPECT_EQ(readBytes(path), "other writer");
}

TEST(ReadSmallFile, SizeLimitAndFailures) {
  ScratchDir dir("read");
  const struct {
    const char* name;
    std::size_t size;  // SIZE_MAX: no file
    const char* error;
  } cases[] = {
      {"empty", 0, nullptr},
      {"exactly the limit", 1048576, nullptr},
      {"one byte over", 1048577, "Invalid outbox metadata size."},
      {"missing", SIZE_MAX, "Cannot read outbox metadata."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string(c.name) + ".bin");
    std::string content;
    if (c.size != SIZE_MAX) {
      for (std::size_t i = 0; i < c.size; ++i) content += static_cast<char>(i * 31 % 251);
      ASSERT_TRUE(writeBytes(path, content));
    }
    if (c.error) {
      EXPECT_EQ(errorOf([&] { qbsync::readSmallFile(path); }), c.error);
      if (c.size != SIZE_MAX) {
        EXPECT_TRUE(qbtest::isClosed(path));
      }
    } else {
      EXPECT_EQ(qbsync::readSmallFile(path), content);
    }
  }
}

TEST(ReadSmallFile, FailingCallsNameTheirStageAndCloseTheFile) {
  ScratchDir dir("read-faults");
  const std::string path = dir.file("m.json");
  ASSERT_TRUE(writeBytes(path, "metadata"));
  const struct {
    FileOp op;
    const char* error;
  } cases[] = {
      {FileOp::CreateFileA, "Cannot read outbox metadata."},
      {FileOp::GetFileSizeEx, "Invalid outbox metadata size."},
      {FileOp::ReadFile, "Incomplete outbox metadata read."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(qbtest::fileOpName(c.op));
    FaultFileApi faults;
    faults.failAt(1, ERROR_ACCESS_DENIED, false, {c.op});
    {
      FileApiOverride use(faults);
      EXPECT_EQ(errorOf([&] { qbsync::readSmallFile(path); }), c.error);
    }
    EXPECT_EQ(faults.calls(FileOp::CloseHandle), c.op == FileOp::CreateFileA ? 0u : 1u);
    EXPECT_TRUE(qbtest::isClosed(path));
  }
}

TEST(ReadJournalFile, PathKindIsCheckedBeforeReadingAndLimitAfter) {
  ScratchDir dir("journal-read");
  ASSERT_TRUE(writeBytes(dir.file("e.json"), "0123456789"));
  ASSERT_TRUE(CreateDirectoryA(dir.file("sub").c_str(), nullptr));
  const struct {
    const char* name;
    const char* file;
    std::size_t limit;
    const char* error;
  } cases[] = {
      {"at limit", "e.json", 10, nullptr},
      {"over limit", "e.json", 9, "JOURNAL_FILE_LIMIT"},
      {"directory", "sub", 100, "JOURNAL_PATH_UNAVAILABLE"},
      {"missing", "none.json", 100, "JOURNAL_PATH_UNAVAILABLE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultFileApi counter;
    FileApiOverride use(counter);
    const std::string path = dir.file(c.file);
    if (c.error) {
      EXPECT_EQ(errorOf([&] { qbsync::readJournalFile(path, c.limit); }), c.error);
    } else {
      EXPECT_EQ(qbsync::readJournalFile(path, c.limit), "0123456789");
    }
    if (std::string(c.file) != "e.json") {
      EXPECT_EQ(counter.calls(FileOp::CreateFileA), 0u) << "opened before check";
    }
  }
}

TEST(ReadListedJournalFile, TheListingsAttributesDecideWithoutASecondLookup) {
  ScratchDir dir("journal-listed");
  ASSERT_TRUE(writeBytes(dir.file("e.json"), "0123456789"));
  ASSERT_TRUE(CreateDirectoryA(dir.file("sub").c_str(), nullptr));
  const std::vector<qbsync::ListedFile> listed = qbsync::listFileEntries(dir.path(), "*");
  ASSERT_EQ(listed.size(), 1u);  // the directory is not listed
  EXPECT_EQ(listed[0].name, "e.json");
  const DWORD plain = listed[0].attributes;
  EXPECT_EQ(plain & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0u);
  const struct {
    const char* name;
    DWORD attributes;
    std::size_t limit;
    const char* error;
  } cases[] = {
      {"plain", plain, 10, nullptr},
      {"over limit", plain, 9, "JOURNAL_FILE_LIMIT"},
      {"reparse point", plain | FILE_ATTRIBUTE_REPARSE_POINT, 100, "JOURNAL_PATH_UNAVAILABLE"},
      {"directory", FILE_ATTRIBUTE_DIRECTORY, 100, "JOURNAL_PATH_UNAVAILABLE"},
      {"invalid", INVALID_FILE_ATTRIBUTES, 100, "JOURNAL_PATH_UNAVAILABLE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultFileApi counter;
    FileApiOverride use(counter);
    const std::string path = dir.file("e.json");
    if (c.error) {
      EXPECT_EQ(errorOf([&] { qbsync::readListedJournalFile(path, c.attributes, c.limit); }), c.error);
    } else {
      EXPECT_EQ(qbsync::readListedJournalFile(path, c.attributes, c.limit), "0123456789");
    }
    EXPECT_EQ(counter.calls(FileOp::GetFileAttributesA), 0u);
    if (std::string(c.name) != "plain" && std::string(c.name) != "over limit") {
      EXPECT_EQ(counter.calls(FileOp::CreateFileA), 0u) << "opened before check";
    }
  }
}

TEST(RequirePathKind, KindMustMatch) {
  ScratchDir dir("kind");
  ASSERT_TRUE(writeBytes(dir.file("f"), "x"));
  ASSERT_TRUE(CreateDirectoryA(dir.file("d").c_str(), nullptr));
  const struct {
    const char* name;
    bool directory;
    bool ok;
  } cases[] = {{"f", false, true}, {"f", true, false}, {"d", true, true}, {"d", false, false}, {"none", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.directory ? " as directory" : " as file"));
    EXPECT_EQ(errorOf([&] { qbsync::requirePathKind(dir.file(c.name), c.directory); }),
              c.ok ? "<no error>" : "JOURNAL_PATH_UNAVAILABLE");
  }
}

TEST(PathExists, FilesAndDirectories) {
  ScratchDir dir("exists");
  ASSERT_TRUE(writeBytes(dir.file("f"), ""));
  EXPECT_TRUE(qbsync::pathExists(dir.file("f")));
  EXPECT_TRUE(qbsync::pathExists(dir.path()));
  EXPECT_FALSE(qbsync::pathExists(dir.file("g")));
}

TEST(DirectorySize, CountsPlainFilesOfOneLevel) {
  ScratchDir dir("size");
  EXPECT_EQ(qbsync::directorySize(dir.path()), 0u);
  ASSERT_TRUE(writeBytes(dir.file("a.json"), std::string(100, 'a')));
  ASSERT_TRUE(writeBytes(dir.file("b.json.tmp"), std::string(20, 'b')));
  ASSERT_TRUE(writeBytes(dir.file("collector.lock"), std::string(3, 'c')));
  ASSERT_TRUE(CreateDirectoryA(dir.file("native-sync").c_str(), nullptr));
  ASSERT_TRUE(writeBytes(dir.file("native-sync\\inner.json"), std::string(1000, 'i')));
  EXPECT_EQ(qbsync::directorySize(dir.path()), 123u);
}

TEST(DirectorySize, Failures) {
  ScratchDir dir("size-faults");
  ASSERT_TRUE(writeBytes(dir.file("a"), "a"));
  EXPECT_EQ(errorOf([&] { qbsync::directorySize(dir.file("missing")); }), "Cannot enumerate outbox directory.");
  FaultFileApi faults;
  faults.failAt(1, ERROR_ACCESS_DENIED, false, {FileOp::FindNextFileA});
  FileApiOverride use(faults);
  EXPECT_EQ(errorOf([&] { qbsync::directorySize(dir.path()); }), "Outbox directory scan failed.");
  EXPECT_EQ(faults.calls(FileOp::FindClose), 1u);
}

TEST(ListFiles, MatchingPlainFilesOnly) {
  ScratchDir dir("list");
  EXPECT_TRUE(qbsync::listFiles(dir.path(), "*.capture").empty());
  ASSERT_TRUE(writeBytes(dir.file("1.capture"), "x"));
  ASSERT_TRUE(writeBytes(dir.file("2.capture"), "x"));
  ASSERT_TRUE(writeBytes(dir.file("3.json"), "x"));
  ASSERT_TRUE(CreateDirectoryA(dir.file("4.capture").c_str(), nullptr));
  std::vector<std::string> names = qbsync::listFiles(dir.path(), "*.capture");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"1.capture", "2.capture"}));
}

TEST(ListFiles, OnlyAnEmptyMatchIsAnEmptyList) {
  ScratchDir dir("list-faults");
  ASSERT_TRUE(writeBytes(dir.file("a.json"), "x"));
  ASSERT_TRUE(writeBytes(dir.file("b.json"), "x"));
  const struct {
    const char* name;
    FileOp op;
    DWORD error;
    const char* expected;  // error text, or the number of names
  } cases[] = {
      {"start: nothing matches", FileOp::FindFirstFileA, ERROR_FILE_NOT_FOUND, "0"},
      {"start: no more files", FileOp::FindFirstFileA, ERROR_NO_MORE_FILES, "0"},
      {"start: access denied", FileOp::FindFirstFileA, ERROR_ACCESS_DENIED, "Cannot enumerate pending capture files."},
      {"start: path missing", FileOp::FindFirstFileA, ERROR_PATH_NOT_FOUND, "Cannot enumerate pending capture files."},
      {"end of listing", FileOp::FindNextFileA, ERROR_NO_MORE_FILES, "1"},
      // A listing cut short must not pass for a complete one.
      {"listing cut short", FileOp::FindNextFileA, ERROR_ACCESS_DENIED, "Cannot enumerate pending capture files."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultFileApi faults;
    faults.failAt(1, c.error, false, {c.op});
    FileApiOverride use(faults);
    std::string outcome;
    try {
      outcome = std::to_string(qbsync::listFiles(dir.path(), "*.json").size());
    } catch (const std::runtime_error& e) {
      outcome = e.what();
    }
    EXPECT_EQ(outcome, c.expected);
  }
  EXPECT_EQ(errorOf([&] { qbsync::listFiles(dir.file("missing"), "*.json"); }),
            "Cannot enumerate pending capture files.");
}

}  // namespace
