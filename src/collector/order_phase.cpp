#include "collector/order_phase.h"

#include <stdexcept>

#include "collector/event_record.h"
#include "collector/json_quote.h"
#include "support/decimal.h"
#include "support/text_encoding.h"
#include "support/timestamp.h"

namespace qbsync {
namespace {

constexpr int kOrderScanBound = 10000;

std::string idText(std::uint64_t id) { return jsonQuote(std::to_string(id)); }

}  // namespace

std::string orderFragment(const HostOrderRecord& o) {
  std::string f = ",\"kind\":\"order\",\"internal_order_id\":" + idText(o.internalOrderId);
  f += ",\"parent_internal_order_id\":" + idText(o.parentInternalOrderId);
  f += ",\"oco_sibling_internal_order_id\":" + idText(o.ocoSiblingInternalOrderId);
  f += ",\"link_id\":" + idText(o.linkId);
  f += ",\"target_child_internal_order_id\":" + idText(o.targetChildInternalOrderId);
  f += ",\"stop_child_internal_order_id\":" + idText(o.stopChildInternalOrderId);
  f += ",\"order_type\":" + jsonQuote(decodeHostText(o.orderType));
  f += ",\"order_type_code\":" + std::to_string(o.orderTypeCode);
  f += ",\"status\":" + std::to_string(o.statusCode);
  f += ",\"side\":" + jsonQuote(sideText(o.side));
  f += ",\"quantity\":" + jsonQuote(decimalText(o.quantity));
  f += ",\"filled_quantity\":" + jsonQuote(decimalText(o.filledQuantity));
  f += ",\"price1\":" + jsonQuote(decimalText(o.price1));
  f += ",\"price2\":" + jsonQuote(decimalText(o.price2));
  f += ",\"note\":" + jsonQuote(decodeHostText(o.note));
  f += ",\"last_activity_raw\":" + jsonQuote(formatHostDateTime(o.lastActivityTime));
  f += ",\"last_activity_time_basis\":\"sierra_order_time_timezone_unverified\"";
  return f;
}

void runOrderPhase(StudyHost& host, CollectorState& state, const std::string& account, const std::string& symbol,
                   bool simulation) {
  if (!host.orderRecord) return;
  for (int index = 0; index < kOrderScanBound; ++index) {
    HostOrderRecord order{};
    if (host.orderRecord(&host, index, &order) == -1) return;
    if (decodeHostText(order.tradeAccount) != account || decodeHostText(order.symbol) != symbol ||
        (order.simulated != 0) != simulation) {
      throw std::runtime_error("Order scope differs from expected source binding.");
    }
    const std::string fragment = orderFragment(order);
    const std::string id = std::to_string(order.internalOrderId);
    const auto known = state.orderFragments.find(id);
    if (known != state.orderFragments.end() && known->second == fragment) continue;

    const std::string eventId = state.digest.sha256Hex(state.scopeDigest + fragment);
    writeEventRecord(state, eventId, fragment + ",\"snapshot_at\":" + jsonQuote(utcNowText()), ".json");
    state.orderFragments[id] = fragment;
    if (index == kOrderScanBound - 1) {
      throw std::runtime_error("More than 10,000 available orders; order scan is bounded. Review Sierra's order list.");
    }
  }
}

}  // namespace qbsync
