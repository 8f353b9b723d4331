// Where durable data may live: fixed local drives, ASCII paths short enough
// for every later file name, never through a junction or symbolic link.
#ifndef QB_STORAGE_FOLDER_RULES_H
#define QB_STORAGE_FOLDER_RULES_H

#include <cstddef>
#include <string>

namespace qbsync {

constexpr std::size_t kDataFolderMaxLength = 55;
constexpr std::size_t kOutboxRootMaxLength = 93;

// The host data folder as a short enough ASCII path (its 8.3 form when needed).
// Throws std::runtime_error with a trader-facing sentence.
std::string validateDataFolder(const char* hostText, std::size_t maxLength);

// Checks, normalises and creates an outbox root; returns the normalised path.
std::string validateOutboxRoot(const char* text);

// Creates one directory level or accepts an existing one; throws unless the
// result is a real directory.
void ensureDirectory(const std::string& path);

}  // namespace qbsync

#endif
