// Host date-times, UTC timestamps and the current time.
#ifndef QB_SUPPORT_TIMESTAMP_H
#define QB_SUPPORT_TIMESTAMP_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace qbsync {

// Microseconds since 1899-12-30 00:00; 0 means unset. Same type as the host's.
using HostDateTime = std::int64_t;

constexpr std::int64_t kMicrosPerDay = 86400000000LL;
constexpr std::int64_t kHostToUnixMicros = 2209161600000000LL;

// Proleptic Gregorian fields of a host date-time, down to the millisecond.
CivilTime hostCivilTime(HostDateTime value);

// "%04d-%02d-%02dT%02d:%02d:%02d.%06d", no zone suffix.
std::string formatHostDateTime(HostDateTime value);

// Current UTC time as "%04u-%02u-%02uT%02u:%02u:%02u.%03u000Z" (from clock()).
std::string utcNowText();

// Validates a UTC timestamp and returns it with exactly six fraction digits.
// Throws std::runtime_error "UTC_TIMESTAMP_REQUIRED".
std::string normalizeUtcTimestamp(std::string_view text);

// What the study needs of the host to convert times: the same instant in a named zone.
using TimeZoneShift = std::function<HostDateTime(HostDateTime value, const char* zoneName)>;

// The same instant in UTC, through the host ("UTC+00").
HostDateTime hostTimeToUtc(HostDateTime value, const TimeZoneShift& shift);

// Microseconds since 1970-01-01 of a UTC host date-time; 0 stays 0.
std::int64_t unixMicros(HostDateTime utcValue);

// Current Unix microseconds from clock().
std::int64_t unixMicrosNow();

}  // namespace qbsync

#endif
