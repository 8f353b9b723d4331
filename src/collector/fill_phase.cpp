#include "collector/fill_phase.h"

#include <set>
#include <stdexcept>
#include <vector>

#include "collector/event_record.h"
#include "collector/json_quote.h"
#include "support/decimal.h"
#include "support/text_encoding.h"
#include "support/timestamp.h"

namespace qbsync {
namespace {

// A loaded fill, checked and with every text decoded and every value
// formatted, so that building its record can no longer fail.
struct PreparedFill {
  std::string nativeFillId;
  std::string fragment;
  std::string internalOrderIdText;
  std::string serviceOrderId;
  std::string note;
  std::string positionText;
  std::int32_t index = 0;
  bool serviceIdentity = true;
  HostDateTime utcFillTime = 0;
};

[[noreturn]] void fail(const char* text) { throw std::runtime_error(text); }

HostDateTime fillTimeUtc(StudyHost& host, HostDateTime chartTime) {
  // Recording chart time as UTC would put a wrong, immutable time on the record.
  if (!host.shiftTimeZone) fail("Sierra time-zone conversion is unavailable; collection paused.");
  return hostTimeToUtc(chartTime, [&host](HostDateTime value, const char* zone) {
    return host.shiftTimeZone(&host, value, zone);
  });
}

// What every fill record of a poll shares.
struct SharedFillTexts {
  const std::string& metadataText;
  const std::string& zoneName;
};

std::string fillBody(const PreparedFill& p, const SharedFillTexts& shared) {
  std::string body = ",\"kind\":\"fill\",\"native_fill_id\":" + jsonQuote(p.nativeFillId) + p.fragment;
  body += ",\"native_fill_index\":" + std::to_string(p.index);
  body += ",\"identity_quality\":";
  body += p.serviceIdentity ? "\"service\"" : "\"local_fallback\"";
  body += ",\"internal_order_id\":" + jsonQuote(p.internalOrderIdText);
  body += ",\"service_order_id\":" + jsonQuote(p.serviceOrderId);
  body += ",\"position_quantity\":" + jsonQuote(p.positionText);
  body += ",\"note\":" + jsonQuote(p.note);
  body += ",\"instrument_metadata\":" + shared.metadataText;
  body += ",\"source_chart_timezone\":" + jsonQuote(shared.zoneName);
  return body;
}

bool isFresh(HostDateTime utcFillTime) {
  const std::int64_t age = unixMicrosNow() - unixMicros(utcFillTime);
  return static_cast<std::uint64_t>(age) <= kFreshFillMicros;
}

std::int32_t fillTotal(StudyHost& host) { return host.fillTotal ? host.fillTotal(&host) : 0; }

}  // namespace

std::optional<CaptureCandidate> runFillPhase(StudyHost& host, CollectorState& state, const FillPhaseInputs& inputs) {
  const std::int32_t total = fillTotal(host);
  if (total > inputs.maxFills) {
    fail("Loaded fill count exceeds the configured reconciliation limit; increase it or reduce Sierra's loaded fill "
         "history.");
  }

  const std::string zoneName =
      decodeHostText(host.chartZoneName ? host.chartZoneName(&host, host.chartId) : nullptr);
  std::vector<PreparedFill> prepared;
  std::set<std::string> fallbackIds;
  for (std::int32_t i = 0; i < total; ++i) {
    HostFillRecord fill{};
    if (!host.fillRecord || host.fillRecord(&host, i, &fill) == 0) {
      fail("Order fills are still loading; retrying on the next poll.");
    }
    // The host's texts last only until its next call: decode them all now.
    if (decodeHostText(fill.tradeAccount) != inputs.account || decodeHostText(fill.symbol) != inputs.symbol ||
        (fill.simulated != 0) != inputs.simulation) {
      fail("Loaded fill does not match the chart account, trade symbol, or simulation mode.");
    }
    if (fill.quantity <= 0) fail("Zero/negative fill quantity observed; collection paused for review.");
    const std::string serviceId = decodeHostText(fill.serviceExecutionId);

    PreparedFill p;
    p.serviceOrderId = decodeHostText(fill.serviceOrderId);
    p.note = decodeHostText(fill.note);
    p.index = i;
    p.serviceIdentity = !serviceId.empty();
    p.utcFillTime = fillTimeUtc(host, fill.fillTime);
    p.fragment = ",\"executed_at\":" + jsonQuote(formatHostDateTime(p.utcFillTime) + "Z") +
                 ",\"side\":" + jsonQuote(sideText(fill.side)) +
                 ",\"quantity\":" + jsonQuote(decimalText(fill.quantity)) +
                 ",\"price\":" + jsonQuote(decimalText(fill.price));
    p.internalOrderIdText = std::to_string(fill.internalOrderId);

    if (!serviceId.empty()) {
      p.nativeFillId = serviceId;
    } else {
      if (!inputs.allowLocalFillIds) {
        fail("Fill has no service execution ID. Enable local fallback IDs only after reviewing session and duplicate "
             "limitations.");
      }
      p.nativeFillId = "fallback:" + state.digest.sha256Hex(p.internalOrderIdText + p.fragment);
      if (!fallbackIds.insert(p.nativeFillId).second) {
        fail("Ambiguous identical fills lack execution IDs. Collection paused rather than merging distinct fills.");
      }
    }

    p.positionText = decimalText(fill.positionQuantity);
    prepared.push_back(std::move(p));
  }
  if (fillTotal(host) != total) fail("Fill history changed during collection; retrying without advancing a cursor.");

  const SharedFillTexts shared{inputs.metadataText, zoneName};
  std::optional<CaptureCandidate> candidate;
  std::size_t written = 0;
  for (const PreparedFill& p : prepared) {
    if (written >= kMaxFillRecordsPerPoll) break;
    const std::string eventId = fillEventId(state, p.nativeFillId, p.fragment);
    // Most loaded fills of a steady poll are recorded already; building each
    // one's text would be most of the poll's own work.
    // Two references: small enough for std::function to hold without allocating.
    if (!writeEventRecord(state, eventId, [&p, &shared] { return fillBody(p, shared); }, ".json")) continue;
    ++written;
    if (!inputs.replay && inputs.captureFreshFills && isFresh(p.utcFillTime)) {
      candidate = CaptureCandidate{"fill:" + eventId, p.internalOrderIdText};
    }
  }
  return candidate;
}

}  // namespace qbsync
