#include "sync/record_validation.h"

#include <limits>
#include <stdexcept>

#include "support/timestamp.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

bool isJsonInteger(const nlohmann::json& value) {
  return value.is_number_integer();  // signed or unsigned, never a float
}

}  // namespace

bool isEventId(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

void validateRecord(const ConnectionSettings& settings, const nlohmann::json& record) {
  if (!record.is_object()) fail("INVALID_OBSERVATION_SCHEMA");
  const auto schema = record.find("schema_version");
  if (schema == record.end() || !isJsonInteger(*schema) || schema->get<std::int64_t>() != 1 ||
      (schema->is_number_unsigned() && schema->get<std::uint64_t>() != 1)) {
    fail("INVALID_OBSERVATION_SCHEMA");
  }
  if (!isEventId(requireString(record, "event_id"))) fail("INVALID_EVENT_ID");
  if (requireString(record, "source_account") != settings.source_account) fail("SOURCE_BINDING_MISMATCH");
  if (requireString(record, "source_symbol") != settings.source_symbol) fail("SOURCE_BINDING_MISMATCH");
  if (requireString(record, "session_id") != settings.session_id) fail("SOURCE_BINDING_MISMATCH");
  const auto simulation = record.find("simulation");
  if (simulation == record.end() || !simulation->is_boolean() || simulation->get<bool>() != settings.simulation) {
    fail("SOURCE_BINDING_MISMATCH");
  }
  const auto replay = record.find("replay");
  if (replay != record.end() && (!replay->is_boolean() || replay->get<bool>() != settings.replay)) {
    fail("SOURCE_BINDING_MISMATCH");
  }
  normalizeUtcTimestamp(requireString(record, "observed_at"));
  const std::string& kind = requireString(record, "kind");
  if (kind != "fill" && kind != "order" && kind != "note" && kind != "screenshot") fail("INVALID_OBSERVATION_KIND");
}

std::int64_t nativeFillIndex(const nlohmann::json& record) {
  const auto it = record.find("native_fill_index");
  if (it == record.end()) return -1;
  if (it->is_number_unsigned()) {
    const std::uint64_t value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      fail("INVALID_NATIVE_FILL_INDEX");
    }
    return static_cast<std::int64_t>(value);
  }
  if (!it->is_number_integer() || it->get<std::int64_t>() < 0) fail("INVALID_NATIVE_FILL_INDEX");
  return it->get<std::int64_t>();
}

}  // namespace qbsync
