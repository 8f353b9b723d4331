#include "read_only_file_api.h"

namespace qbinspect {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kReadRights = GENERIC_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA |
                              READ_CONTROL | SYNCHRONIZE;

}  // namespace

bool ReadOnlyFileApi::readOnly(DWORD access, DWORD disposition) {
  return disposition == OPEN_EXISTING && (access & ~kReadRights) == 0;
}

BOOL ReadOnlyFileApi::refuse() {
  ++refused_;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

HANDLE ReadOnlyFileApi::createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (!readOnly(access, disposition)) {
    refuse();
    return INVALID_HANDLE_VALUE;
  }
  return FileApi::createFileA(path, access, share | kShareAll, disposition, flags);
}

HANDLE ReadOnlyFileApi::createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                    DWORD flags) {
  if (!readOnly(access, disposition)) {
    refuse();
    return INVALID_HANDLE_VALUE;
  }
  return FileApi::createFileW(path, access, share | kShareAll, disposition, flags);
}

BOOL ReadOnlyFileApi::writeFile(HANDLE, const void*, DWORD, DWORD* written) {
  if (written) *written = 0;
  return refuse();
}

BOOL ReadOnlyFileApi::flushFileBuffers(HANDLE) { return refuse(); }

BOOL ReadOnlyFileApi::moveFileExA(const char*, const char*, DWORD) { return refuse(); }

BOOL ReadOnlyFileApi::createDirectoryA(const char*) { return refuse(); }

// The seam is meant for tests; the inspector is a single-threaded command
// that installs it before any file call and removes it after the last.
ReadOnlyScope::ReadOnlyScope() { qbsync::setFileApiForTesting(&api_); }

ReadOnlyScope::~ReadOnlyScope() { qbsync::setFileApiForTesting(nullptr); }

}  // namespace qbinspect
