// Outbox record files as the intake reads them: strict parse, envelope check,
// ordering and the fill's derivation. A record the intake accepts must also
// reload: its journal entry, written and read back, verifies to the same
// execution.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_source.h"
#include "service/json_object.h"
#include "sync/execution.h"
#include "sync/outbox_record.h"
#include "sync/record_fields.h"
#include "sync/spool_entries.h"

namespace {

// The journal reads execution entries up to this size.
constexpr std::size_t kEntryLimit = 1048576;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto kSources = qbfuzz::sources();
  static const qbsync::Sha256Provider digest;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const qbsync::ConnectionSettings& source : kSources) {
    nlohmann::json record;
    qbsync::RecordOrder order;
    try {
      record = qbsync::readOutboxRecord(source, bytes);
      digest.sha256Hex(qbsync::compactJson(record));
      order = qbsync::recordOrder(source, digest, record);
    } catch (const std::exception&) {
      continue;  // refused with a code: the intake stops on it, nothing taken
    }
    if (!order.fill) continue;
    nlohmann::json execution;
    std::string entry;
    try {
      execution = qbsync::deriveExecution(source, digest, record, 7);
      entry = qbsync::compactJson(nlohmann::json{
          {"execution", execution}, {"hash", digest.sha256Hex(qbsync::compactJson(execution))}, {"observation", record}});
    } catch (const std::exception&) {
      qbfuzz::broken("an accepted fill cannot be journaled");
    }
    try {
      const nlohmann::json reread = qbsync::parseJsonObject(entry, kEntryLimit);
      if (qbsync::verifyExecutionEntry(source, digest, reread, 7) != execution) {
        qbfuzz::broken("a journaled fill reloads as another execution");
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "reload: %s\n", e.what());
      qbfuzz::broken("a journaled fill does not reload");
    }
  }
  return 0;
}
