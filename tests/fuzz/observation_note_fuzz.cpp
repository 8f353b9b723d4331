// Note objects composed from hostile outbox records, for each source and with
// the capture file complete or not. A record is refused with one of the
// note codes or gives a note whose body fits the request, whose text holds
// the header, the record's note at its end and stays within its limit, and
// whose request file reloads as the journal load reads it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_source.h"
#include "service/json_object.h"
#include "support/timestamp.h"
#include "sync/note_composition.h"
#include "sync/outbox_record.h"
#include "sync/record_fields.h"
#include "sync/spool_entries.h"

namespace {

constexpr std::size_t kRecordNoteLimit = 12000;
constexpr std::size_t kTextLimit = 20000;
constexpr std::size_t kBodyLimit = 65536;
// The journal load reads note request files up to this size.
constexpr std::size_t kSpoolFileLimit = 1048576;
constexpr char kKey[] = "0b8e2c4d-6f1a-4b3c-9d5e-7a8b9c0d1e2f";

bool isCaptureName(const std::string& name) {
  if (name.size() < 5 || name.size() > 132 || !name.ends_with(".png")) return false;
  for (std::size_t i = 0; i + 4 < name.size(); ++i) {
    const char c = name[i];
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string stringMember(const nlohmann::json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void checkNote(const qbsync::ConnectionSettings& source, const qbsync::Sha256Provider& digest,
               const nlohmann::json& record, const nlohmann::json& note) {
  const std::string kind = record.at("kind").get<std::string>();
  const std::string recordNote = stringMember(record, "note");
  if (note.is_null()) {
    if (kind != "fill" || !recordNote.empty()) qbfuzz::broken("no note for a record that needs one");
    return;
  }
  if (kind == "fill" && recordNote.empty()) qbfuzz::broken("a note for a fill without one");
  if (recordNote.size() > kRecordNoteLimit) qbfuzz::broken("a record note above its limit was taken");
  if (!note.is_object() || note.size() != 4 || note.at("schema_version") != 2) qbfuzz::broken("note shape");

  const std::string time =
      qbsync::normalizeUtcTimestamp(stringMember(record, kind == "fill" ? "executed_at" : "observed_at"));
  if (note.at("target") != nlohmann::json{{"date", time.substr(0, 10)}, {"type", "day"}}) {
    qbfuzz::broken("the target is not the day of the record's time");
  }
  if (note.at("title") != "Sierra Chart " + kind + " - " + source.source_symbol) qbfuzz::broken("title");

  const std::string& text = note.at("text").get_ref<const std::string&>();
  if (text.size() > kTextLimit) qbfuzz::broken("text above its limit");
  const std::string header = "Sierra Chart observation (UTC)\nAccount: " + source.source_account +
                             "\nSymbol: " + source.source_symbol + "\nSession: " + source.session_id +
                             "\nMode: " + (source.simulation ? "simulation/replay" : "live") +
                             "\nObserved: " + stringMember(record, "observed_at") +
                             "\nEvent: " + stringMember(record, "event_id");
  if (!text.starts_with(header)) qbfuzz::broken("text without its header");
  if (!recordNote.empty() && !text.ends_with("\n\n" + recordNote)) qbfuzz::broken("text without the record's note");

  // The request as queueNoteRequest freezes it must load back unchanged.
  const std::string body = qbsync::compactJson(note);
  if (body.size() > kBodyLimit) qbfuzz::broken("body above its limit");
  const std::string request =
      qbsync::compactJson(nlohmann::json{{"body", body}, {"hash", digest.sha256Hex(body)}, {"key", kKey}});
  try {
    const qbsync::NoteEntry reloaded =
        qbsync::readNoteRequest(digest, qbsync::parseJsonObject(request, kSpoolFileLimit));
    if (reloaded.body != body || reloaded.key != kKey) qbfuzz::broken("a note request reloads as another");
    if (qbsync::parseJsonObject(reloaded.body, kBodyLimit) != note) qbfuzz::broken("a note body parses as another");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reload: %s\n", e.what());
    qbfuzz::broken("a composed note request does not reload");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto kSources = qbfuzz::sources();
  static const qbsync::Sha256Provider digest;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Hostile on purpose: any object the strict parser takes, not only records
  // that pass the intake's envelope check.
  nlohmann::json record;
  bool parsed = false;
  qbfuzz::attempt([&] {
    record = qbsync::parseJsonObject(bytes, qbsync::kOutboxRecordLimit);
    parsed = true;
  });
  if (!parsed) return 0;

  for (const qbsync::ConnectionSettings& source : kSources) {
    for (const bool complete : {true, false}) {
      int asked = 0;
      const qbsync::CaptureCheck capture = [&](const std::string& fileName) {
        ++asked;
        if (stringMember(record, "kind") != "screenshot") qbfuzz::broken("capture asked for another kind");
        if (!isCaptureName(fileName) || fileName != stringMember(record, "file_name")) {
          qbfuzz::broken("capture asked for a name that is not the record's capture name");
        }
        return complete;
      };
      nlohmann::json note;
      const bool composed = qbfuzz::attemptRefusing(
          {"INVALID_OBSERVATION_FIELD", "NOTE_LIMIT", "INVALID_ORDER_OBSERVATION", "SCREENSHOT_MISSING_OR_INCOMPLETE",
           "EMPTY_NOTE", "UTC_TIMESTAMP_REQUIRED"},
          [&] { note = qbsync::composeRecordNote(source, record, capture); });
      if (asked > 1) qbfuzz::broken("capture asked more than once");
      if (!composed) continue;
      checkNote(source, digest, record, note);
      if (!complete && stringMember(record, "kind") == "screenshot") {
        qbfuzz::broken("a screenshot note without its complete capture");
      }
    }
  }
  return 0;
}
