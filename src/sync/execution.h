// Turning a fill record into the execution that is journaled and sent.
// A pure function of (record, settings, sequence): the journal load re-runs
// it on every stored entry and requires the identical result.
#ifndef QB_SYNC_EXECUTION_H
#define QB_SYNC_EXECUTION_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "support/log_queue.h"
#include "support/sha256.h"

namespace qbsync {

// The execution object of a fill record with the given sequence number.
// Throws std::runtime_error with a code ("INVALID_NATIVE_FILL_ID",
// "UNSAFE_FILL_IDENTITY", "INVALID_SIDE", "INVALID_DECIMAL",
// "INVALID_FUTURES_QUANTITY", "NATIVE_INSTRUMENT_METADATA_REQUIRED",
// "NATIVE_INSTRUMENT_METADATA_MISMATCH", "UTC_TIMESTAMP_REQUIRED",
// "INVALID_OBSERVATION_FIELD").
nlohmann::json deriveExecution(const ConnectionSettings& settings, const Sha256Provider& digest,
                               const nlohmann::json& record, std::uint64_t sequence);

// "sc-" + digest of [account, symbol, session, simulation, native fill id].
std::string sourceExecutionId(const ConnectionSettings& settings, const Sha256Provider& digest,
                              const std::string& nativeFillId);

// Exact product of two non-negative decimal texts; "INVALID_DECIMAL" when the
// result needs more than 8 fraction digits or 22 integer digits.
std::string decimalProduct(const std::string& a, const std::string& b);

// "<verb> execution #<seq>: <symbol> <side> <qty> @ <price>; UTC=...; execution_id=..."
void executionLogLine(const LogSink& sink, const ConnectionSettings& settings, const std::string& verb,
                      const nlohmann::json& execution);

}  // namespace qbsync

#endif
