#include "service/error_envelope.h"

#include <array>

#include <nlohmann/json.hpp>

#include "service/error_vocabulary.h"
#include "service/strict_json.h"
#include "support/clock.h"

namespace qbsync {
namespace {

constexpr int kErrorBodyMaxDepth = 12;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kMonthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kMonthDays[month - 1];
}

// A small cursor over the header text; every reader fails softly.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool literal(std::string_view expected) {
    if (text_.substr(pos_, expected.size()) != expected) return false;
    pos_ += expected.size();
    return true;
  }
  // Exactly `count` digits.
  bool digits(std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (pos_ >= text_.size() || !isDigit(text_[pos_])) return false;
      value = value * 10 + (text_[pos_++] - '0');
    }
    return true;
  }
  // One of the names; its index.
  template <std::size_t N>
  bool oneOf(const std::array<std::string_view, N>& names, int& index) {
    for (std::size_t i = 0; i < N; ++i) {
      if (literal(names[i])) {
        index = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }
  bool atEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {"Monday,", "Tuesday,", "Wednesday,", "Thursday,",
                                                       "Friday,", "Saturday,", "Sunday,"};

bool clockTime(Cursor& in, int& hour, int& minute, int& second) {
  return in.digits(2, hour) && in.literal(":") && in.digits(2, minute) && in.literal(":") &&
         in.digits(2, second);
}

// Seconds since 1970 of an HTTP date, or false when it is not one.
bool httpDateSeconds(std::string_view text, std::int64_t& seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, index = 0;
  bool parsed = false;
  {  // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    Cursor in(text);
    parsed = in.oneOf(kDays, index) && in.literal(", ") && in.digits(2, day) && in.literal(" ") &&
             in.oneOf(kMonths, month) && in.literal(" ") && in.digits(4, year) && in.literal(" ") &&
             clockTime(in, hour, minute, second) && in.literal(" GMT") && in.atEnd();
  }
  if (!parsed) {  // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
    Cursor in(text);
    int shortYear = 0;
    parsed = in.oneOf(kLongDays, index) && in.literal(" ") && in.digits(2, day) && in.literal("-") &&
             in.oneOf(kMonths, month) && in.literal("-") && in.digits(2, shortYear) && in.literal(" ") &&
             clockTime(in, hour, minute, second) && in.literal(" GMT") && in.atEnd();
    // Two-digit years name the century that puts them nearest; 70 and later are 19xx.
    year = shortYear >= 70 ? 1900 + shortYear : 2000 + shortYear;
  }
  if (!parsed) {  // asctime: "Sun Nov  6 08:49:37 1994"
    Cursor in(text);
    parsed = in.oneOf(kDays, index) && in.literal(" ") && in.oneOf(kMonths, month) && in.literal(" ");
    if (parsed) {
      int tens = 0, units = 0;
      parsed = in.literal(" ") ? in.digits(1, units) : (in.digits(1, tens) && in.digits(1, units));
      day = tens * 10 + units;
    }
    parsed = parsed && in.literal(" ") && clockTime(in, hour, minute, second) && in.literal(" ") &&
             in.digits(4, year) && in.atEnd();
  }
  if (!parsed) return false;
  month += 1;
  if (day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 60) return false;
  seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
            hour * 3600 + minute * 60 + second;
  return true;
}

constexpr std::int64_t kFileTimeUnixEpochSeconds = 11644473600LL;

}  // namespace

bool isJsonContentType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  constexpr std::string_view kJson = "application/json";
  if (type.size() != kJson.size()) return false;
  for (std::size_t i = 0; i < type.size(); ++i) {
    if (lowerAscii(type[i]) != kJson[i]) return false;
  }
  return true;
}

ErrorEnvelope readErrorEnvelope(std::string_view body) {
  ErrorEnvelope envelope;
  if (body.empty() || body.size() > kErrorBodyLimit) return envelope;
  nlohmann::json root;
  if (!parseStrictJson(body, kErrorBodyMaxDepth, root) || !root.is_object()) return envelope;
  const auto error = root.find("error");
  if (error == root.end() || !error->is_object()) return envelope;
  const auto code = error->find("code");
  if (code == error->end() || !code->is_string() || !isKnownErrorCode(code->get_ref<const std::string&>())) {
    return envelope;
  }
  envelope.code = code->get<std::string>();
  const auto field = error->find("field");
  if (field != error->end() && field->is_string() && isKnownErrorField(field->get_ref<const std::string&>())) {
    envelope.field = field->get<std::string>();
  }
  return envelope;
}

std::int32_t parseRetryAfter(std::string_view value, std::uint64_t nowFileTime) {
  if (value.empty()) return 0;
  bool allDigits = true;
  for (const char c : value) allDigits = allDigits && isDigit(c);
  if (allDigits) {
    std::uint64_t seconds = 0;
    for (const char c : value) {
      seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
      if (seconds >= static_cast<std::uint64_t>(kRetryAfterCapSeconds)) return kRetryAfterCapSeconds;
    }
    return static_cast<std::int32_t>(seconds);
  }
  std::int64_t dateSeconds = 0;
  if (!httpDateSeconds(value, dateSeconds)) return 0;
  // Both sides in 100 ns units since 1601; a date before 1601 is in the past.
  const std::int64_t since1601 = dateSeconds + kFileTimeUnixEpochSeconds;
  if (since1601 <= 0) return 0;
  const std::uint64_t dateFileTime = static_cast<std::uint64_t>(since1601) * 10000000ULL;
  if (dateFileTime <= nowFileTime) return 0;
  const std::uint64_t ahead = (dateFileTime - nowFileTime) / 10000000ULL;
  return ahead >= static_cast<std::uint64_t>(kRetryAfterCapSeconds) ? kRetryAfterCapSeconds
                                                                      : static_cast<std::int32_t>(ahead);
}

std::int32_t retryAfterFromNow(std::string_view value) { return parseRetryAfter(value, clock().fileTimeNow()); }

}  // namespace qbsync
