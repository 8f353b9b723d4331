// The intake's reading of one outbox record file, apart from the file calls:
// the strict parse and envelope check, and what orders the record among the
// others of a pass. Pure; any thread.
#ifndef QB_SYNC_OUTBOX_RECORD_H
#define QB_SYNC_OUTBOX_RECORD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "support/sha256.h"

namespace qbsync {

// Largest record file the intake reads.
inline constexpr std::size_t kOutboxRecordLimit = 65536;

// The record in `bytes`: one strict JSON object within kOutboxRecordLimit,
// nested one level less than parseJsonObject allows (its journal entry adds
// one), that passes validateRecord for the source. Throws "JSON_BODY_LIMIT",
// "INVALID_JSON" or validateRecord's codes.
nlohmann::json readOutboxRecord(const ConnectionSettings& settings, std::string_view bytes);

struct RecordOrder {
  bool fill = false;
  std::string time;          // normalised executed_at of a fill, observed_at otherwise
  std::string executionId;   // the fill's source execution id; empty for other kinds
  std::int64_t nativeFillIndex = -1;
};

// Where a validated record sorts in a pass. For a fill this derives its
// execution, so it throws deriveExecution's codes and
// "INVALID_NATIVE_FILL_INDEX"; for every kind "UTC_TIMESTAMP_REQUIRED" or
// "INVALID_OBSERVATION_FIELD" for its time.
RecordOrder recordOrder(const ConnectionSettings& settings, const Sha256Provider& digest,
                        const nlohmann::json& record);

}  // namespace qbsync

#endif
