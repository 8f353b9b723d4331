#include "collector/instrument_metadata.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "support/text_encoding.h"
#include "support/timestamp.h"

namespace qbsync {
namespace {

constexpr std::int32_t kFeedConnected = 2;

// Rewrites "d.ddde-N" / "de+N" as plain positional digits.
std::string positional(const std::string& text) {
  const std::size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string digits;
  std::size_t integerDigits = 0;
  bool pointSeen = false;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] == '.') {
      pointSeen = true;
      continue;
    }
    digits += text[i];
    if (!pointSeen) ++integerDigits;
  }
  const long point = static_cast<long>(integerDigits) + std::strtol(text.c_str() + e + 1, nullptr, 10);
  const long length = static_cast<long>(digits.size());
  if (point <= 0) return "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  if (point >= length) return digits + std::string(static_cast<std::size_t>(point - length), '0');
  return digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
}

void addNumber(nlohmann::json& metadata, const char* key, double value) {
  const std::string text = metadataNumberText(value);
  if (!text.empty()) metadata[key] = text;
}

// "%04d-%02d-%02d" of a whole-day count above 0 within years 1900 to 9999, else empty.
std::string tradingDateText(HostDateTime value) {
  const std::int64_t days = value / kMicrosPerDay;
  if (days <= 0) return std::string();
  const CivilTime date = hostCivilTime(days * kMicrosPerDay);
  if (date.year < 1900 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) {
    return std::string();
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
  return buffer;
}

}  // namespace

std::string metadataNumberText(double value) {
  if (!std::isfinite(value) || value <= 0) return std::string();
  char buffer[64];
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) return std::string();
  return positional(std::string(buffer, result.ptr));
}

nlohmann::json captureInstrumentMetadata(StudyHost& host, const std::string& sourceSymbol) {
  const std::string chartSymbol = decodeHostText(host.chartSymbolText);
  const bool tradeScope = chartSymbol == sourceSymbol;
  const bool connected = host.feedState == kFeedConnected;

  nlohmann::json metadata = nlohmann::json::object();
  metadata["source_symbol"] = sourceSymbol;
  metadata["chart_symbol"] = chartSymbol;
  metadata["metadata_scope"] = tradeScope ? "trade_symbol" : "chart_symbol_mismatch";
  metadata["market_data_connected"] = connected;
  if (tradeScope && host.securityKind) metadata["security_type"] = host.securityKind(&host);
  if (host.tradeServiceText) {
    const std::string service = decodeHostText(host.tradeServiceText(&host));
    if (!service.empty()) metadata["trade_service"] = service;
  }

  if (connected && host.symbolDetails && !sourceSymbol.empty()) {
    const char* trade = host.tradeSymbolText;
    const char* raw = (trade && *trade) ? trade : (host.chartSymbolText ? host.chartSymbolText : "");
    // Fields the host leaves untouched stay 0 and are omitted.
    HostSymbolDetails details{};
    host.symbolDetails(&host, raw, &details, 0);
    addNumber(metadata, "tick_size", details.tickSize);
    addNumber(metadata, "currency_value_per_tick", details.currencyValuePerTick);
    addNumber(metadata, "contract_size", details.contractSize);
    addNumber(metadata, "strike_price", details.strikePrice);
    addNumber(metadata, "display_price_multiplier", details.displayPriceMultiplier);
    const std::string date = tradingDateText(details.lastTradingDate);
    if (!date.empty()) metadata["last_trading_date"] = date;
  }
  return metadata;
}

}  // namespace qbsync
