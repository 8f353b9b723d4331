#include "sync/outbox_record.h"

#include <stdexcept>

#include "service/strict_json.h"
#include "support/timestamp.h"
#include "sync/execution.h"
#include "sync/record_fields.h"
#include "sync/record_validation.h"

namespace qbsync {

nlohmann::json readOutboxRecord(const ConnectionSettings& settings, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kOutboxRecordLimit) throw std::runtime_error("JSON_BODY_LIMIT");
  // A fill's journal entry holds the record one level down and is read back
  // with the usual depth limit: a record nested to that limit would be
  // journaled and then refuse every later open of the spool.
  nlohmann::json record;
  if (!parseStrictJson(bytes, kMaxJsonDepth - 1, record) || !record.is_object()) {
    throw std::runtime_error("INVALID_JSON");
  }
  validateRecord(settings, record);
  return record;
}

RecordOrder recordOrder(const ConnectionSettings& settings, const Sha256Provider& digest,
                        const nlohmann::json& record) {
  RecordOrder order;
  order.fill = requireString(record, "kind") == "fill";
  order.time = normalizeUtcTimestamp(requireString(record, order.fill ? "executed_at" : "observed_at"));
  if (order.fill) {
    const nlohmann::json probe = deriveExecution(settings, digest, record, 1);
    order.executionId = requireString(probe, "source_execution_id");
    order.nativeFillIndex = nativeFillIndex(record);
  }
  return order;
}

}  // namespace qbsync
