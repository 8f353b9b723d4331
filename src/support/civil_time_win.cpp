#include <windows.h>

#include "support/civil_time.h"

namespace qbsync {

bool civilToFileTime(const CivilTime& civil, std::uint64_t& fileTime) {
  // SYSTEMTIME fields are 16-bit; anything outside must not wrap into a valid date.
  const int fields[] = {civil.year, civil.month, civil.day, civil.hour, civil.minute, civil.second, civil.millisecond};
  for (const int field : fields) {
    if (field < 0 || field > 0xFFFF) return false;
  }
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(civil.year);
  st.wMonth = static_cast<WORD>(civil.month);
  st.wDay = static_cast<WORD>(civil.day);
  st.wHour = static_cast<WORD>(civil.hour);
  st.wMinute = static_cast<WORD>(civil.minute);
  st.wSecond = static_cast<WORD>(civil.second);
  st.wMilliseconds = static_cast<WORD>(civil.millisecond);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  fileTime = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return true;
}

bool fileTimeToCivil(std::uint64_t fileTime, CivilTime& civil) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(fileTime);
  ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&ft, &st)) return false;
  civil.year = st.wYear;
  civil.month = st.wMonth;
  civil.day = st.wDay;
  civil.hour = st.wHour;
  civil.minute = st.wMinute;
  civil.second = st.wSecond;
  civil.millisecond = st.wMilliseconds;
  return true;
}

}  // namespace qbsync
