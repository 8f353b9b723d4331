#include "collector/fill_phase.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "collector/collector_fixture.h"
#include "collector/fake_study_host.h"
#include "storage/durable_file.h"
#include "support/sha256.h"
#include "support/timestamp.h"

namespace qbtest {
namespace {

using qbsync::FillPhaseInputs;
using qbsync::runFillPhase;

const char kMetadata[] = "{\"chart_symbol\":\"ESZ25\",\"source_symbol\":\"ESZ25\"}";

class FillPhaseTest : public CollectorFixture {
 protected:
  FillPhaseTest() {
    inputs_.account = "Sim1";
    inputs_.symbol = "ESZ25";
    inputs_.simulation = true;
    inputs_.metadataText = kMetadata;
    inputs_.maxFills = 20000;
  }

  // A fill at 2025-01-02 09:30:00.123456 chart time (14:30:00.123456 UTC).
  FakeFill fill(const std::string& serviceId, std::uint64_t orderId = 1001) const {
    FakeFill f;
    f.serviceExecutionId = serviceId;
    f.internalOrderId = orderId;
    f.fillTime = (qbsync::daysFromCivil(2025, 1, 2) - qbsync::daysFromCivil(1899, 12, 30)) * 86400000000LL +
                 (9 * 3600 + 30 * 60) * 1000000LL + 123456;
    return f;
  }

  std::optional<qbsync::CaptureCandidate> poll() { return runFillPhase(host_.host(), state_, inputs_); }

  std::string pollError() {
    try {
      poll();
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "<none>";
  }

  std::size_t recordCount() const { return qbsync::listFiles(state_.outboxDir, "*.json").size(); }

  std::string eventId(const std::string& nativeId, const std::string& fragment) const {
    return qbsync::sha256Hex(state_.scopeDigest + "|fill|\"" + nativeId + "\"" + fragment);
  }

  FakeStudyHost host_;
  FillPhaseInputs inputs_;
};

const char kFragment[] =
    ",\"executed_at\":\"2025-01-02T14:30:00.123456Z\",\"side\":\"buy\",\"quantity\":\"1\",\"price\":\"6000.25\"";

TEST_F(FillPhaseTest, WritesTheExactFillRecord) {
  FakeFill f = fill("X-1");
  f.note = "tab\there";
  f.positionQuantity = -2;
  f.serviceOrderId = "SO\"9";
  f.internalOrderId = 18446744073709551615ULL;
  host_.fills = {f};
  EXPECT_FALSE(poll().has_value());

  const std::string id = eventId("X-1", kFragment);
  const std::string expected =
      header(id) + ",\"kind\":\"fill\",\"native_fill_id\":\"X-1\"" + kFragment +
      ",\"native_fill_index\":0,\"identity_quality\":\"service\",\"internal_order_id\":\"18446744073709551615\","
      "\"service_order_id\":\"SO\\\"9\",\"position_quantity\":\"-2\",\"note\":\"tab\\there\","
      "\"instrument_metadata\":" +
      kMetadata + ",\"source_chart_timezone\":\"America/New_York\"}\n";
  EXPECT_EQ(readBytes(file(id + ".json")), expected);
  EXPECT_EQ(host_.zonesAsked, std::vector<std::string>({"UTC+00"}));
}

TEST_F(FillPhaseTest, FallbackIdHashesOrderIdAndFragmentWhenAllowed) {
  host_.fills = {fill("", 42)};
  EXPECT_EQ(pollError(),
            "Fill has no service execution ID. Enable local fallback IDs only after reviewing session and duplicate "
            "limitations.");
  EXPECT_EQ(recordCount(), 0u);

  inputs_.allowLocalFillIds = true;
  poll();
  const std::string nativeId = "fallback:" + qbsync::sha256Hex(std::string("42") + kFragment);
  const std::string record = readBytes(file(eventId(nativeId, kFragment) + ".json"));
  EXPECT_NE(record.find(",\"native_fill_id\":\"" + nativeId + "\","), std::string::npos) << record;
  EXPECT_NE(record.find(",\"identity_quality\":\"local_fallback\","), std::string::npos);
}

TEST_F(FillPhaseTest, EventIdIgnoresIndexNoteAndMetadata) {
  host_.fills = {fill("X1"), fill("X2")};
  poll();
  ASSERT_EQ(recordCount(), 2u);
  // The host reorders its list, a note changes and the metadata is refreshed:
  // the same two fills, nothing new.
  host_.fills = {fill("X2"), fill("X1")};
  host_.fills[0].note = "edited";
  inputs_.metadataText = "{}";
  qbsync::CollectorState restarted;
  restarted.sourceFragment = state_.sourceFragment;
  restarted.scopeDigest = state_.scopeDigest;
  restarted.outboxDir = state_.outboxDir;
  restarted.budget = state_.budget;
  runFillPhase(host_.host(), restarted, inputs_);
  EXPECT_EQ(recordCount(), 2u);
  // A changed price is a different fill.
  host_.fills[0].price = 6000.5;
  poll();
  EXPECT_EQ(recordCount(), 3u);
}

TEST_F(FillPhaseTest, OneDoubtfulFillBlocksTheWholePoll) {
  struct Case {
    const char* name;
    std::function<void(FakeStudyHost&, FillPhaseInputs&)> spoil;
    std::string error;
  } cases[] = {
      {"fill still loading", [](FakeStudyHost& h, FillPhaseInputs&) { h.loading.insert(1); },
       "Order fills are still loading; retrying on the next poll."},
      {"other account", [](FakeStudyHost& h, FillPhaseInputs&) { h.fills[1].account = "Sim2"; },
       "Loaded fill does not match the chart account, trade symbol, or simulation mode."},
      {"other symbol", [](FakeStudyHost& h, FillPhaseInputs&) { h.fills[1].symbol = "NQZ25"; },
       "Loaded fill does not match the chart account, trade symbol, or simulation mode."},
      {"simulated fill on a live chart",
       [](FakeStudyHost& h, FillPhaseInputs& in) {
         in.simulation = false;
         h.fills[0].simulated = 0;
       },
       "Loaded fill does not match the chart account, trade symbol, or simulation mode."},
      {"zero quantity", [](FakeStudyHost& h, FillPhaseInputs&) { h.fills[1].quantity = 0; },
       "Zero/negative fill quantity observed; collection paused for review."},
      {"negative quantity", [](FakeStudyHost& h, FillPhaseInputs&) { h.fills[1].quantity = -1; },
       "Zero/negative fill quantity observed; collection paused for review."},
      {"unknown side", [](FakeStudyHost& h, FillPhaseInputs&) { h.fills[1].side = 3; },
       "Unknown fill side; collection paused."},
      {"identical fills without service ids",
       [](FakeStudyHost& h, FillPhaseInputs& in) {
         in.allowLocalFillIds = true;
         h.fills[0].serviceExecutionId = "";
         h.fills[1].serviceExecutionId = "";
       },
       "Ambiguous identical fills lack execution IDs. Collection paused rather than merging distinct fills."},
      {"fill added during the poll",
       [](FakeStudyHost& h, FillPhaseInputs&) {
         h.onFillRead = [&h](std::int32_t index) {
           if (index == 1) h.fills.push_back(h.fills[0]);
         };
       },
       "Fill history changed during collection; retrying without advancing a cursor."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host_.fills = {fill("X1"), fill("X1")};  // the same fill twice, valid apart from the spoiled part
    host_.loading.clear();
    host_.onFillRead = nullptr;
    FillPhaseInputs saved = inputs_;
    c.spoil(host_, inputs_);
    EXPECT_EQ(pollError(), c.error);
    EXPECT_EQ(recordCount(), 0u);
    inputs_ = saved;
  }
}

TEST_F(FillPhaseTest, LoadedFillLimitIsCheckedBeforeAnyRead) {
  host_.fills = {fill("X1"), fill("X2"), fill("X3")};
  inputs_.maxFills = 2;
  EXPECT_EQ(pollError(),
            "Loaded fill count exceeds the configured reconciliation limit; increase it or reduce Sierra's loaded fill "
            "history.");
  EXPECT_EQ(host_.fillReads, 0);
  inputs_.maxFills = 3;
  poll();
  EXPECT_EQ(recordCount(), 3u);
}

TEST_F(FillPhaseTest, AtMost250NewRecordsPerPoll) {
  for (int i = 0; i < 260; ++i) host_.fills.push_back(fill("X" + std::to_string(i)));
  poll();
  EXPECT_EQ(recordCount(), 250u);
  poll();
  EXPECT_EQ(recordCount(), 260u);
  const std::uint64_t size = state_.outboxSize;
  poll();
  EXPECT_EQ(recordCount(), 260u);
  EXPECT_EQ(state_.outboxSize, size);
}

TEST_F(FillPhaseTest, CaptureCandidateIsTheLastFreshFillNewlyWritten) {
  inputs_.captureFreshFills = true;
  FakeFill old = fill("OLD");
  FakeFill fresh1 = fill("F1", 501);
  FakeFill fresh2 = fill("F2", 502);
  FakeFill future = fill("FUT", 503);
  old.fillTime = chartTimeOfUnixMicros(host_, kNowUnixMicros - 30000001);
  fresh1.fillTime = chartTimeOfUnixMicros(host_, kNowUnixMicros - 30000000);
  fresh2.fillTime = chartTimeOfUnixMicros(host_, kNowUnixMicros - 5000000);
  future.fillTime = chartTimeOfUnixMicros(host_, kNowUnixMicros + 1000000);
  host_.fills = {fresh1, fresh2, old, future};

  {
    SCOPED_TRACE("replay running");
    inputs_.replay = true;
    EXPECT_FALSE(poll().has_value());
  }
  // Those records now exist: a second poll writes nothing and asks for nothing.
  inputs_.replay = false;
  EXPECT_FALSE(poll().has_value());

  ScratchDir other("col2");
  state_.outboxDir = other.path();
  state_.knownNames.clear();
  {
    SCOPED_TRACE("fresh-fill capture off");
    inputs_.captureFreshFills = false;
    EXPECT_FALSE(poll().has_value());
  }
  ScratchDir third("col3");
  state_.outboxDir = third.path();
  state_.knownNames.clear();
  inputs_.captureFreshFills = true;
  const std::optional<qbsync::CaptureCandidate> candidate = poll();
  ASSERT_TRUE(candidate.has_value());
  const std::string fragment = ",\"executed_at\":\"" +
                               qbsync::formatHostDateTime(fresh2.fillTime + host_.chartToUtcMicros) +
                               "Z\",\"side\":\"buy\",\"quantity\":\"1\",\"price\":\"6000.25\"";
  EXPECT_EQ(candidate->captureKey, "fill:" + eventId("F2", fragment));
  EXPECT_EQ(candidate->internalOrderIdText, "502");
}

TEST_F(FillPhaseTest, NoFillsWritesNothing) {
  EXPECT_FALSE(poll().has_value());
  EXPECT_EQ(recordCount(), 0u);
}

}  // namespace
}  // namespace qbtest
