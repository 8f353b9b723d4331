// The service error codes and error fields the client recognises. Anything
// outside them is treated as absent.
#ifndef QB_SERVICE_ERROR_VOCABULARY_H
#define QB_SERVICE_ERROR_VOCABULARY_H

#include <cstddef>
#include <span>
#include <string_view>

namespace qbsync {

inline constexpr std::size_t kKnownErrorCodeCount = 118;

// Exact, case-sensitive membership in the service's code set. Tables are
// built once, thread-safely; any thread.
bool isKnownErrorCode(std::string_view code);

// One of the ten top-level member names, or "executions[i].member" (i below
// 500 without leading zeros, member one the client sends in a journal batch),
// at most 96 bytes. Any thread.
bool isKnownErrorField(std::string_view field);

// The code set in definition order (for tests and diagnostics).
std::span<const std::string_view> knownErrorCodes();

}  // namespace qbsync

#endif
