// Proleptic Gregorian day arithmetic (days relative to 1970-01-01), valid far
// beyond any date the host or the platform produces.
#ifndef QB_SUPPORT_CALENDAR_DAYS_H
#define QB_SUPPORT_CALENDAR_DAYS_H

#include <cstdint>

namespace qbsync {

constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

constexpr CivilDate civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = static_cast<unsigned>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

static_assert(daysFromCivil(1970, 1, 1) == 0);
static_assert(daysFromCivil(1899, 12, 30) == -25569);

}  // namespace qbsync

#endif
