#include "sync/execution.h"

#include <stdexcept>

#include "support/decimal.h"
#include "support/log_excerpt.h"
#include "support/timestamp.h"
#include "sync/record_fields.h"

namespace qbsync {
namespace {

constexpr std::size_t kMaxNativeFillIdBytes = 1024;
constexpr std::size_t kMaxMetadataBytes = 8192;

[[noreturn]] void fail(const char* code) { throw std::runtime_error(code); }

std::string identityQuality(const nlohmann::json& record) {
  const auto it = record.find("identity_quality");
  if (it == record.end()) return "service";
  return it->is_string() ? it->get<std::string>() : std::string();
}

std::string memberText(const nlohmann::json& execution, const char* key) {
  const auto it = execution.find(key);
  return (it != execution.end() && it->is_string()) ? logExcerpt(it->get<std::string>(), 128) : std::string();
}

}  // namespace

std::string sourceExecutionId(const ConnectionSettings& settings, const Sha256Provider& digest,
                              const std::string& nativeFillId) {
  const nlohmann::json identity = nlohmann::json::array(
      {settings.source_account, settings.source_symbol, settings.session_id, settings.simulation, nativeFillId});
  return "sc-" + digest.sha256Hex(identity.dump());
}

nlohmann::json deriveExecution(const ConnectionSettings& settings, const Sha256Provider& digest,
                               const nlohmann::json& record, std::uint64_t sequence) {
  const std::string& nativeFillId = requireString(record, "native_fill_id");
  if (nativeFillId.empty() || nativeFillId.size() > kMaxNativeFillIdBytes) fail("INVALID_NATIVE_FILL_ID");

  const std::string quality = identityQuality(record);
  if (quality != "service" && !(quality == "local_fallback" && settings.allow_local_fill_ids)) {
    fail("UNSAFE_FILL_IDENTITY");
  }
  const std::string& side = requireString(record, "side");
  if (side != "buy" && side != "sell") fail("INVALID_SIDE");

  const std::string quantity = normalizeDecimal(requireString(record, "quantity"), true, false);
  if (!settings.native_instrument_protocol && settings.asset_type == "future" &&
      quantity.find('.') != std::string::npos) {
    fail("INVALID_FUTURES_QUANTITY");
  }

  nlohmann::json execution = nlohmann::json::object();
  execution["source_execution_id"] = sourceExecutionId(settings, digest, nativeFillId);
  execution["source_sequence"] = std::to_string(sequence);
  execution["side"] = side;
  execution["quantity"] = quantity;

  if (settings.native_instrument_protocol) {
    const auto metadata = record.find("instrument_metadata");
    if (metadata == record.end() || !metadata->is_object()) fail("NATIVE_INSTRUMENT_METADATA_REQUIRED");
    const std::string& recordSymbol = requireString(record, "source_symbol");
    const auto metadataSymbol = metadata->find("source_symbol");
    std::string symbol;
    if (metadataSymbol != metadata->end()) {
      if (!metadataSymbol->is_string()) fail("NATIVE_INSTRUMENT_METADATA_MISMATCH");
      symbol = metadataSymbol->get<std::string>();
    }
    if (symbol != recordSymbol || metadata->dump().size() > kMaxMetadataBytes) {
      fail("NATIVE_INSTRUMENT_METADATA_MISMATCH");
    }
    execution["executed_at"] = normalizeUtcTimestamp(requireString(record, "executed_at"));
    execution["price"] = normalizeDecimal(requireString(record, "price"), false, false);
    execution["commission"] = "0";
    execution["fees"] = "0";
    execution["instrument"] = *metadata;
    return execution;
  }

  execution["executed_at"] = normalizeUtcTimestamp(requireString(record, "executed_at"));
  execution["native_price"] =
      normalizeDecimal(requireString(record, "price"), settings.asset_type == "stock", false);
  execution["native_currency"] = settings.currency;
  execution["base_commission"] = decimalProduct(quantity, settings.commission_per_unit);
  execution["base_fees"] = decimalProduct(quantity, settings.fees_per_unit);
  execution["instrument"] = {{"asset_type", settings.asset_type}, {"symbol", settings.api_symbol}};
  return execution;
}

std::string decimalProduct(const std::string& a, const std::string& b) {
  const std::string left = normalizeDecimal(a, false, true);
  const std::string right = normalizeDecimal(b, false, true);
  std::size_t fractionDigits = 0;
  auto digitsOf = [&fractionDigits](const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return text;
    fractionDigits += text.size() - point - 1;
    return text.substr(0, point) + text.substr(point + 1);
  };
  const std::string x = digitsOf(left);
  const std::string y = digitsOf(right);

  std::string product(x.size() + y.size(), '0');
  for (std::size_t i = x.size(); i-- > 0;) {
    int carry = 0;
    for (std::size_t j = y.size(); j-- > 0;) {
      const int sum = (product[i + j + 1] - '0') + (x[i] - '0') * (y[j] - '0') + carry;
      product[i + j + 1] = static_cast<char>('0' + sum % 10);
      carry = sum / 10;
    }
    product[i] = static_cast<char>(product[i] + carry);
  }
  if (product.size() <= fractionDigits) product.insert(0, fractionDigits - product.size() + 1, '0');
  std::string integerPart = product.substr(0, product.size() - fractionDigits);
  std::string fraction = product.substr(product.size() - fractionDigits);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  const std::size_t firstNonZero = integerPart.find_first_not_of('0');
  integerPart = firstNonZero == std::string::npos ? "0" : integerPart.substr(firstNonZero);
  return normalizeDecimal(fraction.empty() ? integerPart : integerPart + "." + fraction, false, true);
}

void executionLogLine(const LogSink& sink, const ConnectionSettings& settings, const std::string& verb,
                      const nlohmann::json& execution) {
  const char* priceKey = settings.native_instrument_protocol ? "price" : "native_price";
  logTo(sink,
        verb + " execution #" + memberText(execution, "source_sequence") + ": " +
            logExcerpt(settings.source_symbol, 128) + " " + memberText(execution, "side") + " " +
            memberText(execution, "quantity") + " @ " + memberText(execution, priceKey) +
            "; UTC=" + memberText(execution, "executed_at") + "; execution_id=" +
            memberText(execution, "source_execution_id"),
        false);
}

}  // namespace qbsync
