#include "sync/spool_entries.h"

#include <stdexcept>

#include "support/identifier.h"
#include "sync/execution.h"
#include "sync/record_fields.h"
#include "sync/record_validation.h"

namespace qbsync {
namespace {

constexpr std::size_t kNoteBodyLimit = 65536;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

}  // namespace

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

nlohmann::json verifyExecutionEntry(const ConnectionSettings& settings, const Sha256Provider& digest,
                                    const nlohmann::json& entry, std::uint64_t sequence) {
  const auto execution = entry.find("execution");
  const auto observation = entry.find("observation");
  if (execution == entry.end() || !execution->is_object() || observation == entry.end() ||
      !observation->is_object()) {
    fail("EXECUTION_CORRUPT");
  }
  validateRecord(settings, *observation);
  nlohmann::json derived = deriveExecution(settings, digest, *observation, sequence);
  if (*execution != derived) fail("EXECUTION_CORRUPT");
  if (requireString(entry, "hash") != digest.sha256Hex(compactJson(derived))) fail("EXECUTION_CORRUPT");
  return derived;
}

std::string verifyObservationMarker(const nlohmann::json& marker) {
  const std::string& hash = requireString(marker, "hash");
  if (!fullMatch(hash, "[a-f0-9]{64}")) fail("OBSERVATION_CORRUPT");
  return hash;
}

BatchEntry readFrozenBatch(const nlohmann::json& frozen) {
  BatchEntry batch;
  if (!readUnsigned(frozen, "first", batch.first) || !readUnsigned(frozen, "count", batch.count)) {
    fail("BATCH_CORRUPT");
  }
  batch.key = requireString(frozen, "key");
  batch.body = requireString(frozen, "body");
  return batch;
}

NoteEntry readNoteRequest(const Sha256Provider& digest, const nlohmann::json& request) {
  NoteEntry note;
  note.key = requireString(request, "key");
  note.body = requireString(request, "body");
  if (!isIdentifier(note.key) || note.body.size() > kNoteBodyLimit ||
      requireString(request, "hash") != digest.sha256Hex(note.body)) {
    fail("NOTE_CORRUPT");
  }
  return note;
}

}  // namespace qbsync
