// The data folder and outbox root rules: normalisation, the length limits,
// drive types behind the file seam, links refused, short forms verified.
// folder_rules_test.sh provides QB_FOLDER_WORK with "real", its subfolders
// "a-folder-name-long-enough-to-need-a-short-form-alias" and "café", and
// directory links to each: "link", "s" and "c".
#include "storage/folder_rules.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/fault_file_api.h"
#include "storage/storage_texts.h"

namespace qbsync {
namespace {

using qbtest::FaultFileApi;
using qbtest::FileApiOverride;

std::string work() {
  const char* dir = std::getenv("QB_FOLDER_WORK");
  if (!dir || !*dir) throw std::runtime_error("run through folder_rules_test.sh");
  return dir;
}

std::string outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const std::runtime_error& e) {
    return std::string("throws: ") + e.what();
  }
}

std::string thrown(const char* text) { return std::string("throws: ") + text; }

// A directory path of exactly `length` characters under the work folder.
std::string pathOfLength(const std::string& base, std::size_t length) {
  const std::string prefix = base + "\\";
  if (length <= prefix.size()) throw std::runtime_error("work folder path too long for the case");
  return prefix + std::string(length - prefix.size(), 'd');
}

TEST(OutboxRoot, RulesTable) {
  const std::string base = work();
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  std::string slashed = base + "/out/";
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  const std::vector<Case> cases = {
      {"slashes become backslashes, trailing ones go", slashed, base + "\\out"},
      {"93 characters", pathOfLength(base, 93), pathOfLength(base, 93)},
      {"94 characters", pathOfLength(base, 94), thrown(storage_text::kOutboxTooLong)},
      {"dots inside a name", base + "\\a..b", thrown(storage_text::kOutboxDotDot)},
      {"parent step", base + "\\real\\..\\out", thrown(storage_text::kOutboxDotDot)},
      {"relative", "out\\sync", thrown(storage_text::kOutboxNotAbsolute)},
      {"drive only", "C:", thrown(storage_text::kOutboxNotAbsolute)},
      {"not ASCII", base + "\\caf\xc3\xa9", thrown(storage_text::kOutboxNotAscii)},
      {"a link in place of the directory", base + "\\link", thrown(storage_text::kDirectoryNotReal)},
      {"a file in place of the directory", base + "\\file.txt", thrown(storage_text::kDirectoryNotReal)},
  };
  HANDLE file = CreateFileA((base + "\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome([&] { return validateOutboxRoot(c.input.c_str()); }), c.expected);
  }
  // The accepted roots exist as real directories afterwards.
  EXPECT_NE(GetFileAttributesA((base + "\\out").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(pathOfLength(base, 94).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FolderRules, OnlyFixedDrivesAreAccepted) {
  const std::string base = work();
  for (const UINT type : {DRIVE_REMOVABLE, DRIVE_REMOTE, DRIVE_CDROM, DRIVE_RAMDISK, DRIVE_NO_ROOT_DIR, DRIVE_UNKNOWN}) {
    SCOPED_TRACE(type);
    FaultFileApi faults;
    faults.setDriveType([type](const wchar_t*) { return type; });
    FileApiOverride use(faults);
    EXPECT_EQ(outcome([&] { return validateOutboxRoot((base + "\\removable").c_str()); }),
              thrown(storage_text::kOutboxNotFixed));
    EXPECT_EQ(outcome([&] { return validateDataFolder((base + "\\real").c_str(), kDataFolderMaxLength); }),
              thrown(storage_text::kDataNotFixed));
  }
  // Refused before anything was created.
  EXPECT_EQ(GetFileAttributesA((base + "\\removable").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DataFolder, RulesTable) {
  const std::string base = work();
  const std::string real = base + "\\real";
  ASSERT_LE(real.size(), kDataFolderMaxLength) << "work folder path too long for the case";
  CreateDirectoryA(pathOfLength(real, 55).c_str(), nullptr);
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"plain", real, real},
      {"trailing slash", real + "/", real},
      {"55 characters unchanged", pathOfLength(real, 55), pathOfLength(real, 55)},
      {"drive root keeps its backslash", "C:/", "C:\\"},
      {"relative", "data\\sierra", thrown(storage_text::kDataNotAbsolute)},
      {"parent step", real + "\\..\\real", thrown(storage_text::kDataNotAbsolute)},
      {"empty", "", thrown(storage_text::kDataUndecodable)},
      {"missing", base + "\\missing", thrown(storage_text::kDataUnavailable)},
      {"a link", base + "\\link", thrown(storage_text::kDataUnavailable)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome([&] { return validateDataFolder(c.input.c_str(), kDataFolderMaxLength); }), c.expected);
  }
}

// A folder too long or not ASCII is used only through a short form that is
// short, ASCII, and opens the very same directory.
TEST(DataFolder, ShortFormsAreVerified) {
  const std::string base = work();
  const std::string longName = base + "\\real\\a-folder-name-long-enough-to-need-a-short-form-alias";
  const std::string accented = base + "\\real\\caf\xe9";  // the host's code page: Windows-1252
  ASSERT_GT(longName.size(), kDataFolderMaxLength);

  struct Case {
    const char* name;
    std::string input;
    std::string alias;  // what GetShortPathNameW answers; "" for a failure
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"long name, alias of the same directory", longName, base + "\\s", base + "\\s"},
      {"not ASCII, alias of the same directory", accented, base + "\\c", base + "\\c"},
      {"alias of another directory", longName, base + "\\c", thrown(storage_text::kDataShortDifferent)},
      {"alias still too long", longName, longName, thrown(storage_text::kDataShortUnusable)},
      {"alias not ASCII", longName, base + "\\caf\u00e9", thrown(storage_text::kDataShortUnusable)},
      {"no short form", longName, "", thrown(storage_text::kDataNoShortPath)},
      {"alias that does not exist", longName, base + "\\gone", thrown(storage_text::kDataShortUnverified)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultFileApi faults;
    // Byte by byte: an alias with non-ASCII bytes stays non-ASCII.
    std::wstring alias;
    for (const char ch : c.alias) alias += static_cast<wchar_t>(static_cast<unsigned char>(ch));
    faults.setShortPath([alias](const wchar_t*, wchar_t* buffer, DWORD size) -> DWORD {
      if (alias.empty()) return 0;
      if (size <= alias.size()) return static_cast<DWORD>(alias.size() + 1);
      alias.copy(buffer, alias.size());
      buffer[alias.size()] = L'\0';
      return static_cast<DWORD>(alias.size());
    });
    FileApiOverride use(faults);
    EXPECT_EQ(outcome([&] { return validateDataFolder(c.input.c_str(), kDataFolderMaxLength); }), c.expected);
  }
}

}  // namespace
}  // namespace qbsync
