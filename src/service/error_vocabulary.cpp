#include "service/error_vocabulary.h"

#include <array>
#include <regex>
#include <string>
#include <unordered_set>

namespace qbsync {
namespace {

// Every code the service is known to send, in the order the service defines them.
constexpr std::array<std::string_view, kKnownErrorCodeCount> kKnownErrorCodes = {
    "INVALID_SYNC_IDENTITY",
    "INVALID_SYNC_CONNECTOR",
    "SYNC_IDENTITY_DISABLED",
    "INVALID_STORED_IDENTITY",
    "ACCOUNT_BINDING_CHANGED",
    "ACCOUNT_LIMIT",
    "NOT_AUTHORIZED",
    "NOT_FOUND",
    "INVALID_IDEMPOTENCY_KEY",
    "IDEMPOTENCY_CONFLICT",
    "ACCOUNT_MISMATCH",
    "INVALID_ACCOUNT_ID",
    "INVALID_BODY_SIZE",
    "INVALID_FIELDS",
    "INVALID_JSON",
    "DUPLICATE_FIELD",
    "JSON_TOO_COMPLEX",
    "UNSUPPORTED_SCHEMA_VERSION",
    "UNSUPPORTED_MODE",
    "INVALID_EXECUTION_COUNT",
    "INVALID_SOURCE_EXECUTION_ID",
    "INVALID_SOURCE_SEQUENCE",
    "DUPLICATE_SOURCE_EXECUTION_ID",
    "DUPLICATE_SOURCE_SEQUENCE",
    "INVALID_TIMESTAMP",
    "INVALID_SIDE",
    "INVALID_DECIMAL",
    "DECIMAL_OUT_OF_RANGE",
    "VALUE_OUT_OF_RANGE",
    "INVALID_FUTURES_QUANTITY",
    "INVALID_TICK_PRICE",
    "UNSUPPORTED_CURRENCY",
    "UNSUPPORTED_INSTRUMENT",
    "UNSUPPORTED_JOURNAL_INSTRUMENT",
    "UNKNOWN_OR_AMBIGUOUS_INSTRUMENT",
    "UNQUALIFIED_APPLICATION_CATALOG",
    "CONFLICTING_APPLICATION_CATALOG",
    "INVALID_INSTRUMENT_CATALOG",
    "INSTRUMENT_CATALOG_LIMIT",
    "INSTRUMENT_REFERENCE_CONFLICT",
    "CATALOG_LIMIT",
    "SOURCE_EXECUTION_CONFLICT",
    "SOURCE_SEQUENCE_CONFLICT",
    "BOOK_SEQUENCE_EXHAUSTED",
    "ADMISSION_DISABLED",
    "BACKLOG_LIMIT",
    "BUSY",
    "UNAVAILABLE",
    "INVALID_REQUEST",
    "JSON_REQUIRED",
    "BODY_LIMIT",
    "DISABLED",
    "SIERRA_SYNC_DISABLED",
    "SYMBOL_METADATA_REQUIRED",
    "INVERSE_CONTRACT_UNSUPPORTED",
    "FUTURES_SYMBOL_MAPPING_REQUIRED",
    "FUTURES_EXPIRATION_REQUIRED",
    "FUTURES_MULTIPLIER_UNQUALIFIED",
    "FUTURES_CURRENCY_MAPPING_REQUIRED",
    "FUTURES_CURRENCY_MISMATCH",
    "SYMBOL_CURRENCY_MISMATCH",
    "SYMBOL_CURRENCY_REQUIRED",
    "CFD_SYMBOL_MAPPING_REQUIRED",
    "OPTION_METADATA_REQUIRED",
    "CURRENCY_RATE_UNAVAILABLE",
    "SOURCE_SEQUENCE_GAP",
    "EXECUTION_CONFLICT",
    "TRADE_LOCKED",
    "RECONCILIATION_REQUIRED",
    "INVALID_INSTRUMENT_METADATA",
    "NATIVE_PRECISION_UNSUPPORTED",
    "DUPLICATE_EXECUTION",
    "INVALID_EXPIRATION",
    "INVALID_SECURITY_TYPE",
    "INVALID_SOURCE",
    "INVALID_TEXT",
    "NONCHRONOLOGICAL_EXECUTIONS",
    "SOURCE_SYMBOL_MISMATCH",
    "UNSUPPORTED_PROTOCOL",
    "ACCOUNT_NOT_FOUND",
    "RECEIPT_LIMIT",
    "RECEIPT_RECONCILIATION_REQUIRED",
    "CONTRACT_ECONOMICS_REQUIRED",
    "OPTION_MULTIPLIER_UNQUALIFIED",
    "OPTION_SYMBOL_UNRESOLVED",
    "PRICE_REPRESENTATION_UNQUALIFIED",
    "EXECUTION_APPLY_FAILED",
    "EXECUTION_APPLY_UNVERIFIED",
    "EXECUTION_ECONOMICS_CHANGED",
    "INVALID_CONTRACT_QUANTITY",
    "INVALID_PRICE",
    "LATE_EXECUTION_REQUIRES_RECONCILIATION",
    "POST_REQUIRED",
    "PRICE_PRECISION_UNSUPPORTED",
    "QUANTITY_PRECISION_UNSUPPORTED",
    "RECALCULATION_PENDING",
    "SOURCE_HISTORY_LIMIT",
    "SOURCE_HISTORY_RECONCILIATION_REQUIRED",
    "SOURCE_INSTRUMENT_CONFLICT",
    "TRADE_RECONCILIATION_REQUIRED",
    "SOURCE_INSTRUMENT_TYPE_MISMATCH",
    "INSTRUMENT_TYPE_MISMATCH",
    "INVALID_SOURCE_METADATA",
    "REPLAY_REQUIRES_SIMULATION",
    "CHARGE_PRECISION_UNSUPPORTED",
    "EXECUTION_IDENTITY_CHANGED",
    "OPTION_IDENTITY_CONFLICT",
    "SECURITY_TYPE_CONFLICT",
    "STRIKE_PRECISION_UNSUPPORTED",
    "INVALID_ANNOTATION_BODY",
    "INVALID_ANNOTATION_CONTEXT",
    "INVALID_STORED_ANNOTATION",
    "PERSONAL_JOURNAL_CONSENT_REQUIRED",
    "NOTE_LIMIT",
    "RESULT_LIMIT",
    "TRUSTED_HTTPS_PROXY_REQUIRED",
    "RATE_LIMITED",
    "RESPONSE_BUDGET_LIMIT",
};

// Top-level members a service error may name.
constexpr std::array<std::string_view, 10> kTopLevelFields = {
    "body",        "schema_version",     "account_id", "mode",
    "executions",  "source_sequence",    "instrument_catalog",
    "records",     "client_instance_id", "connector",
};

constexpr std::size_t kMaxFieldBytes = 96;
constexpr unsigned kExecutionIndexLimit = 500;

}  // namespace

std::span<const std::string_view> knownErrorCodes() { return kKnownErrorCodes; }

bool isKnownErrorCode(std::string_view code) {
  static const std::unordered_set<std::string_view> table(kKnownErrorCodes.begin(), kKnownErrorCodes.end());
  return table.count(code) != 0;
}

bool isKnownErrorField(std::string_view field) {
  for (const std::string_view name : kTopLevelFields) {
    if (field == name) return true;
  }
  if (field.size() > kMaxFieldBytes) return false;
  static const std::regex pattern(
      "executions\\[(0|[1-9][0-9]{0,2})\\]\\.(?:source_execution_id|source_sequence|executed_at|side|"
      "quantity|native_price|native_currency|base_commission|base_fees|instrument(?:\\.(?:asset_type|"
      "symbol))?)",
      std::regex::ECMAScript);
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_match(field.begin(), field.end(), match, pattern)) return false;
  // At most three digits, so the index always fits.
  return static_cast<unsigned>(std::stoul(match[1].str())) < kExecutionIndexLimit;
}

}  // namespace qbsync
