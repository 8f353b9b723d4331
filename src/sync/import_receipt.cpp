#include "sync/import_receipt.h"

#include <stdexcept>

#include "support/identifier.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

bool integerEquals(const nlohmann::json& object, const char* key, std::uint64_t expected) {
  const auto it = object.find(key);
  if (it == object.end()) return false;
  if (it->is_number_unsigned()) return it->get<std::uint64_t>() == expected;
  return it->is_number_integer() && it->get<std::int64_t>() >= 0 &&
         static_cast<std::uint64_t>(it->get<std::int64_t>()) == expected;
}

bool isKnownStatus(const std::string& status) {
  for (const char* known : {"applied", "applied_analytics_pending", "blocked", "rejected", "revoked", "accepted",
                            "processing", "waiting_for_sequence"}) {
    if (status == known) return true;
  }
  return false;
}

void verifyNative(const ConnectionSettings& settings, const Sha256Provider& digest, const nlohmann::json& receipt,
                  const BatchEntry& batch) {
  const std::string& operation = requireString(receipt, "operation_id");
  const bool ok = integerEquals(receipt, "protocol", 1) && requireString(receipt, "status") == "applied" &&
                  isIdentifier(operation) && (batch.operationId.empty() || batch.operationId == operation);
  if (!ok) fail("INVALID_IMPORT_RECEIPT");
  if (requireString(receipt, "account_id") != settings.account_id) fail("INVALID_IMPORT_RECEIPT");
  if (!integerEquals(receipt, "record_count", batch.count)) fail("INVALID_IMPORT_RECEIPT");
  if (requireString(receipt, "request_sha256") != digest.sha256Hex(batch.body)) {
    fail("INVALID_IMPORT_RECEIPT");
  }
}

void verifyJournal(const ConnectionSettings& settings, const nlohmann::json& receipt, const BatchEntry& batch) {
  const std::string& operation = requireString(receipt, "operation_id");
  if (!isIdentifier(operation) || (!batch.operationId.empty() && batch.operationId != operation)) {
    fail("INVALID_IMPORT_RECEIPT");
  }
  if (requireString(receipt, "account_id") != settings.account_id) fail("INVALID_IMPORT_RECEIPT");
  if (requireString(receipt, "target") != "journal") fail("INVALID_IMPORT_RECEIPT");
  const std::string& status = requireString(receipt, "status");
  if (!integerEquals(receipt, "record_count", batch.count) || !isKnownStatus(status)) {
    fail("INVALID_IMPORT_RECEIPT");
  }
  const auto projection = receipt.find("projection_only");
  if (projection == receipt.end() || !projection->is_boolean() || projection->get<bool>()) {
    fail("PROJECTION_ONLY_RECEIPT");
  }
  if (status == "applied" || status == "applied_analytics_pending") {
    const auto version = receipt.find("data_version");
    const bool ok = version != receipt.end() &&
                    ((version->is_number_unsigned() && version->get<std::uint64_t>() >= 1) ||
                     (version->is_number_integer() && version->get<std::int64_t>() >= 1));
    if (!ok) fail("INVALID_PUBLICATION_VERSION");
  }
}

}  // namespace

void verifyImportReceipt(const ConnectionSettings& settings, const Sha256Provider& digest,
                         const nlohmann::json& receipt, const BatchEntry& batch) {
  requireString(receipt, "operation_id");
  requireString(receipt, "status");
  if (settings.native_instrument_protocol) {
    verifyNative(settings, digest, receipt, batch);
  } else {
    verifyJournal(settings, receipt, batch);
  }
}

}  // namespace qbsync
