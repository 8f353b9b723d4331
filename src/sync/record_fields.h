// Reading members of parsed records and spool files.
#ifndef QB_SYNC_RECORD_FIELDS_H
#define QB_SYNC_RECORD_FIELDS_H

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qbsync {

// The string member `key` of an object. Throws "INVALID_OBSERVATION_FIELD"
// when the value is not an object, the member is missing or not a string.
const std::string& requireString(const nlohmann::json& object, const char* key);

// True when the whole text matches the ECMAScript pattern.
bool fullMatch(const std::string& text, const std::string& pattern);

// Compact JSON with sorted keys and raw UTF-8: the form every spool file and
// digest uses.
std::string compactJson(const nlohmann::json& value);

// 20-digit zero-padded decimal, as sequence numbers appear in file names.
std::string sequenceDigits(std::uint64_t value);

}  // namespace qbsync

#endif
