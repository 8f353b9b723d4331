// Delivering day-journal notes one at a time, each an idempotent POST of its
// frozen body. A note failure never stops sync.
#ifndef QB_SYNC_NOTE_DELIVERY_H
#define QB_SYNC_NOTE_DELIVERY_H

#include <string>

#include <nlohmann/json.hpp>

#include "service/api_errors.h"
#include "service/transport.h"
#include "sync/native_spool.h"

namespace qbsync {

// Attempts the first pending note when note sync is on and its retry time
// has come. Never throws for a note failure.
void noteStep(NativeSpool& spool, ITransport& transport);

// "Note upload failed (HTTP n): CODE at field. <hint>"
std::string noteFailureMessage(const NativeApiError& error);

// Sets note_detail, logs it and saves the error file (best effort).
void recordNoteFailure(NativeSpool& spool, const NoteEntry& note, const nlohmann::json& document,
                       const std::string& message);

}  // namespace qbsync

#endif
