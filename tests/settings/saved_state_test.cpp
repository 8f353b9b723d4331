#include "settings/saved_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/secure_zero.h"

namespace qbsync {
namespace {

using nlohmann::json;

const char kAccount[] = "Sim1";
const char kSymbol[] = "ESZ25_FUT_CME";

// A document as the controller saves it for (kAccount, kSymbol, simulation, live).
json validDocument() {
  ConnectionSettings settings;
  settings.source_account = kAccount;
  settings.source_symbol = kSymbol;
  settings.simulation = true;
  settings.session_id = "0f8fad5b-d9cb-469f-a165-70867728950e";
  settings.email = "trader@example.com";
  SavedState state;
  state.settings = settings;
  state.secret = "account-secret-value";
  state.allowReplay = true;
  state.noteRevision = 5;
  state.screenshotRevision = 3;
  state.pendingNotes = json::array({{{"revision", 2}, {"text", "first"}}, {{"revision", 5}, {"text", "second"}}});
  state.pendingScreenshots = json::array({1, 3});
  return savedDocument(state);
}

SavedState adopt(const json& document) { return adoptSavedDocument(document, kAccount, kSymbol, true, false); }

// The outcome of adopting: "ok", the runtime error's code, or the kind of
// library error.
std::string outcome(const json& document) {
  try {
    adopt(document);
    return "ok";
  } catch (const json::type_error&) {
    return "type_error";
  } catch (const json::out_of_range&) {
    return "out_of_range";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

json notes(int count) {
  json array = json::array();
  for (int i = 1; i <= count; ++i) array.push_back({{"revision", i}, {"text", "n"}});
  return array;
}

TEST(SavedState, SavedDocumentRoundTripsThroughAdoption) {
  const json document = validDocument();
  std::vector<std::string> keys;
  for (const auto& item : document.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"allow_replay", "note_revision", "pending_notes", "pending_screenshots",
                                            "screenshot_revision", "secret", "settings"}));
  EXPECT_EQ(document["settings"]["session_id"], "0f8fad5b-d9cb-469f-a165-70867728950e");

  const SavedState state = adopt(json::parse(document.dump()));
  EXPECT_EQ(state.secret, "account-secret-value");
  EXPECT_TRUE(state.allowReplay);
  EXPECT_EQ(state.noteRevision, 5);
  EXPECT_EQ(state.screenshotRevision, 3);
  EXPECT_EQ(state.pendingNotes, document["pending_notes"]);
  EXPECT_EQ(state.pendingScreenshots, json::array({1, 3}));
  EXPECT_EQ(state.settings.settingsDocument(), document["settings"]);
}

TEST(SavedState, AbsentOptionalMembersTakeDefaults) {
  json document = validDocument();
  for (const char* key : {"allow_replay", "note_revision", "screenshot_revision", "pending_notes",
                          "pending_screenshots"}) {
    document.erase(key);
  }
  const SavedState state = adopt(document);
  EXPECT_FALSE(state.allowReplay);
  EXPECT_EQ(state.noteRevision, 0);
  EXPECT_EQ(state.screenshotRevision, 0);
  EXPECT_EQ(state.pendingNotes, json::array());
  EXPECT_EQ(state.pendingScreenshots, json::array());
}

TEST(SavedState, CountersReadNumbersAndBooleansWithTheFractionDropped) {
  struct Case {
    const char* name;
    json value;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"true", true, 1},          {"false", false, 0},          {"fraction", 7.9, 7},
      {"negative fraction", -0.5, 0}, {"largest", 2147483647, 2147483647}, {"largest as float", 2147483647.5, 2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json document = validDocument();
    document["pending_notes"] = json::array();
    document["pending_screenshots"] = json::array();
    document["note_revision"] = c.value;
    document["screenshot_revision"] = c.value;
    const SavedState state = adopt(document);
    EXPECT_EQ(state.noteRevision, c.expected);
    EXPECT_EQ(state.screenshotRevision, c.expected);
  }
}

TEST(SavedState, RefusesDocumentsThatBreakARule) {
  const std::string text12000(12000, 'x');
  struct Case {
    const char* name;
    std::function<void(json&)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"valid", [](json&) {}, "ok"},
      {"not an object", [](json& d) { d = json::array({1}); }, "type_error"},
      {"settings missing", [](json& d) { d.erase("settings"); }, "type_error"},
      {"settings not an object", [](json& d) { d["settings"] = "x"; }, "type_error"},
      {"settings with unknown protocol", [](json& d) { d["settings"]["native_instrument_protocol"] = 2; },
       "UNKNOWN_NATIVE_INSTRUMENT_PROTOCOL"},
      {"foreign symbol", [](json& d) { d["settings"]["source_symbol"] = "NQZ25_FUT_CME"; }, "SAVED_SOURCE_MISMATCH"},
      {"foreign account", [](json& d) { d["settings"]["source_account"] = "Sim2"; }, "SAVED_SOURCE_MISMATCH"},
      {"foreign simulation flag", [](json& d) { d["settings"]["simulation"] = false; }, "SAVED_SOURCE_MISMATCH"},
      {"foreign replay flag", [](json& d) { d["settings"]["replay"] = true; }, "SAVED_SOURCE_MISMATCH"},
      {"foreign source checked before the secret",
       [](json& d) {
         d["settings"]["source_symbol"] = "NQZ25_FUT_CME";
         d.erase("secret");
       },
       "SAVED_SOURCE_MISMATCH"},
      {"secret missing", [](json& d) { d.erase("secret"); }, "out_of_range"},
      {"secret not a string", [](json& d) { d["secret"] = 12; }, "type_error"},
      {"allow_replay not a boolean", [](json& d) { d["allow_replay"] = 1; }, "type_error"},
      {"note_revision a string", [](json& d) { d["note_revision"] = "5"; }, "type_error"},
      {"screenshot_revision null", [](json& d) { d["screenshot_revision"] = nullptr; }, "type_error"},
      {"note_revision negative", [](json& d) { d["note_revision"] = -1; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"screenshot_revision negative fraction", [](json& d) { d["screenshot_revision"] = -1.5; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      // Converting to 32 bits wrapped this to 1, so the next queued note
      // reused revision 2, an id already delivered: the note was dropped.
      {"note_revision wraps", [](json& d) { d["note_revision"] = 4294967297ULL; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note_revision just above 32 bits", [](json& d) { d["note_revision"] = 2147483648LL; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"screenshot_revision huge float", [](json& d) { d["screenshot_revision"] = 1e300; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"screenshot_revision not finite",
       [](json& d) { d["screenshot_revision"] = std::numeric_limits<double>::infinity(); },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note_revision NaN", [](json& d) { d["note_revision"] = std::nan(""); }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"counter type checked before counter range",
       [](json& d) {
         d["note_revision"] = 4294967297ULL;
         d["screenshot_revision"] = "3";
       },
       "type_error"},
      {"notes not an array", [](json& d) { d["pending_notes"] = json::object(); }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"notes null", [](json& d) { d["pending_notes"] = nullptr; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"captures not an array", [](json& d) { d["pending_screenshots"] = 1; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"64 notes",
       [](json& d) {
         d["note_revision"] = 64;
         d["pending_notes"] = notes(64);
       },
       "ok"},
      {"65 notes",
       [](json& d) {
         d["note_revision"] = 65;
         d["pending_notes"] = notes(65);
       },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"10 captures",
       [](json& d) {
         d["screenshot_revision"] = 10;
         d["pending_screenshots"] = json::array({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
       },
       "ok"},
      {"11 captures",
       [](json& d) {
         d["screenshot_revision"] = 11;
         d["pending_screenshots"] = json::array({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
       },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"duplicate note revisions", [](json& d) { d["pending_notes"][1]["revision"] = 2; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"decreasing note revisions", [](json& d) { d["pending_notes"][1]["revision"] = 1; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note revision 0", [](json& d) { d["pending_notes"][0]["revision"] = 0; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note revision above the counter", [](json& d) { d["pending_notes"][1]["revision"] = 6; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note revision a float", [](json& d) { d["pending_notes"][0]["revision"] = 2.0; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note revision a string", [](json& d) { d["pending_notes"][0]["revision"] = "2"; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note revision huge unsigned", [](json& d) { d["pending_notes"][1]["revision"] = 18446744073709551615ULL; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note not an object", [](json& d) { d["pending_notes"][0] = 2; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note without text", [](json& d) { d["pending_notes"][0].erase("text"); }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note without revision", [](json& d) { d["pending_notes"][0].erase("revision"); },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"note text not a string", [](json& d) { d["pending_notes"][0]["text"] = 5; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note text empty", [](json& d) { d["pending_notes"][0]["text"] = ""; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"note text 12000 bytes", [&](json& d) { d["pending_notes"][0]["text"] = text12000; }, "ok"},
      {"note text 12001 bytes", [&](json& d) { d["pending_notes"][0]["text"] = text12000 + "x"; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"capture revision 0", [](json& d) { d["pending_screenshots"][0] = 0; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"duplicate capture revisions", [](json& d) { d["pending_screenshots"][1] = 1; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"capture revision above the counter", [](json& d) { d["pending_screenshots"][1] = 4; },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"capture revision a float", [](json& d) { d["pending_screenshots"][0] = 1.0; }, "INVALID_SAVED_MANUAL_QUEUE"},
      {"capture revision an object", [](json& d) { d["pending_screenshots"][0] = json::object(); },
       "INVALID_SAVED_MANUAL_QUEUE"},
      {"session id 128 bytes", [](json& d) { d["settings"]["session_id"] = std::string(128, 's'); }, "ok"},
      {"session id 129 bytes", [](json& d) { d["settings"]["session_id"] = std::string(129, 's'); },
       "SAVED_SESSION_REQUIRED"},
      {"session id empty", [](json& d) { d["settings"]["session_id"] = ""; }, "SAVED_SESSION_REQUIRED"},
      {"session id with a tab", [](json& d) { d["settings"]["session_id"] = "run\t1"; }, "SAVED_SESSION_REQUIRED"},
      {"session id with DEL", [](json& d) { d["settings"]["session_id"] = "run\x7f"; }, "SAVED_SESSION_REQUIRED"},
      {"session id with UTF-8", [](json& d) { d["settings"]["session_id"] = "run-\xc3\xa9"; }, "ok"},
      {"queue checked before session id",
       [](json& d) {
         d["settings"]["session_id"] = "";
         d["pending_screenshots"][0] = 0;
       },
       "INVALID_SAVED_MANUAL_QUEUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json document = validDocument();
    c.change(document);
    EXPECT_EQ(outcome(document), c.expected);
  }
}

TEST(SavedState, ZeroSecretInOverwritesTheSecretBytesInPlace) {
  json document = validDocument();
  document["secret"] = std::string(200, 'S');
  const std::string& secret = document["secret"].get_ref<const std::string&>();
  const char* bytes = secret.data();
  zeroSecretIn(document);
  EXPECT_EQ(document["secret"], "");
  // The json still owns the same buffer; every byte of it must be zero.
  EXPECT_EQ(std::string(bytes, 200), std::string(200, '\0'));
}

TEST(SavedState, SecureZeroClearsWhatAMoveOutOfAShortStringLeaves) {
  std::string source = "short-secret";  // fits the in-place buffer
  const std::string moved = std::move(source);
  secureZero(source);
  EXPECT_EQ(moved, "short-secret");
  EXPECT_EQ(std::string(source.data(), source.capacity()), std::string(source.capacity(), '\0'));
}

}  // namespace
}  // namespace qbsync
