#include "settings/settings_file.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/fault_file_api.h"
#include "common/temp_dir.h"
#include "storage/durable_file.h"
#include "support/identifier.h"

namespace qbsync {
namespace {

using nlohmann::json;
using qbtest::readFileBytes;
using qbtest::writeFileBytes;

const char kSecret[] = "Secret-Value-4711";
const char kNoteText[] = "Bought the open, stop under the overnight low";
const char kEmail[] = "trader@example.com";

json sampleDocument() {
  return {{"settings", {{"email", kEmail}, {"source_account", "Sim1"}, {"session_id", "run-1"}}},
          {"secret", kSecret},
          {"allow_replay", false},
          {"note_revision", 1},
          {"screenshot_revision", 0},
          {"pending_notes", json::array({{{"revision", 1}, {"text", kNoteText}}})},
          {"pending_screenshots", json::array()}};
}

// A document whose compact serialization is exactly `bytes` long.
json documentOfSize(std::size_t bytes) {
  json document = {{"secret", kSecret}, {"pad", ""}};
  const std::size_t base = document.dump().size();
  document["pad"] = std::string(bytes - base, 'p');
  return document;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

std::string protect(const std::string& text, DATA_BLOB* entropy) {
  DATA_BLOB input{static_cast<DWORD>(text.size()), reinterpret_cast<BYTE*>(const_cast<char*>(text.data()))};
  DATA_BLOB output{0, nullptr};
  if (!CryptProtectData(&input, L"Quorbelle Sierra settings", entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &output)) {
    ADD_FAILURE() << "CryptProtectData failed";
    return std::string();
  }
  std::string blob(reinterpret_cast<const char*>(output.pbData), output.cbData);
  LocalFree(output.pbData);
  return blob;
}

std::string loadError(const std::string& path) {
  try {
    loadSettingsFile(path);
    return "loaded";
  } catch (const json::parse_error&) {
    return "parse_error";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = qbtest::freshTempDir("settingsfile");
    path_ = dir_ + "\\" + settingsFileKey("Sim1", "ESZ25_FUT_CME", true, false) + ".bin";
  }
  std::string dir_;
  std::string path_;
};

TEST(SettingsFileKey, IsTheStartOfTheDigestOfTheCompactScopeArray) {
  // sha256 of ["Sim1","ESZ25_FUT_CME",true,false] and of ["Konto é","NQ\"x",false,true]
  EXPECT_EQ(settingsFileKey("Sim1", "ESZ25_FUT_CME", true, false), "bd0cb05c8477f2828a31cfa3baf8cb17");
  EXPECT_EQ(settingsFileKey("Konto \xc3\xa9", "NQ\"x", false, true), "dc7ca4920c871d825a2398af7eb5c972");
  EXPECT_NE(settingsFileKey("Sim1", "ESZ25_FUT_CME", true, true), settingsFileKey("Sim1", "ESZ25_FUT_CME", true, false));
  EXPECT_THROW(settingsFileKey("Sim\xff", "ES", false, false), json::type_error);
}

TEST_F(SettingsFileTest, SaveAndLoadRoundTripWithNothingReadableOnDisk) {
  const json document = sampleDocument();
  saveSettingsFile(path_, document);
  EXPECT_EQ(loadSettingsFile(path_), document);
  EXPECT_EQ(filesIn(dir_), std::vector<std::string>{path_.substr(dir_.size() + 1)});

  const std::string raw = readFileBytes(path_);
  ASSERT_FALSE(raw.empty());
  for (const char* clear : {kSecret, kNoteText, kEmail, "\"secret\""}) {
    SCOPED_TRACE(clear);
    EXPECT_EQ(raw.find(clear), std::string::npos);
  }

  // A second save replaces the first whole and leaves no temporary file.
  json changed = document;
  changed["allow_replay"] = true;
  saveSettingsFile(path_, changed);
  EXPECT_EQ(loadSettingsFile(path_), changed);
  EXPECT_EQ(filesIn(dir_).size(), 1u);
}

TEST_F(SettingsFileTest, DocumentLimitIsExactAndAnOversizeSaveLeavesTheOldFile) {
  const json atLimit = documentOfSize(kSettingsDocumentLimit);
  ASSERT_EQ(atLimit.dump().size(), kSettingsDocumentLimit);
  saveSettingsFile(path_, atLimit);
  EXPECT_EQ(loadSettingsFile(path_), atLimit);

  const std::string before = readFileBytes(path_);
  try {
    saveSettingsFile(path_, documentOfSize(kSettingsDocumentLimit + 1));
    ADD_FAILURE() << "oversize document saved";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "SAVED_SETTINGS_LIMIT");
  }
  EXPECT_EQ(readFileBytes(path_), before);
  EXPECT_EQ(filesIn(dir_).size(), 1u);
}

TEST_F(SettingsFileTest, InvalidUtf8FailsTheSaveAndWritesNothing) {
  json document = sampleDocument();
  document["secret"] = "bad\xff";
  EXPECT_THROW(saveSettingsFile(path_, document), json::type_error);
  EXPECT_TRUE(filesIn(dir_).empty());
}

TEST_F(SettingsFileTest, UnreadableFilesFailToLoad) {
  saveSettingsFile(path_, sampleDocument());
  const std::string good = readFileBytes(path_);
  ASSERT_GT(good.size(), 64u);

  std::string flippedMiddle = good;
  flippedMiddle[good.size() / 2] ^= 0x01;
  std::string flippedLast = good;
  flippedLast.back() ^= 0x80;
  // Another Windows user's blob cannot be made here; a blob protected with
  // optional entropy is just as impossible to unprotect without it.
  BYTE entropyBytes[] = {'o', 't', 'h', 'e', 'r'};
  DATA_BLOB entropy{sizeof entropyBytes, entropyBytes};

  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"one byte flipped in the middle", flippedMiddle, "CREDENTIAL_DECRYPTION_FAILED"},
      {"last byte flipped", flippedLast, "CREDENTIAL_DECRYPTION_FAILED"},
      {"truncated", good.substr(0, good.size() - 16), "CREDENTIAL_DECRYPTION_FAILED"},
      {"empty", "", "CREDENTIAL_DECRYPTION_FAILED"},
      {"plain JSON", sampleDocument().dump(), "CREDENTIAL_DECRYPTION_FAILED"},
      {"protected for someone else", protect(sampleDocument().dump(), &entropy), "CREDENTIAL_DECRYPTION_FAILED"},
      {"protected text that is not JSON", protect("{\"secret\":", nullptr), "parse_error"},
      {"protected JSON with a comment", protect("{\"a\":1/*x*/}", nullptr), "parse_error"},
      {"larger than the reader's limit", std::string(kSmallFileLimit + 1, 'x'), "Invalid outbox metadata size."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFileBytes(path_, c.bytes);
    EXPECT_EQ(loadError(path_), c.expected);
    EXPECT_EQ(readFileBytes(path_), c.bytes);
  }
  EXPECT_EQ(loadError(dir_ + "\\missing.bin"), "Cannot read outbox metadata.");
}

TEST_F(SettingsFileTest, FailedFinalReplaceKeepsTheOldFileAndThisSavesTemporary) {
  const json old = sampleDocument();
  saveSettingsFile(path_, old);
  const std::string before = readFileBytes(path_);
  json changed = old;
  changed["note_revision"] = 2;

  qbtest::FaultFileApi faults;
  {
    qbtest::FileApiOverride installed(faults);
    // The first move publishes the temporary file; the second replaces.
    faults.failAt(2, ERROR_ACCESS_DENIED, false, {qbtest::FileOp::MoveFileExA});
    try {
      saveSettingsFile(path_, changed);
      ADD_FAILURE() << "save reported success";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "SETTINGS_SAVE_FAILED");
    }
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_EQ(readFileBytes(path_), before);

  const std::string name = path_.substr(dir_.size() + 1);
  std::string temporary;
  for (const std::string& file : filesIn(dir_)) {
    if (file != name) temporary = file;
  }
  ASSERT_EQ(filesIn(dir_).size(), 2u);
  ASSERT_GT(temporary.size(), name.size() + 5);
  EXPECT_EQ(temporary.substr(0, name.size() + 1), name + ".");
  EXPECT_TRUE(isIdentifier(temporary.substr(name.size() + 1, temporary.size() - name.size() - 5)));
  EXPECT_EQ(temporary.substr(temporary.size() - 4), ".tmp");
  EXPECT_EQ(loadSettingsFile(dir_ + "\\" + temporary), changed);

  // The next save takes a name of its own and leaves the abandoned one alone.
  saveSettingsFile(path_, changed);
  EXPECT_EQ(loadSettingsFile(path_), changed);
  EXPECT_EQ(filesIn(dir_).size(), 2u);
  EXPECT_TRUE(qbtest::fileExists(dir_ + "\\" + temporary));
}

TEST_F(SettingsFileTest, AFailureAtAnyFileCallLeavesTheOldOrTheNewDocument) {
  const json old = sampleDocument();
  saveSettingsFile(path_, old);
  json changed = old;
  changed["secret"] = "another-secret";

  unsigned refused = 0;
  for (unsigned n = 1;; ++n) {
    SCOPED_TRACE("failing file call " + std::to_string(n));
    ASSERT_LT(n, 100u);
    qbtest::FaultFileApi faults;
    bool saved = false;
    {
      qbtest::FileApiOverride installed(faults);
      faults.failAt(n, ERROR_DISK_FULL, false);
      try {
        saveSettingsFile(path_, changed);
        saved = true;
      } catch (const std::runtime_error&) {
      }
    }
    const json now = loadSettingsFile(path_);
    if (saved) {
      EXPECT_EQ(now, changed);
      if (!faults.fired()) break;
      saveSettingsFile(path_, old);  // a save that shrugged off the fault: start the next step from the old state
    } else {
      ++refused;
      EXPECT_EQ(now, old);
    }
  }
  EXPECT_GE(refused, 5u);  // creating, writing, flushing and both moves can each refuse the save
}

}  // namespace
}  // namespace qbsync
