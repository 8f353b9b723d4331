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

namespace qbsync {
namespace {

constexpr std::size_t kMarkerLimit = 65536;
constexpr std::size_t kReceiptLimit = 65536;
constexpr std::size_t kNoteBodyLimit = 65536;
constexpr std::uint64_t kMaxBatchCount = 500;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

nlohmann::json readJson(const std::string& path, std::size_t limit) {
  return parseJsonObject(readJournalFile(path, limit), kSmallFileLimit);
}

bool readUnsigned(const nlohmann::json& object, const char* key, std::uint64_t& out) {
  const auto it = object.find(key);
  if (it == object.end()) return false;
  if (it->is_number_unsigned()) {
    out = it->get<std::uint64_t>();
    return true;
  }
  if (it->is_number_integer() && it->get<std::int64_t>() >= 0) {
    out = static_cast<std::uint64_t>(it->get<std::int64_t>());
    return true;
  }
  return false;
}

std::vector<std::string> sortedList(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names = listFiles(dir, pattern);
  std::sort(names.begin(), names.end());
  return names;
}

bool isSideFile(const std::string& name, const char* errorPattern) {
  return name.find(".receipt.") != std::string::npos || fullMatch(name, errorPattern);
}

void loadExecutions(NativeSpool& spool) {
  const std::vector<std::string> names = sortedList(spool.spool_dir, "e-*.json");
  for (std::size_t i = 0; i < names.size(); ++i) {
    spool.checkStop();
    const std::uint64_t sequence = i + 1;
    if (names[i] != "e-" + sequenceDigits(sequence) + ".json") fail("EXECUTION_SEQUENCE_GAP");
    const std::string filePath = spool.path(names[i]);
    requirePathKind(filePath, false);
    const nlohmann::json entry = readJson(filePath, kSmallFileLimit);
    const auto execution = entry.find("execution");
    const auto observation = entry.find("observation");
    if (execution == entry.end() || !execution->is_object() || observation == entry.end() ||
        !observation->is_object()) {
      fail("EXECUTION_CORRUPT");
    }
    validateRecord(spool.settings, *observation);
    const nlohmann::json derived = deriveExecution(spool.settings, spool.digest, *observation, sequence);
    if (*execution != derived) fail("EXECUTION_CORRUPT");
    if (requireString(entry, "hash") != spool.digest.sha256Hex(compactJson(derived))) fail("EXECUTION_CORRUPT");

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
  }
}

void loadHighWater(NativeSpool& spool) {
  const std::string filePath = spool.path("high-water.json");
  if (pathExists(filePath)) {
    const nlohmann::json highWater = readJson(filePath, kSmallFileLimit);
    std::uint64_t sequence = 0;
    if (!readUnsigned(highWater, "sequence", sequence) || sequence > spool.executions.size()) {
      fail("EXECUTION_JOURNAL_TRUNCATED");
    }
  } else if (!spool.executions.empty()) {
    fail("EXECUTION_HIGH_WATER_MISSING");
  }
  replaceFile(filePath, compactJson(nlohmann::json{{"sequence", spool.executions.size()}}));
}

void loadMarkers(NativeSpool& spool) {
  for (const std::string& name : listFiles(spool.spool_dir, "o-*.json")) {
    spool.checkStop();
    if (!fullMatch(name, "o-[a-f0-9]{64}\\.json")) fail("OBSERVATION_CORRUPT");
    const std::string filePath = spool.path(name);
    requirePathKind(filePath, false);
    const nlohmann::json marker = readJson(filePath, kMarkerLimit);
    const std::string& hash = requireString(marker, "hash");
    if (!fullMatch(hash, "[a-f0-9]{64}")) fail("OBSERVATION_CORRUPT");
    spool.observations.emplace(name.substr(2, 64), hash);
  }
}

void loadBatches(NativeSpool& spool) {
  std::uint64_t total = 0;
  bool previousUnapplied = false;
  std::set<std::string> keys;
  std::set<std::string> operations;
  for (const std::string& name : sortedList(spool.spool_dir, "b-*.json")) {
    if (isSideFile(name, "b-[0-9]{20}\\.json\\.error\\.json")) continue;
    spool.checkStop();
    const std::string filePath = spool.path(name);
    const nlohmann::json frozen = readJson(filePath, kSmallFileLimit);
    BatchEntry batch;
    if (!readUnsigned(frozen, "first", batch.first) || !readUnsigned(frozen, "count", batch.count)) {
      fail("BATCH_CORRUPT");
    }
    batch.path = filePath;
    batch.key = requireString(frozen, "key");
    batch.body = requireString(frozen, "body");
    const bool valid = !previousUnapplied && isIdentifier(batch.key) && !keys.count(batch.key) &&
                       batch.first == total && batch.count >= 1 && batch.count <= kMaxBatchCount &&
                       spool.executions.size() >= batch.first + batch.count &&
                       name == "b-" + sequenceDigits(batch.first + 1) + ".json" &&
                       batch.body == spool.batchBody(batch.first, batch.count) &&
                       requireString(frozen, "hash") == spool.digest.sha256Hex(batch.body);
    if (!valid) fail("BATCH_CORRUPT");
    keys.insert(batch.key);

    const std::string receiptPath = filePath + ".receipt.json";
    if (pathExists(receiptPath)) {
      const nlohmann::json receipt = readJson(receiptPath, kReceiptLimit);
      verifyImportReceipt(spool, receipt, batch);
      batch.operationId = requireString(receipt, "operation_id");
      batch.status = requireString(receipt, "status");
      if (!operations.insert(batch.operationId).second) fail("REUSED_IMPORT_OPERATION");
    }
    previousUnapplied = !isApplied(batch.status);
    total += batch.count;
    spool.batches.push_back(std::move(batch));
  }
}

void loadNotes(NativeSpool& spool) {
  for (const std::string& name : sortedList(spool.spool_dir, "n-*.json")) {
    if (isSideFile(name, "n-[a-f0-9]{64}\\.json\\.error\\.json")) continue;
    spool.checkStop();
    try {
      if (!fullMatch(name, "n-[a-f0-9]{64}\\.json")) fail("NOTE_CORRUPT");
      spool.note_ids.insert(name.substr(2, 64));
      const std::string filePath = spool.path(name);
      const nlohmann::json request = readJson(filePath, kSmallFileLimit);
      NoteEntry note;
      note.path = filePath;
      note.key = requireString(request, "key");
      note.body = requireString(request, "body");
      if (!isIdentifier(note.key) || note.body.size() > kNoteBodyLimit ||
          requireString(request, "hash") != spool.digest.sha256Hex(note.body)) {
        fail("NOTE_CORRUPT");
      }
      const std::string receiptPath = filePath + ".receipt.json";
      if (pathExists(receiptPath)) {
        verifyNoteReceipt(spool, readJson(receiptPath, kReceiptLimit), note);
        note.confirmed = true;
      }
      spool.notes.push_back(std::move(note));
    } catch (const std::exception&) {
      // A note is optional metadata: it stays on disk for review and the
      // executions keep flowing.
      spool.notes_need_attention = true;
    }
  }
}

}  // namespace

void loadJournal(NativeSpool& spool) {
  loadExecutions(spool);
  loadHighWater(spool);
  loadMarkers(spool);
  loadBatches(spool);
  loadNotes(spool);
}

}  // namespace qbsync
