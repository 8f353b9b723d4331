#include "sync/observation_notes.h"

#include <stdexcept>

#include "storage/durable_file.h"
#include "storage/png_file.h"
#include "support/identifier.h"
#include "support/log_excerpt.h"
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

nlohmann::json composeNote(const NativeSpool& spool, const nlohmann::json& record) {
  const std::string& kind = requireString(record, "kind");
  const std::string note = optionalString(record, "note");
  if (note.size() > kRecordNoteLimit) fail("NOTE_LIMIT");
  const bool fill = kind == "fill";
  if (fill && note.empty()) return nullptr;

  const std::string time = normalizeUtcTimestamp(requireString(record, fill ? "executed_at" : "observed_at"));
  const std::string& eventId = requireString(record, "event_id");
  const std::string& observedAt = requireString(record, "observed_at");
  const ConnectionSettings& s = spool.settings;
  std::string text = "Sierra Chart observation (UTC)\nAccount: " + s.source_account + "\nSymbol: " +
                     s.source_symbol + "\nSession: " + s.session_id +
                     "\nMode: " + (s.simulation ? "simulation/replay" : "live") + "\nObserved: " + observedAt +
                     "\nEvent: " + eventId;

  if (kind == "order") {
    text += orderLines(record);
  } else if (fill) {
    text += "\nFill: " + requireString(record, "native_fill_id") + "\nExecuted: " + time;
  } else if (kind == "screenshot") {
    const std::string& fileName = requireString(record, "file_name");
    if (!fullMatch(fileName, "[A-Za-z0-9_-]{1,128}\\.png") ||
        !isCompletePng(spool.outbox_dir + "\\" + fileName)) {
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
                           {"title", "Sierra Chart " + kind + " - " + s.source_symbol},
                           {"text", text}};
  if (compactJson(object).size() > kBodyLimit) fail("NOTE_LIMIT");
  return object;
}

void queueNoteRequest(NativeSpool& spool, const nlohmann::json& record) {
  const std::string eventId = requireString(record, "event_id");
  if (spool.note_ids.count(eventId)) return;
  try {
    const nlohmann::json note = composeNote(spool, record);
    if (note.is_null()) return;
    const std::string key = newIdentifier();
    const std::string body = compactJson(note);
    const std::string request =
        compactJson(nlohmann::json{{"body", body}, {"hash", spool.digest.sha256Hex(body)}, {"key", key}});
    const std::string path = spool.path("n-" + eventId + ".json");
    spool.reserveSpace(request.size());
    writeImmutable(path, request);
    spool.notes.push_back(NoteEntry{path, key, body, false});
    spool.note_ids.insert(eventId);
    spool.log("Queued note; request=" + key + "; kind=" + logExcerpt(record.value("kind", std::string()), 20),
              false);
  } catch (const std::exception&) {
    // Notes are optional metadata; the record is still taken and the request
    // is tried again in the next run.
    spool.notes_need_attention = true;
  }
}

}  // namespace qbsync

