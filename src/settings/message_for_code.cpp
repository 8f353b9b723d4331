#include "settings/message_for_code.h"

#include <array>

namespace qbsync {
namespace {

constexpr std::string_view kLegacyReconciliation =
    "Saved legacy import needs reconciliation; records retained.";

constexpr std::array<std::string_view, 5> kLegacyCodes = {
    "UNSUPPORTED_SOURCE_CRYPTO_FOREX_CFD",
    "LEGACY_IMPORT_RECONCILIATION_REQUIRED",
    "LEGACY_INSTRUMENT_RECONCILIATION_REQUIRED",
    "LEGACY_IMPORT_REQUIRES_RECONCILIATION",
    "LEGACY_DELIVERY_MAPPING_REQUIRES_RECONCILIATION",
};

}  // namespace

std::string messageForCode(std::string_view codeOrMessage) {
  for (const std::string_view code : kLegacyCodes) {
    if (codeOrMessage == code) return std::string(kLegacyReconciliation);
  }
  return std::string(codeOrMessage);
}

}  // namespace qbsync
