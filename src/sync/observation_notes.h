// Day-journal note requests composed from outbox records: order states,
// manual notes, chart captures and annotated fills.
#ifndef QB_SYNC_OBSERVATION_NOTES_H
#define QB_SYNC_OBSERVATION_NOTES_H

#include <nlohmann/json.hpp>

#include "sync/native_spool.h"

namespace qbsync {

// composeRecordNote for the spool's settings, a capture being complete when
// its PNG in the outbox directory is: the note object, or null when the
// record needs no note. Throws "INVALID_OBSERVATION_FIELD", "NOTE_LIMIT",
// "INVALID_ORDER_OBSERVATION", "SCREENSHOT_MISSING_OR_INCOMPLETE",
// "EMPTY_NOTE" or "UTC_TIMESTAMP_REQUIRED".
nlohmann::json composeNote(const NativeSpool& spool, const nlohmann::json& record);

// Freezes the record's note request once (n-<event>.json with a fresh key).
// A note that cannot be composed or written only sets notes_need_attention;
// throws "INVALID_OBSERVATION_FIELD" only for a record without a string event id.
void queueNoteRequest(NativeSpool& spool, const nlohmann::json& record);

}  // namespace qbsync

#endif
