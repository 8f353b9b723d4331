#include "support/timestamp.h"

#include <cstdio>
#include <regex>
#include <stdexcept>

#include "support/calendar_days.h"
#include "support/civil_time.h"

namespace qbsync {
namespace {

constexpr std::int64_t kHostEpochDays = daysFromCivil(1899, 12, 30);
constexpr std::int64_t kFileTimeToUnixMicros = 11644473600000000LL;

struct HostParts {
  CivilTime civil;
  int micros = 0;
};

HostParts hostParts(HostDateTime value) {
  // Floor division keeps times before the base (never produced by the host) on a real calendar.
  std::int64_t day = value / kMicrosPerDay;
  std::int64_t rest = value % kMicrosPerDay;
  if (rest < 0) {
    rest += kMicrosPerDay;
    --day;
  }
  const CivilDate date = civilFromDays(day + kHostEpochDays);
  HostParts parts;
  parts.civil.year = static_cast<int>(date.year);
  parts.civil.month = static_cast<int>(date.month);
  parts.civil.day = static_cast<int>(date.day);
  const std::int64_t seconds = rest / 1000000;
  parts.civil.hour = static_cast<int>(seconds / 3600);
  parts.civil.minute = static_cast<int>(seconds / 60 % 60);
  parts.civil.second = static_cast<int>(seconds % 60);
  parts.micros = static_cast<int>(rest % 1000000);
  parts.civil.millisecond = parts.micros / 1000;
  return parts;
}

int digitsAt(std::string_view text, std::size_t pos, std::size_t count) {
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) value = value * 10 + (text[pos + i] - '0');
  return value;
}

}  // namespace

CivilTime hostCivilTime(HostDateTime value) { return hostParts(value).civil; }

std::string formatHostDateTime(HostDateTime value) {
  const HostParts p = hostParts(value);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", p.civil.year, p.civil.month,
                p.civil.day, p.civil.hour, p.civil.minute, p.civil.second, p.micros);
  return buffer;
}

std::string utcNowText() {
  CivilTime now;
  fileTimeToCivil(clock().fileTimeNow(), now);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u.%03u000Z", static_cast<unsigned>(now.year),
                static_cast<unsigned>(now.month), static_cast<unsigned>(now.day), static_cast<unsigned>(now.hour),
                static_cast<unsigned>(now.minute), static_cast<unsigned>(now.second),
                static_cast<unsigned>(now.millisecond));
  return buffer;
}

std::string normalizeUtcTimestamp(std::string_view text) {
  static const std::regex pattern(
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]{1,6})?Z", std::regex::ECMAScript);
  if (!std::regex_match(text.begin(), text.end(), pattern)) throw std::runtime_error("UTC_TIMESTAMP_REQUIRED");

  CivilTime fields;
  fields.year = digitsAt(text, 0, 4);
  fields.month = digitsAt(text, 5, 2);
  fields.day = digitsAt(text, 8, 2);
  fields.hour = digitsAt(text, 11, 2);
  fields.minute = digitsAt(text, 14, 2);
  fields.second = digitsAt(text, 17, 2);
  std::uint64_t fileTime = 0;
  CivilTime back;
  if (!civilToFileTime(fields, fileTime) || !fileTimeToCivil(fileTime, back) || back.year != fields.year ||
      back.month != fields.month || back.day != fields.day || back.hour != fields.hour ||
      back.minute != fields.minute || back.second != fields.second) {
    throw std::runtime_error("UTC_TIMESTAMP_REQUIRED");
  }

  std::string fraction = text.size() > 20 ? std::string(text.substr(20, text.size() - 21)) : std::string();
  fraction.resize(6, '0');
  return std::string(text.substr(0, 19)) + "." + fraction + "Z";
}

HostDateTime hostTimeToUtc(HostDateTime value, const TimeZoneShift& shift) { return shift(value, "UTC+00"); }

std::int64_t unixMicros(HostDateTime utcValue) { return utcValue == 0 ? 0 : utcValue - kHostToUnixMicros; }

std::int64_t unixMicrosNow() {
  return static_cast<std::int64_t>(clock().fileTimeNow() / 10) - kFileTimeToUnixMicros;
}

}  // namespace qbsync
