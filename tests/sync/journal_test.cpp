// The spool and its journal: intake turns outbox records into gap-free
// executions, and every later open re-verifies all of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "common/temp_dir.h"
#include "storage/durable_file.h"
#include "sync/intake.h"
#include "sync/native_spool.h"
#include "sync/record_fields.h"
#include "sync/spool_fixture.h"

namespace {

using qbtest::eventIdFor;
using qbtest::fillRecord;
using qbtest::OutboxFixture;

std::string expectCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

std::string timeAt(int second) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "2025-12-01T14:30:%02d.000000Z", second);
  return buffer;
}

TEST(Journal, FillsBecomeGapFreeExecutionsInTimeOrder) {
  OutboxFixture fx(qbtest::journalSettings());
  // Names sort in the opposite order of the times, so listing order cannot help.
  const int times[] = {50, 10, 40, 20, 30, 0};
  for (int n = 1; n <= 6; ++n) fx.write(fillRecord(fx.settings, n, timeAt(times[n - 1])));
  fx.write(qbtest::orderRecord(fx.settings, 7, timeAt(10)));

  auto spool = fx.open();
  EXPECT_EQ(qbsync::intakePass(*spool), 7u);
  ASSERT_EQ(spool->executions.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(spool->executions[i].execution["source_sequence"], std::to_string(i + 1));
    EXPECT_EQ(spool->executions[i].execution["executed_at"], timeAt(static_cast<int>(i) * 10));
    EXPECT_TRUE(qbtest::fileExists(fx.spoolFile("e-" + qbsync::sequenceDigits(i + 1) + ".json")));
  }
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("high-water.json")), "{\"sequence\":6}");
  EXPECT_EQ(qbsync::intakePass(*spool), 0u);
  const std::string first = qbtest::readFileBytes(fx.spoolFile("e-00000000000000000003.json"));
  spool.reset();

  // A second run re-verifies everything and derives nothing new.
  auto again = fx.open();
  EXPECT_EQ(again->executions.size(), 6u);
  EXPECT_EQ(again->observations.size(), 7u);
  EXPECT_EQ(qbsync::intakePass(*again), 0u);
  EXPECT_EQ(again->executions.size(), 6u);
  EXPECT_FALSE(qbtest::fileExists(fx.spoolFile("e-00000000000000000007.json")));
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("e-00000000000000000003.json")), first);
}

TEST(Journal, FirstOpenCreatesTheBindingFiles) {
  OutboxFixture fx(qbtest::journalSettings());
  auto spool = fx.open();
  for (const char* name : {"writer.lock", "manifest.json", "high-water.json", "mapping.json"}) {
    EXPECT_TRUE(qbtest::fileExists(fx.spoolFile(name))) << name;
  }
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("high-water.json")), "{\"sequence\":0}");
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("mapping.json")),
            "{\"asset_type\":\"future\",\"commission_per_unit\":\"1.25\",\"currency\":\"USD\",\"fees_per_unit\":"
            "\"0.5\",\"symbol\":\"ES 12-25\"}");
  const std::string manifest = qbtest::readFileBytes(fx.spoolFile("manifest.json"));
  spool.reset();
  fx.open();
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("manifest.json")), manifest);
}

TEST(Journal, SecondWriterIsRefused) {
  OutboxFixture fx(qbtest::journalSettings());
  auto first = fx.open();
  EXPECT_EQ(expectCode([&] { fx.open(); }), "SPOOL_IN_USE");
  first.reset();
  EXPECT_NO_THROW(fx.open());
}

// Each case journals three fills, then damages the spool or outbox in one way;
// the next open (or intake) must stop with the code and leave the file alone.
struct DamageCase {
  const char* name;
  const char* code;
  std::function<void(OutboxFixture&)> damage;
  std::string touched;  // file whose bytes must survive
};

TEST(Journal, DamagedSpoolStopsWithItsCodeAndKeepsTheFiles) {
  auto replaceIn = [](const std::string& path, const std::string& from, const std::string& to) {
    std::string bytes = qbtest::readFileBytes(path);
    const std::size_t at = bytes.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    bytes.replace(at, from.size(), to);
    qbtest::writeFileBytes(path, bytes);
  };
  const std::string e2 = "e-00000000000000000002.json";
  const std::vector<DamageCase> cases = {
      {"price digit changed in an execution", "EXECUTION_CORRUPT",
       [&](OutboxFixture& fx) { replaceIn(fx.spoolFile(e2), "\"native_price\":\"6012.25\"", "\"native_price\":\"6012.26\""); },
       e2},
      {"middle execution missing", "EXECUTION_SEQUENCE_GAP",
       [&](OutboxFixture& fx) { DeleteFileA(fx.spoolFile(e2).c_str()); }, "e-00000000000000000003.json"},
      {"high-water above the entries", "EXECUTION_JOURNAL_TRUNCATED",
       [](OutboxFixture& fx) { qbtest::writeFileBytes(fx.spoolFile("high-water.json"), "{\"sequence\":4}"); },
       "high-water.json"},
      {"high-water missing", "EXECUTION_HIGH_WATER_MISSING",
       [](OutboxFixture& fx) { DeleteFileA(fx.spoolFile("high-water.json").c_str()); }, e2},
      {"foreign manifest", "SPOOL_BINDING_MISMATCH",
       [](OutboxFixture& fx) { fx.settings.commission_per_unit = "1.5"; }, "manifest.json"},
      {"upper-case client id", "MISSING_CLIENT_IDENTITY",
       [&](OutboxFixture& fx) {
         std::string m = qbtest::readFileBytes(fx.spoolFile("manifest.json"));
         const std::size_t at = m.find("client_instance_id\":\"") + 21;
         for (std::size_t i = at; i < at + 36; ++i) m[i] = static_cast<char>(toupper(m[i]));
         qbtest::writeFileBytes(fx.spoolFile("manifest.json"), m);
       },
       "manifest.json"},
      {"entries without manifest", "MISSING_MANIFEST",
       [](OutboxFixture& fx) { DeleteFileA(fx.spoolFile("manifest.json").c_str()); }, e2},
      {"legacy delivery marker", "LEGACY_DELIVERY_MAPPING_REQUIRES_RECONCILIATION",
       [](OutboxFixture& fx) { qbtest::writeFileBytes(fx.outbox + "\\.delivery-binding", "x"); }, e2},
      {"marker with a malformed hash", "OBSERVATION_CORRUPT",
       [](OutboxFixture& fx) {
         qbtest::writeFileBytes(fx.spoolFile("o-" + eventIdFor(1) + ".json"), "{\"hash\":\"XYZ\"}");
       },
       "o-" + eventIdFor(1) + ".json"},
      {"record renamed to another event", "EVENT_FILENAME_MISMATCH",
       [](OutboxFixture& fx) { fx.write(fillRecord(fx.settings, 9, timeAt(9)), eventIdFor(8) + ".json"); },
       e2},
      {"record of another schema", "INVALID_OBSERVATION_SCHEMA",
       [](OutboxFixture& fx) {
         nlohmann::json r = fillRecord(fx.settings, 9, timeAt(9));
         r["schema_version"] = 2;
         fx.write(r);
       },
       e2},
      {"taken record whose bytes changed", "EVENT_ID_CONFLICT",
       [](OutboxFixture& fx) {
         nlohmann::json r = fillRecord(fx.settings, 1, timeAt(1));
         r["note"] = "edited";
         fx.write(r);
       },
       e2},
      // A record nested to the reader's depth was journaled, and its entry,
      // one level deeper, then refused every later open of the spool.
      {"fill nested as deep as the journal reads", "INVALID_JSON",
       [](OutboxFixture& fx) {
         nlohmann::json r = fillRecord(fx.settings, 9, timeAt(9));
         nlohmann::json nested = nlohmann::json::array();
         for (int level = 3; level <= 64; ++level) nested = nlohmann::json::array({nested});
         r["zz_nested"] = nested;  // levels 2 to 64 of the record
         fx.write(r);
       },
       e2},
      {"journaled fill back with another price", "NATIVE_FILL_ECONOMICS_CONFLICT",
       [](OutboxFixture& fx) {
         nlohmann::json r = fillRecord(fx.settings, 2, timeAt(2), "6013");
         r["event_id"] = eventIdFor(20);
         fx.write(r);
       },
       e2},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    OutboxFixture fx(qbtest::journalSettings());
    for (int n = 1; n <= 3; ++n) fx.write(fillRecord(fx.settings, n, timeAt(n)));
    {
      auto spool = fx.open();
      ASSERT_EQ(qbsync::intakePass(*spool), 3u);
    }
    c.damage(fx);
    const std::string path = fx.spoolFile(c.touched);
    const std::string before = qbtest::readFileBytes(path);
    const std::string code = expectCode([&] {
      auto spool = fx.open();
      qbsync::intakePass(*spool);
    });
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(qbtest::readFileBytes(path), before);
  }
}

TEST(Journal, FillsOfOneTimeNeedDistinctHostPositions) {
  {
    OutboxFixture fx(qbtest::journalSettings());
    fx.write(fillRecord(fx.settings, 1, timeAt(5), "6012.25", 1));
    fx.write(fillRecord(fx.settings, 2, timeAt(5), "6012.5", 0));
    auto spool = fx.open();
    ASSERT_EQ(qbsync::intakePass(*spool), 2u);
    EXPECT_EQ(spool->executions[0].execution["native_price"], "6012.5");  // host position 0 first
  }
  {
    OutboxFixture fx(qbtest::journalSettings());
    fx.write(fillRecord(fx.settings, 1, timeAt(5), "6012.25", -1));
    fx.write(fillRecord(fx.settings, 2, timeAt(5), "6012.5", -1));
    auto spool = fx.open();
    EXPECT_EQ(expectCode([&] { qbsync::intakePass(*spool); }), "AMBIGUOUS_FILL_ORDER");
    EXPECT_TRUE(spool->executions.empty());
  }
}

TEST(Journal, CrashBetweenEntryAndMarkerIsCompletedWithoutASecondEntry) {
  OutboxFixture fx(qbtest::journalSettings());
  fx.write(fillRecord(fx.settings, 1, timeAt(1)));
  {
    auto spool = fx.open();
    ASSERT_EQ(qbsync::intakePass(*spool), 1u);
  }
  const std::string marker = fx.spoolFile("o-" + eventIdFor(1) + ".json");
  ASSERT_TRUE(DeleteFileA(marker.c_str()));
  auto spool = fx.open();
  EXPECT_EQ(qbsync::intakePass(*spool), 1u);
  EXPECT_EQ(spool->executions.size(), 1u);
  EXPECT_TRUE(qbtest::fileExists(marker));
  EXPECT_FALSE(qbtest::fileExists(fx.spoolFile("e-00000000000000000002.json")));
}

TEST(Journal, SameFillUnderANewEventIdIsMarkedNotJournaled) {
  OutboxFixture fx(qbtest::journalSettings());
  fx.write(fillRecord(fx.settings, 1, timeAt(1)));
  auto spool = fx.open();
  ASSERT_EQ(qbsync::intakePass(*spool), 1u);
  nlohmann::json again = fillRecord(fx.settings, 1, timeAt(1));
  again["event_id"] = eventIdFor(77);
  again["native_fill_index"] = 1;  // only the host position differs
  fx.write(again);
  EXPECT_EQ(qbsync::intakePass(*spool), 1u);
  EXPECT_EQ(spool->executions.size(), 1u);
  EXPECT_TRUE(qbtest::fileExists(fx.spoolFile("o-" + eventIdFor(77) + ".json")));
}

TEST(Journal, RetentionAndDiskLimits) {
  OutboxFixture fx(qbtest::journalSettings());
  fx.settings.maximum_events = 2;
  for (int n = 1; n <= 2; ++n) fx.write(fillRecord(fx.settings, n, timeAt(n)));
  auto spool = fx.open();
  ASSERT_EQ(qbsync::intakePass(*spool), 2u);
  fx.write(fillRecord(fx.settings, 3, timeAt(3)));
  EXPECT_EQ(expectCode([&] { qbsync::intakePass(*spool); }), "EVENT_RETENTION_LIMIT");
  spool.reset();

  // 8 MiB budget: a spool of 6 MiB leaves no room once the 2 MiB headroom is kept.
  OutboxFixture disk(qbtest::journalSettings());
  disk.settings.maximum_state_mb = 8;
  auto s = disk.open();
  const std::uint64_t used = qbsync::directorySize(s->spool_dir);
  qbtest::writeFileBytes(disk.spoolFile("filler.bin"), std::string(6 * 1048576 - used - 1, 'x'));
  s->size_checked_at = 0;
  EXPECT_NO_THROW(s->reserveSpace(0));
  s->size_checked_at = 0;
  EXPECT_EQ(expectCode([&] { s->reserveSpace(1); }), "STATE_DISK_LIMIT");
}

TEST(Journal, StopDuringLoadEndsItBeforeHighWaterIsTouched) {
  OutboxFixture fx(qbtest::journalSettings());
  for (int n = 1; n <= 3; ++n) fx.write(fillRecord(fx.settings, n, timeAt(n)));
  {
    auto spool = fx.open();
    ASSERT_EQ(qbsync::intakePass(*spool), 3u);
  }
  qbtest::writeFileBytes(fx.spoolFile("high-water.json"), "{\"sequence\":2}");
  EXPECT_EQ(expectCode([&] { fx.open([] { return true; }); }), "SYNC_STOPPED");
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("high-water.json")), "{\"sequence\":2}");
  fx.open();
  EXPECT_EQ(qbtest::readFileBytes(fx.spoolFile("high-water.json")), "{\"sequence\":3}");
}

}  // namespace
