#include "service/strict_json.h"

#include <set>
#include <string>
#include <vector>

namespace qbsync {
namespace {

// Thrown from the parser callback to abandon the parse at once.
struct Refused {};

}  // namespace

bool parseStrictJson(std::string_view text, int maxDepth, nlohmann::json& out) {
  using nlohmann::json;
  // One key set per object being read, innermost last.
  std::vector<std::set<std::string>> keys;
  const json::parser_callback_t callback = [&](int depth, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        // `depth` counts the containers already open around this one.
        if (depth + 1 > maxDepth) throw Refused{};
        if (event == json::parse_event_t::object_start) keys.emplace_back();
        break;
      case json::parse_event_t::key:
        if (keys.empty() || !keys.back().insert(parsed.get<std::string>()).second) throw Refused{};
        break;
      case json::parse_event_t::object_end:
        if (!keys.empty()) keys.pop_back();
        break;
      default:
        break;
    }
    return true;
  };
  try {
    json value = json::parse(text.begin(), text.end(), callback, /*allow_exceptions=*/true,
                             /*ignore_comments=*/false);
    out = std::move(value);
    return true;
  } catch (const Refused&) {
    return false;
  } catch (const json::exception&) {
    return false;
  }
}

}  // namespace qbsync
