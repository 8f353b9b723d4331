#include "storage/png_file.h"

#include <windows.h>

#include <cstring>

#include "storage/file_api.h"

namespace qbsync {
namespace {

constexpr unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr unsigned char kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 174, 66, 96, 130};

bool readAt(HANDLE file, std::int64_t offset, unsigned char* buffer, DWORD size) {
  LARGE_INTEGER position;
  position.QuadPart = offset;
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  DWORD read = 0;
  return fileApi().readFile(file, buffer, size, &read) && read == size;
}

}  // namespace

bool isCompletePng(const std::string& path, std::uint64_t* size) {
  if (size) *size = 0;
  HANDLE file = fileApi().createFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = false;
  LARGE_INTEGER length;
  if (fileApi().getFileSizeEx(file, &length)) {
    const auto bytes = static_cast<std::uint64_t>(length.QuadPart);
    if (size) *size = bytes;
    unsigned char head[8];
    unsigned char tail[12];
    complete = bytes >= kMinPngBytes && bytes <= kMaxPngBytes && readAt(file, 0, head, sizeof head) &&
               std::memcmp(head, kSignature, sizeof head) == 0 &&
               readAt(file, static_cast<std::int64_t>(bytes) - 12, tail, sizeof tail) &&
               std::memcmp(tail, kIend, sizeof tail) == 0;
  }
  fileApi().closeHandle(file);
  return complete;
}

}  // namespace qbsync
