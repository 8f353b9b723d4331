// The service origin: its default value and the rule every configured
// origin must pass before anything is sent to it.
#ifndef QB_SETTINGS_API_ORIGIN_H
#define QB_SETTINGS_API_ORIGIN_H

#include <string>
#include <string_view>

namespace qbsync {

// The journal service's own API origin; the only place it is spelled out.
inline constexpr char kDefaultApiOrigin[] = "https://api.quorbelle.com";

// Returns the origin with one trailing "/" removed. Accepts
// "https://host[:port]" and, only when allowLoopbackHttp is true,
// "http://127.0.0.1:port". Pure; any thread.
// Throws std::runtime_error:
//   "INVALID_API_ORIGIN" - empty or over 512 bytes, control bytes, any of
//                          \ ? # @ or space, or a path left after removing
//                          the one trailing slash;
//   "HTTPS_REQUIRED"     - not of the accepted shapes;
//   "INVALID_API_PORT"   - port outside 1..65535.
std::string normalizeApiOrigin(std::string_view text, bool allowLoopbackHttp);

}  // namespace qbsync

#endif
