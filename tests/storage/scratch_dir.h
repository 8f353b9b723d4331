// A small fresh directory per test (wine scans a whole directory on every file
// creation), removed with its contents afterwards. Native calls only, so an
// installed file fault never touches the fixture itself.
#ifndef QB_TESTS_STORAGE_SCRATCH_DIR_H
#define QB_TESTS_STORAGE_SCRATCH_DIR_H

#include <windows.h>

#include <atomic>
#include <string>

namespace qbtest {

inline void removeTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "\\" + name;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryA(path.c_str());  // a link: never follow it
        DeleteFileA(path.c_str());
      } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        removeTree(path);
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    static std::atomic<unsigned> counter{0};
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    const std::string root = std::string(base) + "qbstorage";
    CreateDirectoryA(root.c_str(), nullptr);
    for (;;) {
      path_ = root + "\\" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
      if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
  }
  ~ScratchDir() { removeTree(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

inline bool writeBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string readBytes(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  CloseHandle(h);
  return data;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// True when nobody holds the file open (an exclusive open succeeds).
inline bool isClosed(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace qbtest

#endif
