// Reading what a 4xx answer says about itself: the declared content type, the
// "error" object of its body, and the Retry-After header of any answer.
// Pure functions of their inputs.
#ifndef QB_SERVICE_ERROR_ENVELOPE_H
#define QB_SERVICE_ERROR_ENVELOPE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qbsync {

// Error bodies are read up to this size; a longer one carries no details.
inline constexpr std::size_t kErrorBodyLimit = 4096;
inline constexpr std::int32_t kRetryAfterCapSeconds = 86400;

struct ErrorEnvelope {
  std::string code;   // a recognised service code, or empty
  std::string field;  // a recognised field, only with a code; or empty
};

// True when the content type, up to its first ";" and without trailing
// spaces, is "application/json" in any letter case.
bool isJsonContentType(std::string_view contentType);

// The code and field of a body of 1 to 4096 bytes whose root object has an
// "error" object with string "code" and "field" members. Bodies that are not
// JSON, nest deeper than 12 levels, repeat a key, or lack the members yield
// an empty envelope; so do codes and fields outside the vocabularies.
ErrorEnvelope readErrorEnvelope(std::string_view body);

// Seconds to wait from a Retry-After value: all decimal digits count as
// seconds (capped at 86400, an overflowing value included); otherwise an HTTP
// date (IMF-fixdate, RFC 850 or asctime form) later than `nowFileTime` (100 ns
// units since 1601-01-01 UTC) gives the whole seconds up to it, truncated and
// capped. Anything else, a date not in the future included, gives 0.
std::int32_t parseRetryAfter(std::string_view value, std::uint64_t nowFileTime);

// parseRetryAfter against the process clock (support/clock.h).
std::int32_t retryAfterFromNow(std::string_view value);

}  // namespace qbsync

#endif
