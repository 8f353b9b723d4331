// Service answers: the strict object parser, the error envelope, Retry-After,
// the readiness answer and the import and note receipts. Each reader refuses
// bad bytes with its code or an empty result, and nothing else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_source.h"
#include "service/error_envelope.h"
#include "service/error_vocabulary.h"
#include "service/json_object.h"
#include "service/protocol.h"
#include "sync/import_receipt.h"
#include "sync/note_receipt.h"

namespace {

// 2026-01-01T00:00:00Z in 100 ns units since 1601.
constexpr std::uint64_t kNow = 134116992000000000ULL;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto kSources = qbfuzz::sources();
  static const qbsync::Sha256Provider digest;
  const std::string body(reinterpret_cast<const char*>(data), size);

  const qbsync::ErrorEnvelope envelope = qbsync::readErrorEnvelope(body);
  if (!envelope.code.empty() && !qbsync::isKnownErrorCode(envelope.code)) qbfuzz::broken("unknown code kept");
  if (envelope.code.empty() && !envelope.field.empty()) qbfuzz::broken("field without a code");
  qbsync::isJsonContentType(body);
  const std::int32_t wait = qbsync::parseRetryAfter(body, kNow);
  if (wait < 0 || wait > qbsync::kRetryAfterCapSeconds) qbfuzz::broken("Retry-After out of range");

  qbsync::HttpResponse response;
  response.status = 200;
  response.body = body;
  qbfuzz::attempt([&] { qbsync::checkReadiness(response, qbfuzz::kAccountId, false); });
  qbfuzz::attempt([&] { qbsync::checkReadiness(response, "", true); });

  nlohmann::json receipt;
  try {
    receipt = qbsync::parseJsonObject(body, qbsync::kServiceBodyLimit);
  } catch (const std::exception&) {
    return 0;
  }
  qbsync::BatchEntry batch;
  batch.body = R"({"executions":[]})";
  batch.count = 2;
  for (const qbsync::ConnectionSettings& source : kSources) {
    qbfuzz::attempt([&] { qbsync::verifyImportReceipt(source, digest, receipt, batch); });
  }
  qbsync::NoteEntry note;
  note.body = R"({"schema_version":2,"target":{"date":"2025-12-01","type":"day"},"text":"t","title":"n"})";
  qbfuzz::attempt([&] { qbsync::verifyNoteReceipt(receipt, note); });
  return 0;
}
