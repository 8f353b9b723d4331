// What the benchmarks measure the system against: the bare calls a careful
// writer makes for a durable file, and the fill times of generated records.
#ifndef QB_BENCH_BARE_WRITE_H
#define QB_BENCH_BARE_WRITE_H

#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace qbbench {

// Temporary file opened write-through (as the durable-file rules require),
// one write, flush, rename onto the target with `moveFlags` (0 refuses an
// existing target). Throws when any call fails.
inline void bareDurableWrite(const std::string& target, const std::string& bytes, DWORD moveFlags) {
  const std::string temp = target + ".tmp";
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("bare CreateFile failed");
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(h);
  CloseHandle(h);
  if (!ok) throw std::runtime_error("bare write failed");
  if (!MoveFileExA(temp.c_str(), target.c_str(), moveFlags)) throw std::runtime_error("bare MoveFileEx failed");
}

// The bytes of a record file (at most 64 KiB and its line feed), read the
// way a bench re-reads what the system wrote. Throws when the read fails.
inline std::string readRecordFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + path);
  std::string bytes(70000, '\0');
  DWORD got = 0;
  const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  if (!ok) throw std::runtime_error("cannot read " + path);
  bytes.resize(got);
  return bytes;
}

// One fill per second from 14:30 UTC; unique times keep the fill order trivial.
inline std::string fillTimestamp(int n) {
  const int seconds = 14 * 3600 + 30 * 60 + n;
  char text[64];
  std::snprintf(text, sizeof text, "2025-12-01T%02d:%02d:%02d.000000Z", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60);
  return text;
}

}  // namespace qbbench

#endif
