// The strict JSON object parser used for service answers and the system's own
// state files.
#ifndef QB_SERVICE_JSON_OBJECT_H
#define QB_SERVICE_JSON_OBJECT_H

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qbsync {

// Parses `text` as exactly one JSON object: no comments, no trailing content,
// no repeated key in any object, nesting at most kMaxJsonDepth levels.
// Throws std::runtime_error "JSON_BODY_LIMIT" when the text is empty or longer
// than `limit` bytes, and "INVALID_JSON" for every other failure (syntax,
// repeated key, excess depth, a root that is not an object). Any thread.
nlohmann::json parseJsonObject(std::string_view text, std::size_t limit);

}  // namespace qbsync

#endif
