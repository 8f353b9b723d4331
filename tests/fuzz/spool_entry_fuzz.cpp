// The spool's own files as the journal load reads them back: execution
// entries, the high-water record, observation markers, frozen batches and
// note requests. Every refusal is a code; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_source.h"
#include "service/json_object.h"
#include "sync/record_fields.h"
#include "sync/spool_entries.h"

namespace {

constexpr std::size_t kSpoolFileLimit = 1048576;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto kSources = qbfuzz::sources();
  static const qbsync::Sha256Provider digest;
  nlohmann::json file;
  try {
    file = qbsync::parseJsonObject(std::string_view(reinterpret_cast<const char*>(data), size), kSpoolFileLimit);
  } catch (const std::exception&) {
    return 0;
  }
  for (const qbsync::ConnectionSettings& source : kSources) {
    qbfuzz::attempt([&] {
      const nlohmann::json execution = qbsync::verifyExecutionEntry(source, digest, file, 1);
      // What verified is what the sender batches: it must serialise.
      qbsync::compactJson(execution);
      if (!execution.at("source_execution_id").is_string()) qbfuzz::broken("execution without its id");
    });
  }
  qbfuzz::attempt([&] { qbsync::verifyObservationMarker(file); });
  qbfuzz::attempt([&] {
    const qbsync::BatchEntry batch = qbsync::readFrozenBatch(file);
    if (digest.sha256Hex(batch.body).size() != 64) qbfuzz::broken("digest length");
  });
  qbfuzz::attempt([&] {
    std::uint64_t sequence = 0;
    qbsync::readUnsigned(file, "sequence", sequence);
  });
  qbfuzz::attempt([&] { qbsync::readNoteRequest(digest, file); });
  return 0;
}
