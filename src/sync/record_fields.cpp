#include "sync/record_fields.h"

#include <cstdio>
#include <regex>
#include <stdexcept>

namespace qbsync {

const std::string& requireString(const nlohmann::json& object, const char* key) {
  if (object.is_object()) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_string()) return it->get_ref<const std::string&>();
  }
  throw std::runtime_error("INVALID_OBSERVATION_FIELD");
}

bool fullMatch(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern, std::regex::ECMAScript));
}

std::string compactJson(const nlohmann::json& value) { return value.dump(); }

std::string sequenceDigits(std::uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%020llu", static_cast<unsigned long long>(value));
  return buffer;
}

}  // namespace qbsync
