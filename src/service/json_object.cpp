#include "service/json_object.h"

#include <stdexcept>

#include "service/strict_json.h"

namespace qbsync {

nlohmann::json parseJsonObject(std::string_view text, std::size_t limit) {
  if (text.empty() || text.size() > limit) throw std::runtime_error("JSON_BODY_LIMIT");
  nlohmann::json value;
  if (!parseStrictJson(text, kMaxJsonDepth, value) || !value.is_object()) {
    throw std::runtime_error("INVALID_JSON");
  }
  return value;
}

}  // namespace qbsync
