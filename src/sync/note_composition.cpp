#include "sync/note_composition.h"

#include <cstdint>
#include <stdexcept>

#include "support/timestamp.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

constexpr std::size_t kRecordNoteLimit = 12000;
constexpr std::size_t kOrderValueLimit = 1024;
constexpr std::size_t kTextLimit = 20000;
constexpr std::size_t kBodyLimit = 65536;

const char* const kOrderMembers[] = {
    "internal_order_id", "parent_internal_order_id", "oco_sibling_internal_order_id", "link_id", "order_type",
    "target_child_internal_order_id", "stop_child_internal_order_id", "order_type_code", "status", "side",
    "quantity", "filled_quantity", "price1", "price2", "snapshot_at", "last_activity_raw",
    "last_activity_time_basis", "stop_loss", "profit_target"};

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

std::string optionalString(const nlohmann::json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end()) return std::string();
  if (!it->is_string()) fail("INVALID_OBSERVATION_FIELD");
  return it->get<std::string>();
}

std::string orderLines(const nlohmann::json& record) {
  std::string lines = "\nObserved order state; not a complete historical order audit.";
  for (const char* member : kOrderMembers) {
    const auto it = record.find(member);
    if (it == record.end()) continue;
    std::string value;
    if (it->is_string()) {
      value = it->get<std::string>();
    } else if (it->is_number_unsigned()) {
      value = std::to_string(it->get<std::uint64_t>());
    } else if (it->is_number_integer()) {
      value = std::to_string(it->get<std::int64_t>());
    } else {
      fail("INVALID_ORDER_OBSERVATION");
    }
    if (value.size() > kOrderValueLimit) fail("NOTE_LIMIT");
    lines += "\n" + std::string(member) + ": " + value;
  }
  return lines;
}

}  // namespace

nlohmann::json composeRecordNote(const ConnectionSettings& settings, const nlohmann::json& record,
                                 const CaptureCheck& captureComplete) {
  const std::string& kind = requireString(record, "kind");
  const std::string note = optionalString(record, "note");
  if (note.size() > kRecordNoteLimit) fail("NOTE_LIMIT");
  const bool fill = kind == "fill";
  if (fill && note.empty()) return nullptr;

  const std::string time = normalizeUtcTimestamp(requireString(record, fill ? "executed_at" : "observed_at"));
  const std::string& eventId = requireString(record, "event_id");
  const std::string& observedAt = requireString(record, "observed_at");
  std::string text = "Sierra Chart observation (UTC)\nAccount: " + settings.source_account + "\nSymbol: " +
                     settings.source_symbol + "\nSession: " + settings.session_id +
                     "\nMode: " + (settings.simulation ? "simulation/replay" : "live") + "\nObserved: " + observedAt +
                     "\nEvent: " + eventId;

  if (kind == "order") {
    text += orderLines(record);
  } else if (fill) {
    text += "\nFill: " + requireString(record, "native_fill_id") + "\nExecuted: " + time;
  } else if (kind == "screenshot") {
    const std::string& fileName = requireString(record, "file_name");
    if (!fullMatch(fileName, "[A-Za-z0-9_-]{1,128}\\.png") || !captureComplete(fileName)) {
      fail("SCREENSHOT_MISSING_OR_INCOMPLETE");
    }
    const std::string captured = normalizeUtcTimestamp(requireString(record, "captured_at"));
    text += "\nChart image retained locally; the API does not support image upload.\nFile: " + fileName +
            "\nCaptured: " + captured;
  } else if (kind == "note") {
    if (note.empty()) fail("EMPTY_NOTE");
    requireString(record, "note_id");
  }

  if (record.contains("internal_order_id")) text += "\nOrder: " + requireString(record, "internal_order_id");
  if (!note.empty()) text += "\n\n" + note;
  if (text.size() > kTextLimit) fail("NOTE_LIMIT");

  nlohmann::json object = {{"schema_version", 2},
                           {"target", {{"date", time.substr(0, 10)}, {"type", "day"}}},
                           {"title", "Sierra Chart " + kind + " - " + settings.source_symbol},
                           {"text", text}};
  if (compactJson(object).size() > kBodyLimit) fail("NOTE_LIMIT");
  return object;
}

}  // namespace qbsync
