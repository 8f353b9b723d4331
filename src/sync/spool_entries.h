// The content checks of the spool's own files, apart from reading them: an
// execution entry against the observation it was derived from, an
// observation marker, a frozen batch and a note request. Pure: the journal
// load reads each file and calls these; so can a reader of a copied spool.
#ifndef QB_SYNC_SPOOL_ENTRIES_H
#define QB_SYNC_SPOOL_ENTRIES_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "support/sha256.h"
#include "sync/native_spool.h"

namespace qbsync {

// e-<sequence>.json: {"execution", "hash", "observation"}, the observation a
// valid outbox record whose derivation at `sequence` is exactly the stored
// execution, and the hash that of the execution. Returns the execution.
// Throws "EXECUTION_CORRUPT" or the record's and the derivation's codes.
nlohmann::json verifyExecutionEntry(const ConnectionSettings& settings, const Sha256Provider& digest,
                                    const nlohmann::json& entry, std::uint64_t sequence);

// o-<event id>.json: returns the record digest it holds. Throws
// "OBSERVATION_CORRUPT" or "INVALID_OBSERVATION_FIELD".
std::string verifyObservationMarker(const nlohmann::json& marker);

// b-<n>.json: reads "first", "count" (non-negative integers, else
// "BATCH_CORRUPT"), "key" and "body" ("INVALID_OBSERVATION_FIELD"); the
// checks against the journal stay with the caller.
BatchEntry readFrozenBatch(const nlohmann::json& frozen);

// True for a non-negative JSON integer, stored in `out`.
bool readUnsigned(const nlohmann::json& object, const char* key, std::uint64_t& out);

// n-<event id>.json: key, body and hash. Throws "NOTE_CORRUPT" or
// "INVALID_OBSERVATION_FIELD".
NoteEntry readNoteRequest(const Sha256Provider& digest, const nlohmann::json& request);

}  // namespace qbsync

#endif
