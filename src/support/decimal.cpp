#include "support/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <regex>
#include <stdexcept>
#include <system_error>

namespace qbsync {
namespace {

constexpr std::size_t kMaxIntegerDigits = 22;

std::string trimFraction(std::string text) {
  if (text.find('.') == std::string::npos) return text;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") return "0";
  return text;
}

}  // namespace

std::string decimalText(double value) {
  if (!std::isfinite(value)) throw std::runtime_error("Non-finite number in Sierra data; collection paused.");

  // to_chars is locale-independent: the host's locale never changes the point.
  char buffer[400];
  const auto printed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 8);
  if (printed.ec != std::errc()) throw std::runtime_error("Non-finite number in Sierra data; collection paused.");
  const std::string text(buffer, printed.ptr);

  double parsed = 0;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (read.ec == std::errc::result_out_of_range) throw std::out_of_range("stod");
  if (read.ec != std::errc()) throw std::invalid_argument("stod");
  const double tolerance = 4 * std::numeric_limits<double>::epsilon() * std::max(1.0, std::fabs(value));
  if (std::fabs(parsed - value) > tolerance) {
    throw std::runtime_error("Sierra value needs more than eight decimal places; API sync requires review.");
  }

  // The sender refuses more than 22 integer digits; refusing here keeps such a
  // value from ever becoming a record the sender would stop on at every start.
  const std::size_t digits = text.find('.') - (text[0] == '-' ? 1 : 0);
  if (digits > kMaxIntegerDigits) {
    throw std::runtime_error("Sierra value exceeds the 22-digit sync range; collection paused for review.");
  }
  return trimFraction(text);
}

std::string normalizeDecimal(std::string_view text, bool positiveRequired, bool nonNegativeRequired) {
  static const std::regex pattern("-?(0|[1-9][0-9]{0,21})(\\.[0-9]{1,8})?", std::regex::ECMAScript);
  if (!std::regex_match(text.begin(), text.end(), pattern)) throw std::runtime_error("INVALID_DECIMAL");
  std::string normalized = trimFraction(std::string(text));
  if (normalized == "-0") normalized = "0";
  const bool negative = normalized.front() == '-';
  if (positiveRequired && (normalized == "0" || negative)) throw std::runtime_error("INVALID_DECIMAL");
  if (nonNegativeRequired && negative) throw std::runtime_error("INVALID_DECIMAL");
  return normalized;
}

std::string sideText(int side) {
  if (side == 1) return "buy";
  if (side == 2) return "sell";
  throw std::runtime_error("Unknown fill side; collection paused.");
}

}  // namespace qbsync
