// Native stand-in for the platform's calendar conversions, with the same
// acceptance: years 1601 to 30827, real calendar days, no hour 24 or second 60.
#include "support/calendar_days.h"
#include "support/civil_time.h"

namespace qbsync {
namespace {

constexpr std::int64_t kFileTimePerDay = 864000000000LL;
constexpr std::int64_t kFileTimeEpochDays = daysFromCivil(1601, 1, 1);
constexpr std::uint64_t kFileTimeLimit = 0x8000000000000000ULL;

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool civilToFileTime(const CivilTime& c, std::uint64_t& fileTime) {
  if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12) return false;
  if (c.day < 1 || c.day > daysInMonth(c.year, c.month)) return false;
  if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59) return false;
  if (c.millisecond < 0 || c.millisecond > 999) return false;
  const std::int64_t days = daysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) -
                            kFileTimeEpochDays;
  const std::int64_t ms = ((static_cast<std::int64_t>(c.hour) * 60 + c.minute) * 60 + c.second) * 1000 + c.millisecond;
  fileTime = static_cast<std::uint64_t>(days * kFileTimePerDay + ms * 10000);
  return true;
}

bool fileTimeToCivil(std::uint64_t fileTime, CivilTime& c) {
  if (fileTime >= kFileTimeLimit) return false;
  const std::int64_t value = static_cast<std::int64_t>(fileTime);
  const CivilDate date = civilFromDays(value / kFileTimePerDay + kFileTimeEpochDays);
  const std::int64_t ms = (value % kFileTimePerDay) / 10000;
  c.year = static_cast<int>(date.year);
  c.month = static_cast<int>(date.month);
  c.day = static_cast<int>(date.day);
  c.hour = static_cast<int>(ms / 3600000);
  c.minute = static_cast<int>(ms / 60000 % 60);
  c.second = static_cast<int>(ms / 1000 % 60);
  c.millisecond = static_cast<int>(ms % 1000);
  return true;
}

}  // namespace qbsync
