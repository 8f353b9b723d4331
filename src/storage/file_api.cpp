#include "storage/file_api.h"

#include <atomic>

namespace qbsync {
namespace {

std::atomic<FileApi*> testApi{nullptr};

}  // namespace

HANDLE FileApi::createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL FileApi::writeFile(HANDLE file, const void* data, DWORD size, DWORD* written) {
  return ::WriteFile(file, data, size, written, nullptr);
}

BOOL FileApi::readFile(HANDLE file, void* data, DWORD size, DWORD* read) {
  return ::ReadFile(file, data, size, read, nullptr);
}

BOOL FileApi::flushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }

BOOL FileApi::getFileSizeEx(HANDLE file, LARGE_INTEGER* size) { return ::GetFileSizeEx(file, size); }

BOOL FileApi::closeHandle(HANDLE handle) { return ::CloseHandle(handle); }

BOOL FileApi::moveFileExA(const char* from, const char* to, DWORD flags) { return ::MoveFileExA(from, to, flags); }

DWORD FileApi::getFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

BOOL FileApi::getFileAttributesExA(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return ::GetFileAttributesExA(path, GetFileExInfoStandard, data);
}

HANDLE FileApi::findFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) { return ::FindFirstFileA(pattern, data); }

BOOL FileApi::findNextFileA(HANDLE find, WIN32_FIND_DATAA* data) { return ::FindNextFileA(find, data); }

BOOL FileApi::findClose(HANDLE find) { return ::FindClose(find); }

BOOL FileApi::createDirectoryA(const char* path) { return ::CreateDirectoryA(path, nullptr); }

UINT FileApi::getDriveTypeA(const char* root) { return ::GetDriveTypeA(root); }

UINT FileApi::getDriveTypeW(const wchar_t* root) { return ::GetDriveTypeW(root); }

DWORD FileApi::getFileAttributesW(const wchar_t* path) { return ::GetFileAttributesW(path); }

DWORD FileApi::getShortPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size) {
  return ::GetShortPathNameW(path, buffer, size);
}

HANDLE FileApi::createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL FileApi::getFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return ::GetFileInformationByHandle(file, info);
}

FileApi& fileApi() {
  static FileApi real;
  FileApi* api = testApi.load(std::memory_order_acquire);
  return api ? *api : real;
}

void setFileApiForTesting(FileApi* api) { testApi.store(api, std::memory_order_release); }

}  // namespace qbsync
