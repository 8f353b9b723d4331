// Small, fresh directories for Windows tests (wine scans a whole directory
// on every file creation, so each test gets its own).
#ifndef QB_TESTS_COMMON_TEMP_DIR_H
#define QB_TESTS_COMMON_TEMP_DIR_H

#include <windows.h>

#include <atomic>
#include <string>

namespace qbtest {

inline std::string freshTempDir(const std::string& tag) {
  static std::atomic<unsigned> counter{0};
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string root = std::string(base) + "qbt";
  CreateDirectoryA(root.c_str(), nullptr);
  for (;;) {
    const std::string dir = root + "\\" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(counter++) + "-" + std::to_string(GetTickCount64() % 100000);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
  }
}

inline void writeFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

inline std::string readFileBytes(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string data;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  CloseHandle(h);
  return data;
}

inline bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace qbtest

#endif
