// Strict JSON reading shared by every reader of service answers and state
// files: no comments, no trailing content, no repeated key in any object and
// a bounded nesting depth.
#ifndef QB_SERVICE_STRICT_JSON_H
#define QB_SERVICE_STRICT_JSON_H

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qbsync {

// Deepest nesting any reader accepts. Serialising, copying and comparing a
// value recurse once per level, so text nested deeper than this is refused
// rather than risking the stack; nothing the system or the service writes
// comes near it.
inline constexpr int kMaxJsonDepth = 64;

// Parses `text` as one JSON value (any root type) whose containers nest at
// most `maxDepth` levels (the root container is level 1). The parse itself is
// iterative, so hostile nesting cannot exhaust the stack. Returns false on any
// syntax error, repeated key, invalid UTF-8 or excess depth; never throws for
// bad text. Any thread.
bool parseStrictJson(std::string_view text, int maxDepth, nlohmann::json& out);

}  // namespace qbsync

#endif
