// Fault injection for the storage file seam: a FileApi decorator that fails
// the Nth call (of all operations or of chosen ones), once or persistently,
// with a chosen Win32 error, and counts every call. Used the SQLite way: step
// N from 1 until the operation under test succeeds, checking invariants after
// every step.
#ifndef QB_TESTS_COMMON_FAULT_FILE_API_H
#define QB_TESTS_COMMON_FAULT_FILE_API_H

#include <windows.h>

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "storage/file_api.h"

namespace qbtest {

enum class FileOp : std::size_t {
  CreateFileA,
  WriteFile,
  ReadFile,
  FlushFileBuffers,
  GetFileSizeEx,
  CloseHandle,
  MoveFileExA,
  GetFileAttributesA,
  GetFileAttributesExA,
  FindFirstFileA,
  FindNextFileA,
  FindClose,
  CreateDirectoryA,
  GetDriveTypeA,
  GetDriveTypeW,
  GetFileAttributesW,
  GetShortPathNameW,
  CreateFileW,
  GetFileInformationByHandle,
  Count
};

const char* fileOpName(FileOp op);

// Decorates `inner` (by default the file API in use when constructed).
// A failed call does nothing, sets the chosen error and returns the
// operation's failure value (INVALID_HANDLE_VALUE, FALSE,
// INVALID_FILE_ATTRIBUTES, 0, DRIVE_UNKNOWN) — except closeHandle and
// findClose, which still close so that a failed close leaks nothing.
// Thread-safe; configure it before the code under test runs.
class FaultFileApi : public qbsync::FileApi {
 public:
  FaultFileApi();
  explicit FaultFileApi(qbsync::FileApi& inner);
  FaultFileApi(const FaultFileApi&) = delete;
  FaultFileApi& operator=(const FaultFileApi&) = delete;

  // Fails the nth (1-based) call among `ops` (all operations when empty),
  // counted from now; when persistent, every later such call fails too.
  void failAt(unsigned n, DWORD error, bool persistent, std::initializer_list<FileOp> ops = {});
  // Removes the fault and restarts the trigger count; call counts remain.
  void clearFault();
  // True once the fault has hit at least one call.
  bool fired() const;
  // The operations of the failed calls since failAt, in call order.
  std::vector<FileOp> failedOps() const;

  // Calls of one operation / of all operations since construction or resetCounts.
  unsigned calls(FileOp op) const;
  unsigned totalCalls() const;
  void resetCounts();

  // Each writeFile passes at most this many bytes on (0: no cap), to show
  // that callers finish short writes.
  void setMaxWriteChunk(DWORD bytes);
  // Overrides the answer of getDriveTypeA and getDriveTypeW (null: real answer).
  void setDriveType(std::function<UINT(const wchar_t* root)> answer);
  // Overrides getShortPathNameW (null: real answer).
  void setShortPath(std::function<DWORD(const wchar_t* path, wchar_t* buffer, DWORD size)> answer);

  HANDLE createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
  BOOL writeFile(HANDLE file, const void* data, DWORD size, DWORD* written) override;
  BOOL readFile(HANDLE file, void* data, DWORD size, DWORD* read) override;
  BOOL flushFileBuffers(HANDLE file) override;
  BOOL getFileSizeEx(HANDLE file, LARGE_INTEGER* size) override;
  BOOL closeHandle(HANDLE handle) override;
  BOOL moveFileExA(const char* from, const char* to, DWORD flags) override;
  DWORD getFileAttributesA(const char* path) override;
  BOOL getFileAttributesExA(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) override;
  HANDLE findFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override;
  BOOL findNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL findClose(HANDLE find) override;
  BOOL createDirectoryA(const char* path) override;
  UINT getDriveTypeA(const char* root) override;
  UINT getDriveTypeW(const wchar_t* root) override;
  DWORD getFileAttributesW(const wchar_t* path) override;
  DWORD getShortPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size) override;
  HANDLE createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
  BOOL getFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) override;

 private:
  // Counts the call; true (with the error set) when it must fail.
  bool shouldFail(FileOp op);

  qbsync::FileApi& inner_;
  mutable std::mutex mutex_;
  std::array<unsigned, static_cast<std::size_t>(FileOp::Count)> calls_{};
  std::array<bool, static_cast<std::size_t>(FileOp::Count)> selected_{};
  bool armed_ = false;
  bool persistent_ = false;
  bool fired_ = false;
  std::vector<FileOp> failed_;
  unsigned failAt_ = 0;
  unsigned counted_ = 0;
  DWORD error_ = 0;
  DWORD maxWriteChunk_ = 0;
  std::function<UINT(const wchar_t*)> driveType_;
  std::function<DWORD(const wchar_t*, wchar_t*, DWORD)> shortPath_;
};

// Installs a file API for the scope, restoring the previous one after.
class FileApiOverride {
 public:
  explicit FileApiOverride(qbsync::FileApi& api);
  ~FileApiOverride();
  FileApiOverride(const FileApiOverride&) = delete;
  FileApiOverride& operator=(const FileApiOverride&) = delete;

 private:
  qbsync::FileApi* previous_;
};

}  // namespace qbtest

#endif
