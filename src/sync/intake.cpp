#include "sync/intake.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "storage/durable_file.h"
#include "sync/execution.h"
#include "sync/observation_notes.h"
#include "sync/outbox_record.h"
#include "sync/record_fields.h"
#include "sync/record_validation.h"

namespace qbsync {
namespace {

constexpr std::uint64_t kMiB = 1048576;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

struct Candidate {
  nlohmann::json record;
  std::string eventId;
  std::string digest;
  std::string time;
  std::int64_t nativeFillIndex = -1;
  bool fill = false;
};

bool isRecordName(const std::string& name) {
  return name.size() == 69 && name.compare(64, 5, ".json") == 0 && isEventId(name.substr(0, 64));
}

bool candidateBefore(const Candidate& a, const Candidate& b) {
  if (a.time != b.time) return a.time < b.time;
  if (a.fill != b.fill) return a.fill;
  if (a.nativeFillIndex != b.nativeFillIndex) return a.nativeFillIndex < b.nativeFillIndex;
  return a.eventId < b.eventId;
}

void writeMarker(NativeSpool& spool, const Candidate& c) {
  const std::string marker = compactJson(nlohmann::json{{"hash", c.digest}});
  spool.reserveSpace(marker.size());
  writeImmutable(spool.path("o-" + c.eventId + ".json"), marker);
  spool.observations[c.eventId] = c.digest;
  spool.seen_records.insert(c.eventId + ".json");
}

void journalFill(NativeSpool& spool, const Candidate& c) {
  const std::uint64_t sequence = spool.executions.size() + 1;
  nlohmann::json execution = deriveExecution(spool.settings, spool.digest, c.record, sequence);
  const std::string id = requireString(execution, "source_execution_id");
  const auto known = spool.execution_index.find(id);
  if (known != spool.execution_index.end()) {
    // The same fill seen again (after a crash, or under another event id)
    // must match the journaled execution exactly.
    execution["source_sequence"] = std::to_string(known->second + 1);
    if (execution != spool.executions[known->second].execution) fail("NATIVE_FILL_ECONOMICS_CONFLICT");
    return;
  }
  const auto sameTime = spool.fill_order.find(c.time);
  if (sameTime != spool.fill_order.end() &&
      (c.nativeFillIndex < 0 || sameTime->second < 0 || sameTime->second >= c.nativeFillIndex)) {
    fail("LATE_FILL_ORDER_AMBIGUOUS");
  }
  const std::string hash = spool.digest.sha256Hex(compactJson(execution));
  const std::string entry =
      compactJson(nlohmann::json{{"execution", execution}, {"hash", hash}, {"observation", c.record}});
  spool.reserveSpace(entry.size());
  writeImmutable(spool.path("e-" + sequenceDigits(sequence) + ".json"), entry);
  replaceFile(spool.path("high-water.json"), compactJson(nlohmann::json{{"sequence", sequence}}));
  spool.execution_index[id] = spool.executions.size();
  spool.fill_order[c.time] = c.nativeFillIndex;
  spool.executions.push_back(ExecutionEntry{execution, c.eventId, c.digest, c.nativeFillIndex});
  executionLogLine([&spool](const std::string& text, bool isError) { spool.log(text, isError); }, spool.settings,
                   "Queued", execution);
}

}  // namespace

std::size_t intakePass(NativeSpool& spool, const std::function<bool()>& extraStop) {
  auto stopped = [&]() { return spool.stopRequested() || (extraStop && extraStop()); };

  // Collect the records not yet handled in this run.
  std::vector<Candidate> candidates;
  std::map<std::string, std::map<std::string, std::int64_t>> fillsByTime;
  for (const ListedFile& listed : listFileEntries(spool.outbox_dir, "*.json")) {
    if (stopped()) return 0;
    const std::string& name = listed.name;
    if (!isRecordName(name) || spool.seen_records.count(name)) continue;
    // The listing's attributes decide whether the record is a plain file: a
    // run's first pass reads every record, and a second lookup of each path
    // would cost as much again as the read.
    const nlohmann::json record = readOutboxRecord(
        spool.settings, readListedJournalFile(spool.outbox_dir + "\\" + name, listed.attributes, kOutboxRecordLimit));
    Candidate c;
    c.eventId = requireString(record, "event_id");
    c.digest = spool.digest.sha256Hex(compactJson(record));
    if (name != c.eventId + ".json") fail("EVENT_FILENAME_MISMATCH");
    const auto taken = spool.observations.find(c.eventId);
    if (taken != spool.observations.end()) {
      if (taken->second != c.digest) fail("EVENT_ID_CONFLICT");
      queueNoteRequest(spool, record);  // completes a request an earlier run could not write
      spool.seen_records.insert(name);
      continue;
    }
    const RecordOrder order = recordOrder(spool.settings, spool.digest, record);
    c.fill = order.fill;
    c.time = order.time;
    if (c.fill) {
      c.nativeFillIndex = order.nativeFillIndex;
      auto& ids = fillsByTime[c.time];
      const auto seen = ids.find(order.executionId);
      if (seen != ids.end() && seen->second != c.nativeFillIndex) fail("DUPLICATE_FILL_ORDER_CONFLICT");
      ids[order.executionId] = c.nativeFillIndex;
    }
    c.record = record;
    candidates.push_back(std::move(c));
  }

  // Fills of one time need distinct, known host positions to be ordered.
  for (const auto& [time, ids] : fillsByTime) {
    if (stopped()) return 0;
    if (ids.size() < 2) continue;
    std::set<std::int64_t> indexes;
    for (const auto& [id, index] : ids) {
      if (index < 0 || !indexes.insert(index).second) fail("AMBIGUOUS_FILL_ORDER");
    }
  }

  std::sort(candidates.begin(), candidates.end(), candidateBefore);

  std::size_t taken = 0;
  for (const Candidate& c : candidates) {
    if (stopped()) return taken;
    if (spool.observations.size() >= spool.settings.maximum_events) fail("EVENT_RETENTION_LIMIT");
    spool.refreshSize();
    if (spool.spool_size + 2 * kMiB >= spool.settings.maximum_state_mb * kMiB) fail("STATE_DISK_LIMIT");
    if (c.fill) journalFill(spool, c);
    queueNoteRequest(spool, c.record);
    writeMarker(spool, c);
    ++taken;
  }
  return taken;
}

}  // namespace qbsync
