// The sender's durable state for one scope outbox: the "native-sync"
// directory with its manifest, writer lock, execution journal, observation
// markers, note requests and batches. Belongs to one sender thread.
#ifndef QB_SYNC_NATIVE_SPOOL_H
#define QB_SYNC_NATIVE_SPOOL_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "settings/connection_settings.h"
#include "support/log_queue.h"
#include "support/sha256.h"

namespace qbsync {

struct ExecutionEntry {
  nlohmann::json execution;
  std::string eventId;
  std::string recordDigest;
  std::int64_t nativeFillIndex = -1;
};

struct BatchEntry {
  std::string path;
  std::string key;
  std::string body;
  std::string operationId;
  std::string status = "frozen";
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

// Receives a spool file (its name in the spool directory) that fails its
// checks, and the code or message it failed with.
using LoadFailureSink = std::function<void(const std::string& name, const std::string& reason)>;

struct NoteEntry {
  std::string path;
  std::string key;
  std::string body;
  bool confirmed = false;
};

class NativeSpool {
 public:
  using StopPredicate = std::function<bool()>;

  // Opens (or creates) the spool of a scope outbox, binds it to the settings'
  // destination and loads and re-verifies the whole journal. Throws
  // std::runtime_error with a code on every refusal; no spool exists then and
  // the writer lock is released.
  static std::unique_ptr<NativeSpool> open(const ConnectionSettings& settings, const std::string& outboxDir,
                                           StopPredicate stopPredicate, LogSink logSink);
  // Checks an existing spool as open() does, changing nothing: no directory,
  // lock or file is created, opened for writing or replaced. The manifest
  // must carry the settings' binding, mapping.json (when present) their
  // mapping, and the journal is loaded with inspectJournal; each failing file
  // goes to `onFailure` and the checks go on. The spool directory must exist.
  static std::unique_ptr<NativeSpool> inspect(const ConnectionSettings& settings, const std::string& outboxDir,
                                              const LoadFailureSink& onFailure);
  ~NativeSpool();
  NativeSpool(const NativeSpool&) = delete;
  NativeSpool& operator=(const NativeSpool&) = delete;

  // True once the owner asked the sender to stop.
  bool stopRequested() const { return stop_predicate_ && stop_predicate_(); }
  // Throws "SYNC_STOPPED" once the owner asked the sender to stop.
  void checkStop() const;
  // The spool disk budget: "STATE_DISK_LIMIT" when bytes would not fit.
  void reserveSpace(std::uint64_t bytes);
  // Re-measures the spool size when the last measurement is 1000 ms old.
  void refreshSize();
  // The exact request body of executions [first, first + count).
  std::string batchBody(std::uint64_t first, std::uint64_t count) const;
  // Logs to the sink; the sink's failures are swallowed.
  void log(const std::string& text, bool isError) const;

  std::string path(const std::string& name) const { return spool_dir + "\\" + name; }

  const ConnectionSettings settings;
  const std::string outbox_dir;
  const std::string spool_dir;
  std::string client_instance_id;
  std::string batch_detail;
  std::string note_detail;
  Sha256Provider digest;
  std::vector<ExecutionEntry> executions;
  std::map<std::string, std::size_t> execution_index;
  std::map<std::string, std::int64_t> fill_order;
  std::map<std::string, std::string> observations;
  std::set<std::string> seen_records;
  std::vector<BatchEntry> batches;
  std::vector<NoteEntry> notes;
  std::set<std::string> note_ids;
  std::uint32_t failure_count = 0;
  std::uint64_t next_note_at = 0;
  std::uint64_t size_checked_at = 0;
  std::uint64_t spool_size = 0;
  bool notes_need_attention = false;

 private:
  NativeSpool(const ConnectionSettings& settings, const std::string& outboxDir, StopPredicate stopPredicate,
              LogSink logSink);
  void bind();

  void* writer_lock_ = nullptr;
  StopPredicate stop_predicate_;
  LogSink log_sink_;
};

// The manifest.json of a spool directory, read and parsed. Throws
// "JOURNAL_PATH_UNAVAILABLE", readSmallFile's texts, "JSON_BODY_LIMIT" or
// "INVALID_JSON".
nlohmann::json readManifest(const std::string& spoolDir);

// Checks a manifest against the binding it must carry and returns its client
// instance id. Throws "SPOOL_BINDING_MISMATCH", "INVALID_OBSERVATION_FIELD"
// or "MISSING_CLIENT_IDENTITY".
std::string verifyManifest(const nlohmann::json& manifest, const nlohmann::json& binding);

// The exact content of mapping.json for the settings.
std::string mappingText(const ConnectionSettings& settings);

// True for the two applied batch statuses.
bool isApplied(const std::string& status);

// "Captured N; applied M; pending notes K" and its details.
std::string statusSummary(const NativeSpool& spool);

}  // namespace qbsync

#endif
