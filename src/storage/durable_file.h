// Crash-safe writes, bounded reads, listings and directory sizes. A crash
// leaves either the old state or the complete new file, never a torn one.
// Paths are narrow ASCII Windows paths. Every failure is std::runtime_error
// with the message the comments name; nothing is deleted on failure.
#ifndef QB_STORAGE_DURABLE_FILE_H
#define QB_STORAGE_DURABLE_FILE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qbsync {

constexpr std::size_t kSmallFileLimit = 1048576;

// Writes content to target+".tmp" and renames it into place without replacing.
// Returns false, touching nothing, when target already exists.
// "Cannot open outbox temporary file.", the write texts of writeAllAndFlush,
// "Cannot publish outbox record; the temporary file was retained.".
bool publishOnce(const std::string& target, std::string_view content);

// "Outbox write failed; no fill cursor was advanced." /
// "Outbox flush failed; no fill cursor was advanced.".
void writeAllAndFlush(HANDLE file, std::string_view content);

// Whole file, at most 1 MiB. "Cannot read outbox metadata.",
// "Invalid outbox metadata size.", "Incomplete outbox metadata read.".
std::string readSmallFile(const std::string& path);

// A plain file (not a directory or reparse point) of at most `limit` bytes.
// "JOURNAL_PATH_UNAVAILABLE", "JOURNAL_FILE_LIMIT", or readSmallFile's texts.
std::string readJournalFile(const std::string& path, std::size_t limit);

// readJournalFile for a file named by a listing of its directory, whose entry
// reported `listedAttributes`: the same plain-file rule is applied to those,
// so the path is not looked up a second time before it is opened. Callers
// use it only for the names of the listing that gave the attributes.
std::string readListedJournalFile(const std::string& path, DWORD listedAttributes, std::size_t limit);

// Publishes once; an existing file with the same bytes is success.
// "IMMUTABLE_FILE_CONFLICT", "JOURNAL_COMMIT_FAILED".
void writeImmutable(const std::string& path, std::string_view content);

// "JOURNAL_PATH_UNAVAILABLE" unless path is a non-reparse entry of the expected kind.
void requirePathKind(const std::string& path, bool directoryExpected);

// Replaces path as a whole. "JOURNAL_WRITE_FAILED", "JOURNAL_COMMIT_FAILED".
void replaceFile(const std::string& path, std::string_view content);

// Sum of the sizes of the plain files directly in dir; `eachFile`, when
// given, is called with the name of each of them.
// "Cannot enumerate outbox directory.", "Outbox directory scan failed.".
std::uint64_t directorySize(const std::string& dir,
                            const std::function<void(const char* name)>& eachFile = {});

// Names of the plain files in dir matching a wildcard pattern, in system order.
// "Cannot enumerate pending capture files." when listing cannot start.
std::vector<std::string> listFiles(const std::string& dir, const std::string& pattern);

// A listed entry: its name and the attributes the listing reported.
struct ListedFile {
  std::string name;
  DWORD attributes = 0;
};

// listFiles with each entry's attributes (reparse points included, as in
// listFiles; directories left out).
std::vector<ListedFile> listFileEntries(const std::string& dir, const std::string& pattern);

// True when the attributes of path can be read.
bool pathExists(const std::string& path);

}  // namespace qbsync

#endif
