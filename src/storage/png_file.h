#ifndef QB_STORAGE_PNG_FILE_H
#define QB_STORAGE_PNG_FILE_H

#include <cstdint>
#include <string>

namespace qbsync {

constexpr std::uint64_t kMinPngBytes = 57;
constexpr std::uint64_t kMaxPngBytes = 33554432;

// True when the file opens for reading (read sharing), is 57 to 32 MiB long,
// starts with the PNG signature and ends with an empty IEND chunk. `size`
// receives the size when the file could be opened, else 0.
bool isCompletePng(const std::string& path, std::uint64_t* size = nullptr);

}  // namespace qbsync

#endif
