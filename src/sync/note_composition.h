// The day-journal note object of one outbox record, apart from the spool and
// its files: header, the kind's lines, the order reference and the record's
// own note, within the note limits.
#ifndef QB_SYNC_NOTE_COMPOSITION_H
#define QB_SYNC_NOTE_COMPOSITION_H

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"

namespace qbsync {

// True when the capture file of a screenshot record, named by `fileName`
// (which has already matched the capture-name pattern), is complete.
using CaptureCheck = std::function<bool(const std::string& fileName)>;

// The note object of a record for the settings' source, or null when the
// record needs no note (a fill without a note). Throws
// "INVALID_OBSERVATION_FIELD", "NOTE_LIMIT", "INVALID_ORDER_OBSERVATION",
// "SCREENSHOT_MISSING_OR_INCOMPLETE", "EMPTY_NOTE" or "UTC_TIMESTAMP_REQUIRED".
// Pure apart from `captureComplete`, which is asked only for screenshots.
nlohmann::json composeRecordNote(const ConnectionSettings& settings, const nlohmann::json& record,
                                 const CaptureCheck& captureComplete);

}  // namespace qbsync

#endif
