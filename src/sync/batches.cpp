#include "sync/batches.h"

#include <stdexcept>

#include "service/api_errors.h"
#include "service/json_object.h"
#include "service/protocol.h"
#include "storage/durable_file.h"
#include "support/identifier.h"
#include "sync/execution.h"
#include "sync/import_receipt.h"
#include "sync/record_fields.h"
#include "sync/retry_delay.h"

namespace qbsync {
namespace {

constexpr std::size_t kBodyLimit = 1048576;
constexpr std::size_t kFrozenFileLimit = kSmallFileLimit;  // what the journal load reads back
constexpr std::size_t kReceiptLimit = 65536;                // likewise for saved receipts
constexpr std::uint64_t kAppliedDelayMs = 250;
constexpr std::uint64_t kPendingDelayMs = 1000;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

std::string frozenDocument(std::uint64_t first, std::uint64_t count, const std::string& key, const std::string& body,
                           const std::string& hash) {
  return compactJson(
      nlohmann::json{{"body", body}, {"count", count}, {"first", first}, {"hash", hash}, {"key", key}});
}

// Freezes the next batch: its exact body and a fresh key, on disk before the first send.
BatchEntry& formBatch(NativeSpool& spool, std::uint64_t next) {
  std::uint64_t count = std::min<std::uint64_t>(spool.executions.size() - next, spool.settings.batch_size);
  const std::string key = newIdentifier();
  std::string body;
  std::string document;
  for (;; --count) {
    if (count == 0) fail("BATCH_LIMIT");
    body = spool.batchBody(next, count);
    if (body.size() > kBodyLimit) continue;
    // The frozen file holds the body escaped once more, and must stay
    // readable by every later start.
    document = frozenDocument(next, count, key, body, spool.digest.sha256Hex(body));
    if (document.size() <= kFrozenFileLimit) break;
  }
  const std::string path = spool.path("b-" + sequenceDigits(next + 1) + ".json");
  spool.reserveSpace(document.size());
  writeImmutable(path, document);
  BatchEntry batch;
  batch.path = path;
  batch.key = key;
  batch.body = body;
  batch.first = next;
  batch.count = count;
  spool.batches.push_back(std::move(batch));
  return spool.batches.back();
}

std::string labelOf(const BatchEntry& batch) {
  return "executions #" + std::to_string(batch.first + 1) + "-" + std::to_string(batch.first + batch.count) +
         "; request=" + batch.key;
}

std::uint64_t applyReceipt(NativeSpool& spool, BatchEntry& batch, const HttpResponse& response,
                           const std::string& label) {
  const nlohmann::json receipt = parseJsonObject(response.body, 65536);
  verifyImportReceipt(spool, receipt, batch);
  const std::string& operation = requireString(receipt, "operation_id");
  for (const BatchEntry& other : spool.batches) {
    if (&other != &batch && other.operationId == operation) fail("REUSED_IMPORT_OPERATION");
  }
  const std::string saved = compactJson(receipt);
  if (saved.size() > kReceiptLimit) fail("IMPORT_RECEIPT_LIMIT");
  replaceFile(batch.path + ".receipt.json", saved);
  batch.operationId = operation;
  batch.status = requireString(receipt, "status");
  spool.failure_count = 0;
  spool.log("Verified receipt for " + label + "; status=" + batch.status + "; operation=" + operation, false);

  const bool applied = isApplied(batch.status);
  if (applied) {
    const LogSink sink = [&spool](const std::string& text, bool isError) { spool.log(text, isError); };
    for (std::uint64_t i = batch.first; i < batch.first + batch.count; ++i) {
      executionLogLine(sink, spool.settings, "Applied", spool.executions[i].execution);
    }
  }
  spool.batch_detail.clear();
  if (!applied) {
    const auto error = receipt.find("application_error");
    if (error != receipt.end() && error->is_object()) {
      const auto code = error->find("code");
      if (code != error->end() && code->is_string() && fullMatch(code->get<std::string>(), "[A-Z_]{1,80}")) {
        spool.batch_detail = "APPLICATION_PENDING_" + code->get<std::string>();
      }
    }
  }
  if (!spool.batch_detail.empty()) spool.log(label + ": " + spool.batch_detail, true);
  if (batch.status == "blocked" || batch.status == "rejected" || batch.status == "revoked") {
    fail("IMPORT_BLOCKED_RECONCILIATION_REQUIRED");
  }
  return applied ? kAppliedDelayMs : kPendingDelayMs;
}

}  // namespace

std::string rejectionMessage(const NativeApiError& error) {
  std::string text = "Import rejected (HTTP " + std::to_string(error.httpStatus()) + ")";
  if (!error.code().empty()) text += ": " + error.code();
  if (!error.field().empty()) text += " at " + error.field();
  text += ". ";
  const std::string& code = error.code();
  if (code == "INVALID_SYNC_IDENTITY" || code == "INVALID_SYNC_CONNECTOR") {
    text += "Check that the Quorbelle server supports the Sierra connector. ";
  } else if (code == "NOT_AUTHORIZED") {
    text += "Check account access and credentials. ";
  } else if (code == "DISABLED" || code == "SIERRA_SYNC_DISABLED" || error.httpStatus() == 404) {
    text += "The Quorbelle server needs the native Sierra sync endpoint enabled. ";
  } else if (code == "INVERSE_CONTRACT_UNSUPPORTED") {
    text += "Quorbelle needs inverse-contract calculations for this source instrument. ";
  } else if (code.find("INSTRUMENT") != std::string::npos || code == "INVALID_TICK_PRICE") {
    text += "Quorbelle could not resolve this instrument from Sierra metadata. ";
  } else if (code.find("METADATA") != std::string::npos || code.find("MAPPING") != std::string::npos) {
    text += "Quorbelle needs a server mapping for this native Sierra symbol. ";
  }
  return text + "Saved records are retained; sync is stopped.";
}

std::optional<std::uint64_t> batchStep(NativeSpool& spool, ITransport& transport) {
  spool.checkStop();
  BatchEntry* current = nullptr;
  for (BatchEntry& batch : spool.batches) {
    if (!isApplied(batch.status)) {
      current = &batch;
      break;
    }
  }
  if (!current) {
    const std::uint64_t next = spool.batches.empty() ? 0 : spool.batches.back().first + spool.batches.back().count;
    if (next >= spool.executions.size()) return std::nullopt;
    current = &formBatch(spool, next);
  }
  BatchEntry& batch = *current;
  if (batch.status == "blocked" || batch.status == "rejected" || batch.status == "revoked") {
    fail("IMPORT_BLOCKED_RECONCILIATION_REQUIRED");
  }
  if (spool.batchBody(batch.first, batch.count) != batch.body) fail("FROZEN_BATCH_CORRUPT");

  const bool native = spool.settings.native_instrument_protocol;
  const bool submit = native || batch.operationId.empty();
  const std::string label = labelOf(batch);
  spool.log((submit ? "Submitting " : "Checking ") + label, false);

  HttpResponse response;
  int expected = 200;
  if (native) {
    response = transport.request("POST", "/api/sierrachart-sync/", batch.body, batch.key);
  } else if (submit) {
    response = transport.request("POST", "/api/v2/journal/execution-batches", batch.body, batch.key);
    expected = 202;
  } else {
    response = transport.request("GET", "/api/v2/journal/execution-imports/" + batch.operationId, "", "");
  }

  if (isRetryableStatus(response.status)) {
    spool.batch_detail = "RETRY_HTTP_" + std::to_string(response.status);
    const std::uint64_t delay = retryDelay(spool, response);
    spool.log("Retrying " + label + " in " + std::to_string(delay) + "ms; original request retained.", true);
    return delay;
  }
  if (response.status != expected) {
    const NativeApiError error(response);
    try {
      replaceFile(batch.path + ".error.json", compactJson(errorDocument(error)));
    } catch (const std::exception&) {
      // The rejection itself is what matters; the details are best effort.
    }
    spool.log("Rejected " + label + ": " + rejectionMessage(error), true);
    throw error;
  }
  return applyReceipt(spool, batch, response, label);
}

}  // namespace qbsync
