#include "time_zones.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace qbhostsim {

struct TimeZones::Zone {
  DYNAMIC_TIME_ZONE_INFORMATION info{};
  // The zone's standing rules. The per-year (dynamic) conversions are not
  // implemented by every Windows layer this host runs on; the standing rules
  // are what a chart of recent dates needs.
  TIME_ZONE_INFORMATION rules{};
};

namespace {

// 1601-01-01 to 1899-12-30, the two epochs of FILETIME and HostDateTime.
constexpr std::int64_t kEpochGapMicros = 109205LL * 86400000000LL;

bool isUtc(const std::string& zone) { return zone == "UTC" || zone == "UTC+00"; }

SYSTEMTIME toSystemTime(HostDateTime value) {
  const std::uint64_t units = static_cast<std::uint64_t>(value + kEpochGapMicros) * 10;
  FILETIME ft{static_cast<DWORD>(units & 0xFFFFFFFFu), static_cast<DWORD>(units >> 32)};
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&ft, &st)) throw std::runtime_error("host date-time out of range");
  return st;
}

HostDateTime fromSystemTime(const SYSTEMTIME& st) {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&st, &ft)) throw std::runtime_error("host date-time out of range");
  const std::uint64_t units = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<HostDateTime>(units / 10) - kEpochGapMicros;
}

std::wstring wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                    static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

}  // namespace

const TimeZones::Zone* TimeZones::find(const std::string& zone) {
  auto it = zones_.find(zone);
  if (it != zones_.end()) return it->second.get();
  const std::wstring key = wide(zone);
  for (DWORD i = 0;; ++i) {
    auto z = std::make_shared<Zone>();
    if (EnumDynamicTimeZoneInformation(i, &z->info) != ERROR_SUCCESS) break;
    if (key == z->info.TimeZoneKeyName) {
      z->rules.Bias = z->info.Bias;
      std::copy(std::begin(z->info.StandardName), std::end(z->info.StandardName), std::begin(z->rules.StandardName));
      z->rules.StandardDate = z->info.StandardDate;
      z->rules.StandardBias = z->info.StandardBias;
      std::copy(std::begin(z->info.DaylightName), std::end(z->info.DaylightName), std::begin(z->rules.DaylightName));
      z->rules.DaylightDate = z->info.DaylightDate;
      z->rules.DaylightBias = z->info.DaylightBias;
      zones_[zone] = z;
      return z.get();
    }
  }
  throw std::runtime_error("unknown Windows time zone id \"" + zone + "\"");
}

void TimeZones::check(const std::string& zone) {
  if (!isUtc(zone)) find(zone);
}

// The zone's offset is whole minutes, so it is found on the millisecond part
// of the time and applied to the full microsecond value.
HostDateTime TimeZones::toUtc(HostDateTime local, const std::string& zone) {
  if (isUtc(zone)) return local;
  const Zone* z = find(zone);
  const SYSTEMTIME st = toSystemTime(local);
  SYSTEMTIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(&z->rules, &st, &utc)) {
    throw std::runtime_error("cannot convert a time of zone \"" + zone + "\" to UTC");
  }
  return local + (fromSystemTime(utc) - fromSystemTime(st));
}

HostDateTime TimeZones::fromUtc(HostDateTime utc, const std::string& zone) {
  if (isUtc(zone)) return utc;
  const Zone* z = find(zone);
  const SYSTEMTIME st = toSystemTime(utc);
  SYSTEMTIME local{};
  if (!SystemTimeToTzSpecificLocalTime(&z->rules, &st, &local)) {
    throw std::runtime_error("cannot convert a UTC time to zone \"" + zone + "\"");
  }
  return utc + (fromSystemTime(local) - fromSystemTime(st));
}

HostDateTime TimeZones::utcNow() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  const std::uint64_t units = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<HostDateTime>(units / 10) - kEpochGapMicros;
}

}  // namespace qbhostsim
