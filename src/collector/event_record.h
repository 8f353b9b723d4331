// Outbox event records: one compact JSON object per file, named by its
// content-derived event id, written once and never changed by the collector.
#ifndef QB_COLLECTOR_EVENT_RECORD_H
#define QB_COLLECTOR_EVENT_RECORD_H

#include <cstddef>
#include <functional>
#include <string>

#include "collector/collector_state.h"

namespace qbsync {

// A record file holds at most this many bytes, its line feed included.
constexpr std::size_t kMaxEventRecordBytes = 65536;

inline constexpr char kRecordTooLarge[] = "Event exceeds the 64 KiB sync record limit; collection paused for review.";
inline constexpr char kOutboxCapacityReached[] =
    "Outbox capacity reached. Collection paused; increase the budget after checking disk space. No files were "
    "deleted.";

// Writes state.outboxDir\<eventId><extension> (".json" or ".capture"):
// {"schema_version":1,"event_id":...<source fragment>,"observed_at":<now><body>}
// and a line feed. `body` starts with ,"kind": and holds the kind members.
// Returns true when it created the file; false, writing nothing, when the
// name is already known to the state or exists on disk. A written record's
// length is added to state.outboxSize.
// Throws kRecordTooLarge, kOutboxCapacityReached (outbox size plus record
// beyond state.budget) or the texts of publishOnce. Chart thread only.
bool writeEventRecord(CollectorState& state, const std::string& eventId, const std::string& body,
                      const std::string& extension);

// The same, with the body built by `body` only when the record is to be
// written: a caller with many records that are mostly known already (the
// fills of a steady poll) pays nothing for their text.
bool writeEventRecord(CollectorState& state, const std::string& eventId, const std::function<std::string()>& body,
                      const std::string& extension);

// Event id of a fill: sha256Hex of the scope digest, "|fill|", the quoted
// native fill id and the fill fragment (,"executed_at":...,"price":...).
std::string fillEventId(const CollectorState& state, const std::string& nativeFillId,
                        const std::string& fillFragment);

}  // namespace qbsync

#endif
