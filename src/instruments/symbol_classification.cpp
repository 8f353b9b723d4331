#include "instruments/symbol_classification.h"

#include <array>
#include <cstdio>
#include <regex>
#include <set>
#include <string>

namespace qbsync {
namespace {

constexpr std::string_view kMonthCodes = "FGHJKMNQUVXZ";
constexpr std::string_view kMonthNames = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
constexpr std::string_view kSeparators = "-_./: ";

struct UnsupportedRules {
  std::array<std::regex, 5> patterns;
  std::set<std::string, std::less<>> index_cfd_names;
};

// Built on first use under the runtime's thread-safe static initialisation;
// only read afterwards.
const UnsupportedRules& unsupportedRules() {
  static const UnsupportedRules rules{
      {std::regex("(^|[-_./: ])(BMEX|BITMEX|BINANCE|BITFINEX|BSTMP|BITSTAMP|COINBASE|GDAX|"
                  "KRAKEN|OKCOIN|OKX|BYBIT|DERIBIT|BITTREX|GEMINI)([-_./: ]|$)"),
       std::regex("(^|[-_./: ])(CFD|PERP|PERPETUAL|FOREX|CRYPTO)([-_./: ]|$)"),
       std::regex("^(BTC|XBT|ETH|XRP|BCH|LTC|ADA|DOGE|SOL|DOT|BNB|AVAX|ETC|LINK|EOS|TRX|XLM|"
                  "UNI|SHIB|PEPE)[/_-]?(USD|USDT|USDC|EUR|BTC|ETH)([-_./: ]|$)"),
       std::regex("^[A-Z0-9]{2,12}[/_-]?(USDT|USDC)([-_./: ]|$)"),
       std::regex("^(EUR|GBP|USD|JPY|AUD|CAD|CHF|NZD|CNH|CNY|HKD|SGD|MXN|NOK|SEK|ZAR|XAU|XAG|"
                  "XPT|XPD)[/_-]?(EUR|GBP|USD|JPY|AUD|CAD|CHF|NZD|CNH|CNY|HKD|SGD|MXN|NOK|SEK|"
                  "ZAR)([-_./: ]|$)")},
      {"NAS100", "US100", "US500", "SPX500", "US30", "DJI30", "GER30", "GER40", "DE30", "DE40",
       "UK100", "US2000", "JPN225", "JP225", "HK50", "AUS200"}};
  return rules;
}

std::string twoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

bool isUnsupportedSymbol(std::string_view symbol) {
  std::string text(symbol);
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    text.clear();
  } else {
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  }

  const UnsupportedRules& rules = unsupportedRules();
  for (const std::regex& pattern : rules.patterns) {
    if (std::regex_search(text, pattern)) return true;
  }
  const std::string_view prefix = std::string_view(text).substr(0, text.find_first_of(kSeparators));
  return rules.index_cfd_names.count(prefix) != 0;
}

std::string normalizeFutureContract(std::string_view input) {
  std::string text(input);
  if (text.size() > 4 && text.ends_with(".FUT")) text.resize(text.size() - 4);

  static const std::regex numeric("([A-Z0-9]{1,8}) (0[1-9]|1[0-2])-((?:20)?[0-9]{2})");
  static const std::regex named(
      "([A-Z0-9]{1,8}) (JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC)((?:20)?[0-9]{2})");
  static const std::regex coded("([A-Z0-9]{1,8})([FGHJKMNQUVXZ])((?:20)?[0-9]{2})");

  std::smatch m;
  int month = 0;
  if (std::regex_match(text, m, numeric)) {
    month = std::stoi(m[2].str());
  } else if (std::regex_match(text, m, named)) {
    month = static_cast<int>(kMonthNames.find(m[2].str())) / 3 + 1;
  } else if (std::regex_match(text, m, coded)) {
    month = static_cast<int>(kMonthCodes.find(m[2].str())) + 1;
  } else {
    return "";
  }
  const std::string year = m[3].str();
  return m[1].str() + " " + twoDigits(month) + "-" + year.substr(year.size() - 2);
}

std::string stripFutureSuffix(std::string_view source) {
  static const std::regex suffix("_FUT_[A-Z0-9_]+$");
  return std::regex_replace(std::string(source), suffix, "",
                            std::regex_constants::format_first_only);
}

bool isOneDigitYearContract(std::string_view text) {
  static const std::regex shortForm("([A-Z0-9]{1,8})([FGHJKMNQUVXZ])([0-9])");
  return std::regex_match(text.begin(), text.end(), shortForm);
}

char monthCodeLetter(int month) {
  if (month < 1 || month > 12) return '\0';
  return kMonthCodes[static_cast<std::size_t>(month - 1)];
}

InstrumentClass classifySourceInstrument(std::string_view source, std::string_view detectedType) {
  if (isUnsupportedSymbol(source)) {
    return {detectedType == "stock" ? "stock" : "future", ""};
  }
  if (detectedType == "stock") {
    static const std::regex ticker("[A-Z]{1,6}(?:\\.[A-Z])?");
    const bool isTicker = std::regex_match(source.begin(), source.end(), ticker);
    return {"stock", isTicker ? std::string(source) : ""};
  }
  if (!detectedType.empty() && detectedType != "future") return {"future", ""};
  return {"future", normalizeFutureContract(stripFutureSuffix(source))};
}

}  // namespace qbsync
