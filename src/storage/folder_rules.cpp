#include "storage/folder_rules.h"

#include <windows.h>

#include <stdexcept>

#include "storage/file_api.h"
#include "storage/storage_texts.h"
#include "support/text_encoding.h"

namespace qbsync {
namespace {

[[noreturn]] void fail(const char* text) { throw std::runtime_error(text); }

bool isPrintableAscii(unsigned value) { return value >= 0x20 && value <= 0x7E; }

bool allPrintableAscii(const std::string& text) {
  for (const char c : text) {
    if (!isPrintableAscii(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool allPrintableAscii(const std::wstring& text) {
  for (const wchar_t c : text) {
    if (!isPrintableAscii(static_cast<unsigned>(c))) return false;
  }
  return true;
}

// Forward slashes become backslashes; trailing separators go, but a bare
// drive root keeps its own.
template <typename Text>
void normalizeSeparators(Text& path) {
  for (auto& c : path) {
    if (c == '/') c = '\\';
  }
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
}

bool isAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool isPlainDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::wstring wideDataFolder(const char* hostText) {
  std::string utf8;
  try {
    utf8 = decodeHostText(hostText);
  } catch (const std::exception&) {
    fail(storage_text::kDataUndecodable);
  }
  if (utf8.empty() || utf8.size() > 32767) fail(storage_text::kDataUndecodable);
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (length <= 0) fail(storage_text::kDataUndecodable);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length) != length) {
    fail(storage_text::kDataCopyFailed);
  }
  if (wide.find(L'\0') != std::wstring::npos) fail(storage_text::kDataUndecodable);
  return wide;
}

std::string narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

bool fileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE handle = fileApi().createFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = fileApi().getFileInformationByHandle(handle, &info);
  fileApi().closeHandle(handle);
  return ok != FALSE;
}

std::wstring shortForm(const std::wstring& path, std::size_t maxLength) {
  const DWORD needed = fileApi().getShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) fail(storage_text::kDataNoShortPath);
  std::wstring buffer(needed, L'\0');
  const DWORD length = fileApi().getShortPathNameW(path.c_str(), buffer.data(), needed);
  if (length == 0 || length >= needed) fail(storage_text::kDataNoShortPath);
  buffer.resize(length);
  if (buffer.empty() || buffer.size() > maxLength || !allPrintableAscii(buffer)) {
    fail(storage_text::kDataShortUnusable);
  }
  return buffer;
}

}  // namespace

std::string validateDataFolder(const char* hostText, std::size_t maxLength) {
  // A NUL-terminated host text cannot hold a NUL byte inside, so the
  // invalid-character rule has nothing left to find here.
  std::wstring path = wideDataFolder(hostText);
  normalizeSeparators(path);
  if (path.size() < 3 || !isAsciiLetter(path[0]) || path[1] != L':' || path[2] != L'\\' ||
      path.find(L"..") != std::wstring::npos) {
    fail(storage_text::kDataNotAbsolute);
  }
  if (fileApi().getDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_FIXED) fail(storage_text::kDataNotFixed);
  if (!isPlainDirectory(fileApi().getFileAttributesW(path.c_str()))) fail(storage_text::kDataUnavailable);
  if (!path.empty() && path.size() <= maxLength && allPrintableAscii(path)) return narrow(path);

  const std::wstring alias = shortForm(path, maxLength);
  BY_HANDLE_FILE_INFORMATION longInfo{};
  BY_HANDLE_FILE_INFORMATION shortInfo{};
  if (!fileIdentity(path, longInfo) || !fileIdentity(alias, shortInfo)) fail(storage_text::kDataShortUnverified);
  if (longInfo.dwVolumeSerialNumber != shortInfo.dwVolumeSerialNumber ||
      longInfo.nFileIndexHigh != shortInfo.nFileIndexHigh || longInfo.nFileIndexLow != shortInfo.nFileIndexLow) {
    fail(storage_text::kDataShortDifferent);
  }
  return narrow(alias);
}

std::string validateOutboxRoot(const char* text) {
  std::string path = text ? text : "";
  if (!allPrintableAscii(path)) fail(storage_text::kOutboxNotAscii);
  if (path.size() <= 2 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) {
    fail(storage_text::kOutboxNotAbsolute);
  }
  normalizeSeparators(path);
  if (path.find("..") != std::string::npos) fail(storage_text::kOutboxDotDot);
  if (path.size() > kOutboxRootMaxLength) fail(storage_text::kOutboxTooLong);
  if (fileApi().getDriveTypeA(path.substr(0, 3).c_str()) != DRIVE_FIXED) fail(storage_text::kOutboxNotFixed);
  ensureDirectory(path);
  return path;
}

void ensureDirectory(const std::string& path) {
  if (!fileApi().createDirectoryA(path.c_str()) && GetLastError() != ERROR_ALREADY_EXISTS) {
    fail(storage_text::kDirectoryCreate);
  }
  if (!isPlainDirectory(fileApi().getFileAttributesA(path.c_str()))) fail(storage_text::kDirectoryNotReal);
}

}  // namespace qbsync
