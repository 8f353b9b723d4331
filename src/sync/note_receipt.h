#ifndef QB_SYNC_NOTE_RECEIPT_H
#define QB_SYNC_NOTE_RECEIPT_H

#include <nlohmann/json.hpp>

#include "sync/native_spool.h"

namespace qbsync {

// Checks a note receipt against the note body that was sent. Throws
// "INVALID_NOTE_RECEIPT" or "INVALID_OBSERVATION_FIELD".
void verifyNoteReceipt(const NativeSpool& spool, const nlohmann::json& receipt, const NoteEntry& note);

}  // namespace qbsync

#endif
