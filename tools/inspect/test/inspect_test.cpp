// The inspector over spools the engine itself wrote: what it reports for each
// state a spool can be in, that it names every damaged file with its code,
// and that the folder is byte for byte the same afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "common/fake_transport.h"
#include "common/temp_dir.h"
#include "inspect.h"
#include "read_only_file_api.h"
#include "support/sha256.h"
#include "sync/intake.h"
#include "sync/spool_fixture.h"
#include "sync/sync_step.h"

namespace {

using nlohmann::json;
using qbtest::FakeTransport;
using qbtest::RecordedRequest;

constexpr const char* kOperation = "7c9e6679-7425-40de-944b-e07fc1f90ae7";

qbsync::HttpResponse answer(int status, const json& body) {
  qbsync::HttpResponse r;
  r.status = status;
  r.body = body.dump();
  return r;
}

// An error answer as the transport hands it over, envelope already read.
qbsync::HttpResponse failure(int status, const std::string& code, const std::string& field,
                             const std::string& requestId) {
  qbsync::HttpResponse r;
  r.status = status;
  r.body = "{}";
  r.error_code = code;
  r.error_field = field;
  r.request_id = requestId;
  return r;
}

constexpr const char* kRequestId = "0123456789abcdef0123456789abcdef";

json importReceipt(const std::string& status, std::size_t count) {
  json r = {{"account_id", qbtest::kAccountId}, {"operation_id", kOperation}, {"projection_only", false},
            {"record_count", count}, {"status", status}, {"target", "journal"}};
  if (status == "applied") r["data_version"] = 1;
  return r;
}

json noteReceipt(const RecordedRequest& req) {
  return {{"schema_version", 2}, {"status", "applied"}, {"action", "notes.save"},
          {"target", json::parse(req.body)["target"]}, {"account_id", nullptr}, {"changed", 1},
          {"operation_id", "3d6f0a9e-5b1c-4e2d-8f7a-9c0b1d2e3f4a"}, {"note_ref", "note-1"}};
}

// Relative path to the SHA-256 of its bytes ("<dir>" for folders), the whole tree.
void snapshotInto(const std::string& dir, const std::string& prefix, std::map<std::string, std::string>& out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[prefix + name] = "<dir>";
      snapshotInto(dir + "\\" + name, prefix + name + "\\", out);
    } else {
      out[prefix + name] = qbsync::sha256Hex(qbtest::readFileBytes(dir + "\\" + name));
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  snapshotInto(dir, "", out);
  return out;
}

void copyTree(const std::string& from, const std::string& to) {
  CreateDirectoryA(to.c_str(), nullptr);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((from + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      copyTree(from + "\\" + name, to + "\\" + name);
    } else {
      CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), TRUE);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

// Inspects under the read-only seam and checks that the tree is unchanged
// and that no write was even attempted.
json inspectUnchanged(const std::string& dir) {
  const auto before = snapshot(dir);
  json report;
  unsigned refused = 0;
  {
    qbinspect::ReadOnlyScope readOnly;
    report = qbinspect::inspect(dir);
    refused = readOnly.refused();
  }
  EXPECT_EQ(refused, 0u);
  EXPECT_EQ(snapshot(dir), before);
  return report;
}

std::vector<std::string> problemsOf(const json& scope) {
  std::vector<std::string> out;
  for (const json& p : scope["problems"]) out.push_back(p["file"].get<std::string>() + ": " + p["reason"].get<std::string>());
  return out;
}

TEST(Inspect, ReportsWhatAnEngineRunLeft) {
  qbtest::OutboxFixture fx(qbtest::journalSettings());
  for (int n = 1; n <= 4; ++n) {
    fx.write(qbtest::fillRecord(fx.settings, n, "2025-12-01T14:30:0" + std::to_string(n) + ".000000Z"));
  }
  fx.write(qbtest::orderRecord(fx.settings, 5, "2025-12-01T14:31:00.000000Z"));
  fx.write(qbtest::noteRecord(fx.settings, 6, "2025-12-01T14:32:00.000000Z", "held the runner"));
  std::size_t noteCount = 0;
  {
    auto spool = fx.open();
    ASSERT_EQ(qbsync::intakePass(*spool), 6u);
    noteCount = spool->notes.size();
    ASSERT_GE(noteCount, 2u);
    FakeTransport t;
    t.push([](const RecordedRequest&) { return answer(202, importReceipt("applied", 4)); });
    ASSERT_EQ(qbsync::syncStep(*spool, t), 250u);
    // Notes go one a step once the batches are done: the first is confirmed,
    // the second fails with a 503 and waits for its retry.
    t.push([](const RecordedRequest& req) { return answer(200, noteReceipt(req)); });
    t.push([](const RecordedRequest&) { return failure(503, "", "", kRequestId); });
    qbsync::syncStep(*spool, t);
    spool->next_note_at = 0;
    qbsync::syncStep(*spool, t);
    ASSERT_EQ(t.requests().size(), 3u);
  }
  // One more fill arrives after the run: captured, not yet taken.
  fx.write(qbtest::fillRecord(fx.settings, 7, "2025-12-01T14:40:00.000000Z"));

  json report = inspectUnchanged(fx.outbox);
  ASSERT_EQ(report["scopes"].size(), 1u);
  json& scope = report["scopes"][0];
  EXPECT_TRUE(report["clean"].get<bool>()) << report.dump(2);
  EXPECT_EQ(scope["mode"], "journal");
  EXPECT_EQ(scope["records"]["files"], 7);
  EXPECT_EQ(scope["records"]["by_kind"], (json{{"fill", 5}, {"note", 1}, {"order", 1}}));
  EXPECT_EQ(scope["records"]["taken"], 6);
  EXPECT_EQ(scope["records"]["waiting"], 1);
  EXPECT_EQ(scope["executions"], (json{{"files", 4}, {"verified", 4}, {"high_water", 4}}));
  ASSERT_EQ(scope["batches"].size(), 1u);
  EXPECT_EQ(scope["batches"][0]["state"], "applied");
  EXPECT_EQ(scope["batches"][0]["operation_id"], kOperation);
  EXPECT_EQ(scope["executions_by_batch_state"]["applied"], 4);
  EXPECT_EQ(scope["notes"]["delivered"], 1);
  EXPECT_EQ(scope["notes"]["pending"], noteCount - 1);
  EXPECT_EQ(scope["notes"]["pending_notes"][0]["error"]["http_status"], 503);
  EXPECT_EQ(scope["notes"]["pending_notes"][0]["error"]["request_id"], kRequestId);

  const std::string text = qbinspect::renderText(report);
  EXPECT_NE(text.find("executions journaled: 4 verified of 4 (high-water 4)"), std::string::npos) << text;
  EXPECT_NE(text.find("1 scope(s), 0 problem(s)"), std::string::npos) << text;
}

TEST(Inspect, NamesEachBatchStateWithItsCodesAndRequestIds) {
  struct Case {
    const char* name;
    std::function<qbsync::HttpResponse(const RecordedRequest&)> answer;
    const char* state;
    const char* status;
  };
  const Case cases[] = {
      {"frozen after a crash", nullptr, "pending", "frozen"},
      {"processing", [](const RecordedRequest&) { return answer(202, importReceipt("processing", 2)); }, "pending",
       "processing"},
      {"blocked", [](const RecordedRequest&) { return answer(202, importReceipt("blocked", 2)); }, "blocked",
       "blocked"},
      {"rejected",
       [](const RecordedRequest&) { return failure(422, "INVALID_SIDE", "executions[1].side", kRequestId); },
       "rejected", "frozen"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qbtest::OutboxFixture fx(qbtest::journalSettings());
    fx.write(qbtest::fillRecord(fx.settings, 1, "2025-12-01T14:30:01.000000Z"));
    fx.write(qbtest::fillRecord(fx.settings, 2, "2025-12-01T14:30:02.000000Z"));
    std::string key;
    {
      auto spool = fx.open();
      ASSERT_EQ(qbsync::intakePass(*spool), 2u);
      FakeTransport t;
      if (c.answer) t.push(c.answer);
      try {
        qbsync::syncStep(*spool, t);  // no answer at all: the batch stays as the crash left it
      } catch (const std::exception&) {
      }
      ASSERT_EQ(spool->batches.size(), 1u);
      key = spool->batches[0].key;
    }
    json report = inspectUnchanged(fx.outbox);
    json& batch = report["scopes"][0]["batches"][0];
    EXPECT_EQ(batch["state"], c.state);
    EXPECT_EQ(batch["status"], c.status);
    EXPECT_EQ(batch["request_key"], key);
    EXPECT_EQ(batch["first_sequence"], 1);
    EXPECT_EQ(batch["last_sequence"], 2);
    EXPECT_EQ(report["scopes"][0]["executions_by_batch_state"][c.state], 2);
    if (std::string(c.state) == "rejected") {
      EXPECT_EQ(batch["error"]["http_status"], 422);
      EXPECT_EQ(batch["error"]["code"], "INVALID_SIDE");
      EXPECT_EQ(batch["error"]["field"], "executions[1].side");
      EXPECT_EQ(batch["error"]["request_id"], kRequestId);
    }
    // Batch states are what the engine left, not faults of the files.
    EXPECT_TRUE(report["clean"].get<bool>()) << report.dump(2);
  }
}

// A healthy applied spool, then copies with one fault each.
TEST(Inspect, ReportsEveryDamagedFileWithItsReason) {
  qbtest::OutboxFixture fx(qbtest::journalSettings());
  for (int n = 1; n <= 3; ++n) {
    fx.write(qbtest::fillRecord(fx.settings, n, "2025-12-01T14:30:0" + std::to_string(n) + ".000000Z"));
  }
  {
    auto spool = fx.open();
    ASSERT_EQ(qbsync::intakePass(*spool), 3u);
    FakeTransport t;
    t.push([](const RecordedRequest&) { return answer(202, importReceipt("applied", 3)); });
    ASSERT_EQ(qbsync::syncStep(*spool, t), 250u);
  }
  ASSERT_TRUE(inspectUnchanged(fx.outbox)["clean"].get<bool>());

  const std::string e2 = "native-sync\\e-00000000000000000002.json";
  const std::string receipt = "native-sync\\b-00000000000000000001.json.receipt.json";
  struct Case {
    const char* name;
    std::function<void(const std::string& dir)> damage;
    std::vector<std::string> expected;  // each "file: reason", in report order
  };
  const Case cases[] = {
      {"a price digit of a journaled execution",
       [&](const std::string& dir) {
         std::string bytes = qbtest::readFileBytes(dir + "\\" + e2);
         const auto at = bytes.find("6012.25");
         ASSERT_NE(at, std::string::npos);
         bytes.replace(at, 7, "6012.75");
         qbtest::writeFileBytes(dir + "\\" + e2, bytes);
       },
       // The entry fails, and so does the batch over it; e-3 still verifies.
       {e2 + ": EXECUTION_CORRUPT", "native-sync\\b-00000000000000000001.json: BATCH_CORRUPT"}},
      {"a truncated receipt",
       [&](const std::string& dir) {
         const std::string bytes = qbtest::readFileBytes(dir + "\\" + receipt);
         qbtest::writeFileBytes(dir + "\\" + receipt, bytes.substr(0, bytes.size() / 2));
       },
       {receipt + ": INVALID_JSON"}},
      {"a foreign file in the spool and one in the outbox",
       [](const std::string& dir) {
         qbtest::writeFileBytes(dir + "\\native-sync\\notes.txt", "x");
         qbtest::writeFileBytes(dir + "\\ABCDEF.json", "{}");
       },
       {"ABCDEF.json: foreign file: not written by the collector; the sender ignores it",
        "native-sync\\notes.txt: foreign file: not written by the sender; the sender ignores it"}},
      {"a missing execution in the middle",
       [&](const std::string& dir) { DeleteFileA((dir + "\\" + e2).c_str()); },
       {"native-sync\\e-00000000000000000003.json: EXECUTION_SEQUENCE_GAP",
        "native-sync\\high-water.json: EXECUTION_JOURNAL_TRUNCATED",
        "native-sync\\b-00000000000000000001.json: BATCH_CORRUPT"}},
      {"an outbox record changed after it was taken",
       [&](const std::string& dir) {
         const std::string name = qbtest::eventIdFor(1) + ".json";
         json record = json::parse(qbtest::readFileBytes(dir + "\\" + name));
         record["quantity"] = "3";
         qbtest::writeFileBytes(dir + "\\" + name, record.dump());
       },
       {qbtest::eventIdFor(1) + ".json: EVENT_ID_CONFLICT"}},
      {"a manifest of another schema",
       [](const std::string& dir) {
         const std::string path = dir + "\\native-sync\\manifest.json";
         json manifest = json::parse(qbtest::readFileBytes(path));
         manifest["schema_version"] = 2;
         qbtest::writeFileBytes(path, manifest.dump());
       },
       {"native-sync\\manifest.json: SPOOL_BINDING_MISMATCH"}},
      {"a manifest bound to another account",
       [](const std::string& dir) {
         const std::string path = dir + "\\native-sync\\manifest.json";
         json manifest = json::parse(qbtest::readFileBytes(path));
         manifest["binding"]["account_id"] = "11111111-2222-4333-8444-555555555555";
         qbtest::writeFileBytes(path, manifest.dump());
       },
       // The batch body and its receipt name the account the spool was made for.
       {"native-sync\\b-00000000000000000001.json: BATCH_CORRUPT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = qbtest::freshTempDir("inspect-damaged");
    copyTree(fx.outbox, copy);
    c.damage(copy);
    json report = inspectUnchanged(copy);
    EXPECT_FALSE(report["clean"].get<bool>());
    EXPECT_EQ(problemsOf(report["scopes"][0]), c.expected) << report.dump(2);
  }
}

// A manifest copied into the scope folder of another source: the folder
// name is the digest of the source the collector writes for.
TEST(Inspect, ForeignManifestInAnotherScopeFolder) {
  qbtest::OutboxFixture fx(qbtest::journalSettings());
  fx.write(qbtest::fillRecord(fx.settings, 1, "2025-12-01T14:30:01.000000Z"));
  { ASSERT_EQ(qbsync::intakePass(*fx.open()), 1u); }
  const std::string root = qbtest::freshTempDir("inspect-foreign");
  const std::string scope = root + "\\" + std::string(64, 'a');
  copyTree(fx.outbox, scope);
  json report = inspectUnchanged(scope);
  EXPECT_EQ(problemsOf(report["scopes"][0]),
            (std::vector<std::string>{"native-sync\\manifest.json: SOURCE_BINDING_MISMATCH: the manifest binds "
                                      "another source than this scope folder's"}));
}

}  // namespace
