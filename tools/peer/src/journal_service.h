// The service side of the six journal requests, independent of any HTTP
// library: one WireRequest in, one WireAnswer out. Strict: whatever the real
// service would refuse is refused with its status, code and field. Keeps the
// protocol state (keys, operations, sequences) in memory and records stored
// executions and notes through the PeerStore. Thread-safe (one mutex).
#pragma once

#include "peer_config.h"
#include "peer_store.h"

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qbpeer {

struct WireRequest {
  std::string method;
  std::string path;
  bool has_query = false;
  // Header names in lower case; a name may repeat.
  std::multimap<std::string, std::string> headers;
  std::string body;
};

struct WireAnswer {
  int status = 200;
  std::string body;
  std::string content_type = "application/json";
};

struct Outcome {
  WireAnswer answer;
  bool replay = false;
  std::string error_code;  // of a refusal, else empty
  std::string user;        // authenticated email, else empty
};

// The error envelope {"error":{"code":..,"field":..}}.
std::string errorBody(const std::string& code, const std::string& field);

class JournalService {
 public:
  JournalService(PeerConfig config, PeerStore& store);
  JournalService(const JournalService&) = delete;
  JournalService& operator=(const JournalService&) = delete;

  // Answers one request. Never throws for anything the client sends; a
  // failure to write the state files throws std::runtime_error.
  Outcome handle(const WireRequest& request);

 private:
  struct Stream {
    std::vector<std::string> stored;  // compact execution texts; index = sequence - 1
  };
  struct Operation {
    std::string email;
    std::string account_id;
    long long record_count = 0;
    long long data_version = 0;
    bool waiting_for_sequence = false;
    int polls = 0;
  };
  struct KeptAnswer {
    std::string method, path, body_sha256;
    WireAnswer answer;
  };
  struct Context;

  WireAnswer dispatch(Context& ctx);
  WireAnswer accounts(Context& ctx);
  WireAnswer readiness(Context& ctx);
  WireAnswer journalBatch(Context& ctx);
  WireAnswer nativeBatch(Context& ctx);
  WireAnswer importStatus(Context& ctx, const std::string& operation_id);
  WireAnswer note(Context& ctx);
  // Applies a validated batch to its stream: gap → false (nothing stored);
  // overlap that differs or a reused execution id throws Refusal 409.
  bool applyToStream(const std::string& stream_key, const std::string& account_id, const nlohmann::json& executions,
                     const nlohmann::json& line_template);
  nlohmann::json journalReceipt(const std::string& id, const Operation& op) const;

  const PeerConfig config_;
  PeerStore& store_;
  std::mutex mutex_;
  std::map<std::string, Stream> streams_;
  // account id → source_execution_id → stream key and sequence
  std::map<std::string, std::map<std::string, std::pair<std::string, unsigned long long>>> execution_ids_;
  std::map<std::string, long long> data_versions_;
  std::map<std::string, Operation> operations_;
  std::map<std::pair<std::string, std::string>, KeptAnswer> keys_;  // (email, key)
  long long note_count_ = 0;
};

}  // namespace qbpeer
