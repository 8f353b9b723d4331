// The envelope check of an outbox record against the source the sender serves.
#ifndef QB_SYNC_RECORD_VALIDATION_H
#define QB_SYNC_RECORD_VALIDATION_H

#include <cstdint>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"

namespace qbsync {

// Throws "INVALID_OBSERVATION_SCHEMA", "INVALID_OBSERVATION_FIELD",
// "INVALID_EVENT_ID", "SOURCE_BINDING_MISMATCH", "UTC_TIMESTAMP_REQUIRED" or
// "INVALID_OBSERVATION_KIND", the first failing check deciding.
void validateRecord(const ConnectionSettings& settings, const nlohmann::json& record);

// -1 without "native_fill_index"; otherwise the value, which must be a JSON
// integer of at least 0 ("INVALID_NATIVE_FILL_INDEX").
std::int64_t nativeFillIndex(const nlohmann::json& record);

// True when the text is 64 lowercase hexadecimal digits.
bool isEventId(const std::string& text);

}  // namespace qbsync

#endif
