// Frozen batches and their receipts, against a scripted transport.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "common/fake_transport.h"
#include "common/temp_dir.h"
#include "service/api_errors.h"
#include "support/sha256.h"
#include "sync/batches.h"
#include "sync/intake.h"
#include "sync/record_fields.h"
#include "sync/spool_fixture.h"
#include "sync/sync_step.h"

namespace {

using qbtest::FakeTransport;
using qbtest::OutboxFixture;
using qbtest::RecordedRequest;

constexpr const char* kOperation = "7c9e6679-7425-40de-944b-e07fc1f90ae7";

std::string timeAt(int n) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "2025-12-01T14:%02d:%02d.000000Z", n / 60, n % 60);
  return buffer;
}

std::size_t executionsIn(const std::string& body) { return nlohmann::json::parse(body)["executions"].size(); }

qbsync::HttpResponse answer(int status, const nlohmann::json& body) {
  qbsync::HttpResponse r;
  r.status = status;
  r.body = body.dump();
  return r;
}

nlohmann::json journalReceipt(const std::string& status, std::size_t count, const std::string& op = kOperation) {
  nlohmann::json r = {{"account_id", qbtest::kAccountId}, {"operation_id", op}, {"projection_only", false},
                      {"record_count", count}, {"status", status}, {"target", "journal"}};
  if (status == "applied") r["data_version"] = 3;
  return r;
}

nlohmann::json nativeReceipt(const RecordedRequest& req) {
  static int n = 0;
  char op[40];
  std::snprintf(op, sizeof op, "7c9e6679-7425-40de-944b-%012d", ++n);
  return {{"account_id", qbtest::kAccountId}, {"operation_id", op},
          {"protocol", 1},                    {"record_count", executionsIn(req.body)},
          {"request_sha256", qbsync::sha256Hex(req.body)}, {"status", "applied"}};
}

struct Journaled {
  explicit Journaled(qbsync::ConnectionSettings s, int fills) : fx(std::move(s)) {
    for (int n = 1; n <= fills; ++n) fx.write(qbtest::fillRecord(fx.settings, n, timeAt(n)));
    spool = fx.open();
    EXPECT_EQ(qbsync::intakePass(*spool), static_cast<std::size_t>(fills));
  }
  OutboxFixture fx;
  std::unique_ptr<qbsync::NativeSpool> spool;
};

std::string failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const qbsync::NativeApiError& e) {
    return qbsync::rejectionMessage(e);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Batches, BatchesFormOneAfterAnotherAtTheirBoundaries) {
  qbsync::ConnectionSettings s = qbtest::nativeSettings();
  s.batch_size = 100;
  Journaled j(s, 250);
  FakeTransport t;
  t.setFallback([](const RecordedRequest& req) { return answer(200, nativeReceipt(req)); });
  for (int step = 0; step < 3; ++step) {
    EXPECT_EQ(qbsync::syncStep(*j.spool, t), 250u);
    ASSERT_EQ(j.spool->batches.size(), static_cast<std::size_t>(step + 1));  // one forms only after the last applied
  }
  const struct {
    const char* name;
    std::uint64_t first, count;
  } expected[] = {{"b-00000000000000000001.json", 0, 100},
                  {"b-00000000000000000101.json", 100, 100},
                  {"b-00000000000000000201.json", 200, 50}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i].name);
    const nlohmann::json frozen = nlohmann::json::parse(qbtest::readFileBytes(j.fx.spoolFile(expected[i].name)));
    EXPECT_EQ(frozen["first"], expected[i].first);
    EXPECT_EQ(frozen["count"], expected[i].count);
    EXPECT_EQ(frozen["body"], t.requests()[i].body);
    EXPECT_EQ(frozen["key"], t.requests()[i].key);
    EXPECT_TRUE(qbtest::fileExists(j.fx.spoolFile(std::string(expected[i].name) + ".receipt.json")));
  }
  EXPECT_EQ(qbsync::statusSummary(*j.spool), "Captured 250; applied 250; pending notes 0");
  // Nothing left: the step lets note delivery run.
  EXPECT_EQ(qbsync::syncStep(*j.spool, t), 250u);
  EXPECT_EQ(t.requests().size(), 3u);

  // A new run reloads and re-verifies every batch and receipt.
  j.spool.reset();
  auto again = j.fx.open();
  EXPECT_EQ(again->batches.size(), 3u);
  EXPECT_EQ(qbsync::statusSummary(*again), "Captured 250; applied 250; pending notes 0");
}

TEST(Batches, JournalImportIsPolledUntilApplied) {
  Journaled j(qbtest::journalSettings(), 2);
  FakeTransport t;
  t.push([](const RecordedRequest&) { return answer(202, journalReceipt("processing", 2)); });
  t.push([](const RecordedRequest&) { return answer(200, journalReceipt("applied", 2)); });
  EXPECT_EQ(qbsync::syncStep(*j.spool, t), 1000u);
  EXPECT_EQ(qbsync::syncStep(*j.spool, t), 250u);
  const auto requests = t.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/api/v2/journal/execution-batches");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].path, std::string("/api/v2/journal/execution-imports/") + kOperation);
  EXPECT_EQ(requests[1].key, "");
  EXPECT_EQ(j.spool->batches[0].status, "applied");
}

TEST(Batches, RejectionsStopWithTheirExplanation) {
  struct Case {
    const char* name;
    qbsync::HttpResponse response;
    const char* message;
  };
  qbsync::HttpResponse ok200 = answer(200, journalReceipt("applied", 2));
  qbsync::HttpResponse invalid;
  invalid.status = 422;
  invalid.error_code = "INVALID_SIDE";
  invalid.error_field = "executions[3].side";
  invalid.request_id = "0123456789abcdef0123456789abcdef";
  const std::vector<Case> cases = {
      {"journal submit answered 200", ok200, "Import rejected (HTTP 200). Saved records are retained; sync is stopped."},
      {"invalid side", invalid,
       "Import rejected (HTTP 422): INVALID_SIDE at executions[3].side. Saved records are retained; sync is stopped."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Journaled j(qbtest::journalSettings(), 2);
    FakeTransport t;
    t.push([r = c.response](const RecordedRequest&) { return r; });
    EXPECT_EQ(failureOf([&] { qbsync::syncStep(*j.spool, t); }), c.message);
    EXPECT_TRUE(qbtest::fileExists(j.fx.spoolFile("b-00000000000000000001.json.error.json")));
  }
  Journaled j(qbtest::journalSettings(), 2);
  FakeTransport t;
  t.push([r = invalid](const RecordedRequest&) { return r; });
  failureOf([&] { qbsync::syncStep(*j.spool, t); });
  EXPECT_EQ(nlohmann::json::parse(qbtest::readFileBytes(j.fx.spoolFile("b-00000000000000000001.json.error.json"))),
            (nlohmann::json{{"code", "INVALID_SIDE"},
                            {"field", "executions[3].side"},
                            {"http_status", 422},
                            {"request_id", "0123456789abcdef0123456789abcdef"}}));
}

TEST(Batches, ReceiptsThatCannotBeTrustedStopSync) {
  struct Case {
    const char* name;
    bool native;
    std::function<void(nlohmann::json&)> change;
    const char* code;
  };
  const std::vector<Case> cases = {
      {"projection only", false, [](auto& r) { r["projection_only"] = true; }, "PROJECTION_ONLY_RECEIPT"},
      {"projection flag absent", false, [](auto& r) { r.erase("projection_only"); }, "PROJECTION_ONLY_RECEIPT"},
      {"data version 0", false, [](auto& r) { r["data_version"] = 0; }, "INVALID_PUBLICATION_VERSION"},
      {"another account", false, [](auto& r) { r["account_id"] = "00000000-1111-4222-8333-444444444444"; },
       "INVALID_IMPORT_RECEIPT"},
      {"record count off by one", false, [](auto& r) { r["record_count"] = 3; }, "INVALID_IMPORT_RECEIPT"},
      {"unknown status", false, [](auto& r) { r["status"] = "done"; }, "INVALID_IMPORT_RECEIPT"},
      {"target missing", false, [](auto& r) { r.erase("target"); }, "INVALID_OBSERVATION_FIELD"},
      {"blocked", false, [](auto& r) { r["status"] = "blocked"; }, "IMPORT_BLOCKED_RECONCILIATION_REQUIRED"},
      {"native still processing", true, [](auto& r) { r["status"] = "processing"; }, "INVALID_IMPORT_RECEIPT"},
      {"native digest of other bytes", true, [](auto& r) { r["request_sha256"] = std::string(64, 'a'); },
       "INVALID_IMPORT_RECEIPT"},
      {"native operation id nil", true,
       [](auto& r) { r["operation_id"] = "00000000-0000-0000-0000-000000000000"; }, "INVALID_IMPORT_RECEIPT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Journaled j(c.native ? qbtest::nativeSettings() : qbtest::journalSettings(), 2);
    FakeTransport t;
    t.push([&c](const RecordedRequest& req) {
      nlohmann::json r = c.native ? nativeReceipt(req) : journalReceipt("applied", 2);
      c.change(r);
      return answer(c.native ? 200 : 202, r);
    });
    EXPECT_EQ(failureOf([&] { qbsync::syncStep(*j.spool, t); }), c.code);
    EXPECT_NE(j.spool->batches.at(0).status, "applied");
  }
}

TEST(Batches, BlockedImportStaysBlockedAfterRestart) {
  Journaled j(qbtest::journalSettings(), 2);
  FakeTransport t;
  t.push([](const RecordedRequest&) { return answer(202, journalReceipt("blocked", 2)); });
  EXPECT_EQ(failureOf([&] { qbsync::syncStep(*j.spool, t); }), "IMPORT_BLOCKED_RECONCILIATION_REQUIRED");
  j.spool.reset();
  auto again = j.fx.open();
  EXPECT_EQ(failureOf([&] { qbsync::syncStep(*again, t); }), "IMPORT_BLOCKED_RECONCILIATION_REQUIRED");
  EXPECT_EQ(t.requests().size(), 1u);
}

TEST(Batches, PendingSequenceShowsTheServiceCode) {
  Journaled j(qbtest::journalSettings(), 2);
  FakeTransport t;
  t.push([](const RecordedRequest&) {
    nlohmann::json r = journalReceipt("waiting_for_sequence", 2);
    r["application_error"] = {{"code", "SOURCE_SEQUENCE_GAP"}};
    return answer(202, r);
  });
  EXPECT_EQ(qbsync::syncStep(*j.spool, t), 1000u);
  EXPECT_EQ(j.spool->batch_detail, "APPLICATION_PENDING_SOURCE_SEQUENCE_GAP");
  EXPECT_EQ(qbsync::statusSummary(*j.spool),
            "Captured 2; applied 0; pending notes 0; APPLICATION_PENDING_SOURCE_SEQUENCE_GAP");
}

TEST(Batches, RetryableFailuresResendTheSameBytesUnderTheSameKey) {
  Journaled j(qbtest::nativeSettings(), 3);
  FakeTransport t;
  t.push(503, "", 120);
  t.push(0);
  t.setFallback([](const RecordedRequest& req) { return answer(200, nativeReceipt(req)); });
  const std::uint64_t first = qbsync::syncStep(*j.spool, t);
  EXPECT_GE(first, 120000u);
  EXPECT_LE(first, 120250u);
  EXPECT_EQ(j.spool->batch_detail, "RETRY_HTTP_503");
  const std::uint64_t second = qbsync::syncStep(*j.spool, t);
  EXPECT_GE(second, 2000u);  // second consecutive failure
  EXPECT_LE(second, 2250u);
  // A crash before the answer: the next run sends the frozen batch again.
  j.spool.reset();
  auto again = j.fx.open();
  EXPECT_EQ(qbsync::syncStep(*again, t), 250u);
  const auto requests = t.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].key, requests[2].key);
  EXPECT_EQ(requests[0].body, requests[2].body);
  EXPECT_EQ(again->failure_count, 0u);
  EXPECT_TRUE(again->batch_detail.empty());
}

TEST(Batches, AFrozenBatchMustStayReadableByLaterStarts) {
  // Bodies dense in characters that the frozen file escapes again: the
  // batch shrinks until its frozen file fits what the journal load reads.
  qbsync::ConnectionSettings s = qbtest::nativeSettings();
  s.batch_size = 500;
  OutboxFixture fx(s);
  for (int n = 1; n <= 200; ++n) {
    nlohmann::json r = qbtest::fillRecord(fx.settings, n, timeAt(n));
    r["instrument_metadata"]["trade_service"] = std::string(3000, '"');
    fx.write(r);
  }
  auto spool = fx.open();
  ASSERT_EQ(qbsync::intakePass(*spool), 200u);
  FakeTransport t;
  t.setFallback([](const RecordedRequest& req) { return answer(200, nativeReceipt(req)); });
  qbsync::syncStep(*spool, t);
  ASSERT_EQ(spool->batches.size(), 1u);
  EXPECT_LT(spool->batches[0].count, 200u);
  EXPECT_LE(qbtest::readFileBytes(spool->batches[0].path).size(), 1048576u);
  spool.reset();
  EXPECT_NO_THROW(fx.open());
}

}  // namespace
