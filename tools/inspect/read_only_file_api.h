// The file seam the inspector runs under: every read is let through with full
// sharing (so a running chart or sender is never blocked by an open handle of
// ours), and every call that could create, write, rename or lock a file is
// refused and counted. The inspector's promise to change nothing thus holds by
// construction, not only by care.
#ifndef QB_TOOLS_INSPECT_READ_ONLY_FILE_API_H
#define QB_TOOLS_INSPECT_READ_ONLY_FILE_API_H

#include <atomic>

#include "storage/file_api.h"

namespace qbinspect {

class ReadOnlyFileApi : public qbsync::FileApi {
 public:
  HANDLE createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
  HANDLE createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
  BOOL writeFile(HANDLE file, const void* data, DWORD size, DWORD* written) override;
  BOOL flushFileBuffers(HANDLE file) override;
  BOOL moveFileExA(const char* from, const char* to, DWORD flags) override;
  BOOL createDirectoryA(const char* path) override;

  // Calls that were refused: any is a fault of the inspector.
  unsigned refused() const { return refused_.load(); }

 private:
  BOOL refuse();
  static bool readOnly(DWORD access, DWORD disposition);

  std::atomic<unsigned> refused_{0};
};

// Installs a ReadOnlyFileApi for the whole process while it lives.
class ReadOnlyScope {
 public:
  ReadOnlyScope();
  ~ReadOnlyScope();
  ReadOnlyScope(const ReadOnlyScope&) = delete;
  ReadOnlyScope& operator=(const ReadOnlyScope&) = delete;
  unsigned refused() const { return api_.refused(); }

 private:
  ReadOnlyFileApi api_;
};

}  // namespace qbinspect

#endif
