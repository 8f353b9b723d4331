#ifndef QB_SYNC_NOTE_RECEIPT_H
#define QB_SYNC_NOTE_RECEIPT_H

#include <nlohmann/json.hpp>

#include "sync/native_spool.h"

namespace qbsync {

// Checks a note receipt against the note body that was sent. Throws
// "INVALID_NOTE_RECEIPT" or "INVALID_OBSERVATION_FIELD", and what
// parseJsonObject throws for a body that is not a JSON object. Pure.
void verifyNoteReceipt(const nlohmann::json& receipt, const NoteEntry& note);

inline void verifyNoteReceipt(const NativeSpool& spool, const nlohmann::json& receipt, const NoteEntry& note) {
  (void)spool;
  verifyNoteReceipt(receipt, note);
}

}  // namespace qbsync

#endif
