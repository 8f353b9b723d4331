// Every Windows file call the storage layer makes goes through FileApi, so
// tests can fail, count or slow the Nth operation on purpose.
#ifndef QB_STORAGE_FILE_API_H
#define QB_STORAGE_FILE_API_H

#include <windows.h>

namespace qbsync {

class FileApi {
 public:
  virtual ~FileApi() = default;
  virtual HANDLE createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
  virtual BOOL writeFile(HANDLE file, const void* data, DWORD size, DWORD* written);
  virtual BOOL readFile(HANDLE file, void* data, DWORD size, DWORD* read);
  virtual BOOL flushFileBuffers(HANDLE file);
  virtual BOOL getFileSizeEx(HANDLE file, LARGE_INTEGER* size);
  virtual BOOL closeHandle(HANDLE handle);
  virtual BOOL moveFileExA(const char* from, const char* to, DWORD flags);
  virtual DWORD getFileAttributesA(const char* path);
  virtual BOOL getFileAttributesExA(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data);
  virtual HANDLE findFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
  virtual BOOL findNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
  virtual BOOL findClose(HANDLE find);
  virtual BOOL createDirectoryA(const char* path);
  virtual UINT getDriveTypeA(const char* root);
  virtual UINT getDriveTypeW(const wchar_t* root);
  virtual DWORD getFileAttributesW(const wchar_t* path);
  virtual DWORD getShortPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size);
  virtual HANDLE createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
  virtual BOOL getFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
};

// The file API in use; the real one unless a test replaced it.
FileApi& fileApi();

// Replaces the file API for the whole process (null restores the real one).
// Tests only, while no other thread uses storage.
void setFileApiForTesting(FileApi* api);

}  // namespace qbsync

#endif
