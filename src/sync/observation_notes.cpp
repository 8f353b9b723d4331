#include "sync/observation_notes.h"

#include <stdexcept>

#include "storage/durable_file.h"
#include "storage/png_file.h"
#include "support/identifier.h"
#include "support/log_excerpt.h"
#include "sync/note_composition.h"
#include "sync/record_fields.h"

namespace qbsync {

nlohmann::json composeNote(const NativeSpool& spool, const nlohmann::json& record) {
  return composeRecordNote(spool.settings, record, [&spool](const std::string& fileName) {
    return isCompletePng(spool.outbox_dir + "\\" + fileName);
  });
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

