#include "storage/durable_file.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "storage/file_api.h"
#include "storage/storage_texts.h"

namespace qbsync {
namespace {

[[noreturn]] void fail(const char* text) { throw std::runtime_error(text); }

// Exclusive, truncating, write-through: a leftover temporary file of an
// interrupted write is simply reused.
HANDLE createTemporary(const std::string& tmp) {
  return fileApi().createFileA(tmp.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
}

// Writes and flushes the temporary file; the handle is closed on every path.
void writeTemporary(HANDLE file, std::string_view content) {
  try {
    writeAllAndFlush(file, content);
  } catch (...) {
    fileApi().closeHandle(file);
    throw;
  }
  fileApi().closeHandle(file);
}

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) fileApi().findClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool isDirectory(const WIN32_FIND_DATAA& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

}  // namespace

bool pathExists(const std::string& path) {
  return fileApi().getFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes the temporary file and renames it onto a target that must not exist:
// without replace-existing the rename refuses a target that appeared meanwhile.
static bool renameIntoPlace(const std::string& target, std::string_view content) {
  const std::string tmp = target + ".tmp";
  HANDLE file = createTemporary(tmp);
  if (file == INVALID_HANDLE_VALUE) fail(storage_text::kOpenTemporary);
  writeTemporary(file, content);
  return fileApi().moveFileExA(tmp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool publishOnce(const std::string& target, std::string_view content) {
  if (pathExists(target)) return false;
  if (!renameIntoPlace(target, content)) fail(storage_text::kPublishRename);
  return true;
}

void writeAllAndFlush(HANDLE file, std::string_view content) {
  std::size_t done = 0;
  while (done < content.size()) {
    // Each call asks for the rest, clamped so a huge remainder never wraps to a small count.
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, MAXDWORD));
    DWORD written = 0;
    if (!fileApi().writeFile(file, content.data() + done, ask, &written) || written == 0) {
      fail(storage_text::kWriteFailed);
    }
    done += std::min<std::size_t>(written, ask);
  }
  if (!fileApi().flushFileBuffers(file)) fail(storage_text::kFlushFailed);
}

std::string readSmallFile(const std::string& path) {
  HANDLE file = fileApi().createFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) fail(storage_text::kReadOpen);
  LARGE_INTEGER size;
  if (!fileApi().getFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kSmallFileLimit) {
    fileApi().closeHandle(file);
    fail(storage_text::kReadSize);
  }
  std::string content(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  const BOOL ok = fileApi().readFile(file, content.data(), static_cast<DWORD>(content.size()), &read);
  fileApi().closeHandle(file);
  if (!ok || read != content.size()) fail(storage_text::kReadIncomplete);
  return content;
}

std::string readJournalFile(const std::string& path, std::size_t limit) {
  return readListedJournalFile(path, fileApi().getFileAttributesA(path.c_str()), limit);
}

std::string readListedJournalFile(const std::string& path, DWORD listedAttributes, std::size_t limit) {
  if (listedAttributes == INVALID_FILE_ATTRIBUTES ||
      (listedAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    fail(storage_text::kPathUnavailable);
  }
  std::string content = readSmallFile(path);
  if (content.size() > limit) fail(storage_text::kFileLimit);
  return content;
}

void writeImmutable(const std::string& path, std::string_view content) {
  // The rename comes first and refuses an existing target; a check before it
  // would cost a directory scan per file on some file systems. Only a refused
  // rename (a repeat after a crash, or a conflict) looks at what is there; its
  // temporary file stays, as after an interrupted write, and is reused.
  if (renameIntoPlace(path, content)) return;
  if (!pathExists(path)) fail(storage_text::kCommitFailed);
  if (readJournalFile(path, kSmallFileLimit) != content) fail(storage_text::kImmutableConflict);
}

void requirePathKind(const std::string& path, bool directoryExpected) {
  const DWORD attributes = fileApi().getFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directoryExpected) {
    fail(storage_text::kPathUnavailable);
  }
}

void replaceFile(const std::string& path, std::string_view content) {
  const std::string tmp = path + ".tmp";
  HANDLE file = createTemporary(tmp);
  if (file == INVALID_HANDLE_VALUE) fail(storage_text::kJournalWriteFailed);
  writeTemporary(file, content);
  if (!fileApi().moveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    fail(storage_text::kCommitFailed);
  }
}

std::uint64_t directorySize(const std::string& dir, const std::function<void(const char* name)>& eachFile) {
  WIN32_FIND_DATAA data;
  FindHandle find(fileApi().findFirstFileA((dir + "\\*").c_str(), &data));
  if (!find.valid()) fail(storage_text::kScanStart);
  std::uint64_t total = 0;
  do {
    if (!isDirectory(data)) {
      total += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      if (eachFile) eachFile(data.cFileName);
    }
  } while (fileApi().findNextFileA(find.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) fail(storage_text::kScanFailed);
  return total;
}

std::vector<ListedFile> listFileEntries(const std::string& dir, const std::string& pattern) {
  WIN32_FIND_DATAA data;
  FindHandle find(fileApi().findFirstFileA((dir + "\\" + pattern).c_str(), &data));
  if (!find.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return {};
    fail(storage_text::kListFailed);
  }
  std::vector<ListedFile> entries;
  do {
    if (!isDirectory(data)) entries.push_back(ListedFile{data.cFileName, data.dwFileAttributes});
  } while (fileApi().findNextFileA(find.get(), &data));
  // A listing cut short is not a complete answer: callers would take missing
  // records or journal entries for absent ones.
  if (GetLastError() != ERROR_NO_MORE_FILES) fail(storage_text::kListFailed);
  return entries;
}

std::vector<std::string> listFiles(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  for (ListedFile& entry : listFileEntries(dir, pattern)) names.push_back(std::move(entry.name));
  return names;
}

}  // namespace qbsync
