#include "sync/journal_load.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "service/json_object.h"
#include "storage/durable_file.h"
#include "support/identifier.h"
#include "sync/execution.h"
#include "sync/import_receipt.h"
#include "sync/note_receipt.h"
#include "sync/record_fields.h"
#include "sync/record_validation.h"
#include "sync/spool_entries.h"

namespace qbsync {
namespace {

constexpr std::size_t kMarkerLimit = 65536;
constexpr std::size_t kReceiptLimit = 65536;
constexpr std::uint64_t kMaxBatchCount = 500;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

nlohmann::json readJson(const std::string& path, std::size_t limit) {
  return parseJsonObject(readJournalFile(path, limit), kSmallFileLimit);
}

// A listed journal file: the listing's attributes stand for the path's, so a
// load of many entries looks each path up once, to open it.
nlohmann::json readListedJson(const std::string& dir, const ListedFile& listed, std::size_t limit) {
  return parseJsonObject(readListedJournalFile(dir + "\\" + listed.name, listed.attributes, limit),
                         kSmallFileLimit);
}

std::vector<ListedFile> sortedEntries(const std::string& dir, const std::string& pattern) {
  std::vector<ListedFile> entries = listFileEntries(dir, pattern);
  std::sort(entries.begin(), entries.end(),
            [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
  return entries;
}

bool isSideFile(const std::string& name, const char* errorPattern) {
  return name.find(".receipt.") != std::string::npos || fullMatch(name, errorPattern);
}

// Runs the checks of one file. Without a sink this is the sender's load and
// the first failure ends it; with one, the failure is reported under
// `culprit` (the file being checked when it failed) and the load goes on.
template <typename Checks>
bool checked(const LoadFailureSink* sink, const std::string& culprit, Checks&& checks) {
  if (!sink) {
    checks();
    return true;
  }
  try {
    checks();
    return true;
  } catch (const std::exception& e) {
    (*sink)(culprit, e.what());
    return false;
  }
}

void loadExecutions(NativeSpool& spool, const LoadFailureSink* sink) {
  const std::vector<ListedFile> entries = sortedEntries(spool.spool_dir, "e-*.json");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    spool.checkStop();
    const bool ok = checked(sink, entries[i].name, [&] {
      const std::uint64_t sequence = i + 1;
      if (entries[i].name != "e-" + sequenceDigits(sequence) + ".json") fail("EXECUTION_SEQUENCE_GAP");
      const nlohmann::json entry = readListedJson(spool.spool_dir, entries[i], kSmallFileLimit);
      const nlohmann::json derived = verifyExecutionEntry(spool.settings, spool.digest, entry, sequence);
      const auto observation = entry.find("observation");

      const std::string& id = requireString(derived, "source_execution_id");
      if (spool.execution_index.count(id)) fail("DUPLICATE_EXECUTION_ID");
      spool.execution_index[id] = i;

      const std::int64_t index = nativeFillIndex(*observation);
      const std::string& executedAt = requireString(derived, "executed_at");
      const auto earlier = spool.fill_order.find(executedAt);
      if (earlier != spool.fill_order.end() && (index < 0 || earlier->second < 0 || earlier->second >= index)) {
        fail("AMBIGUOUS_FILL_ORDER");
      }
      spool.fill_order[executedAt] = index;

      const std::string& eventId = requireString(*observation, "event_id");
      spool.executions.push_back(
          ExecutionEntry{derived, eventId, spool.digest.sha256Hex(compactJson(*observation)), index});
    });
    // A failed entry keeps its place (a null execution) so that the entries
    // after it are checked at their own sequence; batches over it then fail.
    if (!ok) spool.executions.emplace_back();
  }
}

void loadHighWater(NativeSpool& spool, const LoadFailureSink* sink) {
  const std::string filePath = spool.path("high-water.json");
  checked(sink, "high-water.json", [&] {
    if (pathExists(filePath)) {
      const nlohmann::json highWater = readJson(filePath, kSmallFileLimit);
      std::uint64_t sequence = 0;
      if (!readUnsigned(highWater, "sequence", sequence) || sequence > spool.executions.size()) {
        fail("EXECUTION_JOURNAL_TRUNCATED");
      }
    } else if (!spool.executions.empty()) {
      fail("EXECUTION_HIGH_WATER_MISSING");
    }
  });
  if (sink) return;  // a reader leaves the record as it is
  replaceFile(filePath, compactJson(nlohmann::json{{"sequence", spool.executions.size()}}));
}

void loadMarkers(NativeSpool& spool, const LoadFailureSink* sink) {
  for (const ListedFile& listed : listFileEntries(spool.spool_dir, "o-*.json")) {
    const std::string& name = listed.name;
    spool.checkStop();
    checked(sink, name, [&] {
      if (!fullMatch(name, "o-[a-f0-9]{64}\\.json")) fail("OBSERVATION_CORRUPT");
      spool.observations.emplace(name.substr(2, 64),
                                 verifyObservationMarker(readListedJson(spool.spool_dir, listed, kMarkerLimit)));
    });
  }
}

void loadBatches(NativeSpool& spool, const LoadFailureSink* sink) {
  std::uint64_t total = 0;
  bool previousUnapplied = false;
  std::set<std::string> keys;
  std::set<std::string> operations;
  for (const ListedFile& listed : sortedEntries(spool.spool_dir, "b-*.json")) {
    const std::string& name = listed.name;
    if (isSideFile(name, "b-[0-9]{20}\\.json\\.error\\.json")) continue;
    spool.checkStop();
    std::string culprit = name;
    BatchEntry batch;
    bool formed = false;
    const bool ok = checked(sink, culprit, [&] {
      const std::string filePath = spool.path(name);
      const nlohmann::json frozen = readListedJson(spool.spool_dir, listed, kSmallFileLimit);
      batch = readFrozenBatch(frozen);
      batch.path = filePath;
      const bool valid = !previousUnapplied && isIdentifier(batch.key) && !keys.count(batch.key) &&
                         batch.first == total && batch.count >= 1 && batch.count <= kMaxBatchCount &&
                         spool.executions.size() >= batch.first + batch.count &&
                         name == "b-" + sequenceDigits(batch.first + 1) + ".json" &&
                         batch.body == spool.batchBody(batch.first, batch.count) &&
                         requireString(frozen, "hash") == spool.digest.sha256Hex(batch.body);
      if (!valid) fail("BATCH_CORRUPT");
      keys.insert(batch.key);
      formed = true;

      const std::string receiptPath = filePath + ".receipt.json";
      if (pathExists(receiptPath)) {
        culprit = name + ".receipt.json";
        const nlohmann::json receipt = readJson(receiptPath, kReceiptLimit);
        verifyImportReceipt(spool, receipt, batch);
        batch.operationId = requireString(receipt, "operation_id");
        batch.status = requireString(receipt, "status");
        if (!operations.insert(batch.operationId).second) fail("REUSED_IMPORT_OPERATION");
      }
    });
    if (!ok) {
      // A batch that fails its own checks is left out (the ones after it then
      // fail theirs); one whose receipt fails stays frozen.
      if (!formed) continue;
      batch.operationId.clear();
      batch.status = "frozen";
    }
    previousUnapplied = !isApplied(batch.status);
    total += batch.count;
    spool.batches.push_back(std::move(batch));
  }
}

void loadNotes(NativeSpool& spool, const LoadFailureSink* sink) {
  for (const ListedFile& listed : sortedEntries(spool.spool_dir, "n-*.json")) {
    const std::string& name = listed.name;
    if (isSideFile(name, "n-[a-f0-9]{64}\\.json\\.error\\.json")) continue;
    spool.checkStop();
    std::string culprit = name;
    try {
      if (!fullMatch(name, "n-[a-f0-9]{64}\\.json")) fail("NOTE_CORRUPT");
      spool.note_ids.insert(name.substr(2, 64));
      const std::string filePath = spool.path(name);
      NoteEntry note = readNoteRequest(spool.digest, readListedJson(spool.spool_dir, listed, kSmallFileLimit));
      note.path = filePath;
      const std::string receiptPath = filePath + ".receipt.json";
      if (pathExists(receiptPath)) {
        culprit = name + ".receipt.json";
        verifyNoteReceipt(spool, readJson(receiptPath, kReceiptLimit), note);
        note.confirmed = true;
      }
      spool.notes.push_back(std::move(note));
    } catch (const std::exception& e) {
      // A note is optional metadata: it stays on disk for review and the
      // executions keep flowing.
      spool.notes_need_attention = true;
      if (sink) (*sink)(culprit, e.what());
    }
  }
}

void load(NativeSpool& spool, const LoadFailureSink* sink) {
  loadExecutions(spool, sink);
  loadHighWater(spool, sink);
  loadMarkers(spool, sink);
  loadBatches(spool, sink);
  loadNotes(spool, sink);
}

}  // namespace

void loadJournal(NativeSpool& spool) { load(spool, nullptr); }

void inspectJournal(NativeSpool& spool, const LoadFailureSink& onFailure) { load(spool, &onFailure); }

}  // namespace qbsync
