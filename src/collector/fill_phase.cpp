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

struct PreparedFill {
  std::string nativeFillId;
  std::string fragment;
  std::string body;
  std::string internalOrderIdText;
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
    const std::string serviceOrderId = decodeHostText(fill.serviceOrderId);
    const std::string note = decodeHostText(fill.note);

    PreparedFill p;
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

    p.body = ",\"kind\":\"fill\",\"native_fill_id\":" + jsonQuote(p.nativeFillId) + p.fragment;
    p.body += ",\"native_fill_index\":" + std::to_string(i);
    p.body += ",\"identity_quality\":";
    p.body += serviceId.empty() ? "\"local_fallback\"" : "\"service\"";
    p.body += ",\"internal_order_id\":" + jsonQuote(p.internalOrderIdText);
    p.body += ",\"service_order_id\":" + jsonQuote(serviceOrderId);
    p.body += ",\"position_quantity\":" + jsonQuote(decimalText(fill.positionQuantity));
    p.body += ",\"note\":" + jsonQuote(note);
    p.body += ",\"instrument_metadata\":" + inputs.metadataText;
    p.body += ",\"source_chart_timezone\":" + jsonQuote(zoneName);
    prepared.push_back(std::move(p));
  }
  if (fillTotal(host) != total) fail("Fill history changed during collection; retrying without advancing a cursor.");

  std::optional<CaptureCandidate> candidate;
  std::size_t written = 0;
  for (const PreparedFill& p : prepared) {
    if (written >= kMaxFillRecordsPerPoll) break;
    const std::string eventId = fillEventId(state, p.nativeFillId, p.fragment);
    if (!writeEventRecord(state, eventId, p.body, ".json")) continue;
    ++written;
    if (!inputs.replay && inputs.captureFreshFills && isFresh(p.utcFillTime)) {
      candidate = CaptureCandidate{"fill:" + eventId, p.internalOrderIdText};
    }
  }
  return candidate;
}

}  // namespace qbsync
