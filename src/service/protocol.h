// The client's side of the journal service protocol: which statuses are
// worth retrying, how the readiness answer is judged, and which path is sent.
#ifndef QB_SERVICE_PROTOCOL_H
#define QB_SERVICE_PROTOCOL_H

#include <cstdint>
#include <string>
#include <string_view>

#include "service/error_vocabulary.h"
#include "service/http_response.h"

namespace qbsync {

inline constexpr std::string_view kAccountDirectoryPath = "/api/v2/journal/accounts";
inline constexpr std::string_view kReadinessPath = "/api/sierrachart-sync/";
inline constexpr std::string_view kDefaultOriginReadinessPath = "/tradeapi/sierrachart-sync/";
inline constexpr std::string_view kBatchesPath = "/api/v2/journal/execution-batches";
inline constexpr std::string_view kImportStatusPrefix = "/api/v2/journal/execution-imports/";
inline constexpr std::string_view kNotesPath = "/api/v2/journal/notes";

// Service answers (receipts, the account directory) are read up to this size.
inline constexpr std::size_t kServiceBodyLimit = 65536;

// True for 0 (no HTTP response), 408, 429 and 500 or more.
bool isRetryableStatus(std::int32_t status);

// Judges the answer to the readiness request. With `eligible` false it
// requires that `accountId` (an identifier) is ready to sync; with it true
// only the credentials are checked and `accountId` must be empty.
// Throws std::runtime_error "INVALID_READINESS_RESPONSE" for a 200 whose
// body is not exactly the expected four-member object (at most 65536 bytes,
// depth 8, no repeated key) or for bad arguments, and NativeReadinessError
// with the trader's sentence for any other status. Any thread.
void checkReadiness(const HttpResponse& response, std::string_view accountId, bool eligible);

// "/tradeapi/sierrachart-sync/" when `origin` is byte for byte the default
// API origin and `path` is the readiness path; `path` unchanged otherwise.
std::string resolvePath(std::string_view origin, std::string_view path);

}  // namespace qbsync

#endif
