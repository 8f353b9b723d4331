// Native stand-in for host text decoding: Windows-1252 plays the system's
// ANSI code page, read through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/text_encoding.h"

namespace qbsync {
namespace {

void appendLatin1(std::string& out, unsigned char byte) {
  out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
  out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

}  // namespace

std::string decodeHostText(const char* text) {
  if (!text) return {};
  const std::string_view bytes(text, std::strlen(text));
  if (bytes.empty() || isValidUtf8(bytes)) return std::string(bytes);

  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error("Cannot decode Sierra text using UTF-8 or the Windows code page.");
  }
  std::string out;
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[256];
  while (inLeft > 0) {
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EILSEQ && inLeft > 0) {
      // The five bytes 1252 leaves undefined; the platform maps them to U+0080..U+009F.
      appendLatin1(out, static_cast<unsigned char>(*in));
      ++in;
      --inLeft;
      continue;
    }
    iconv_close(cd);
    throw std::runtime_error("Cannot decode Sierra text using UTF-8 or the Windows code page.");
  }
  iconv_close(cd);
  if (out.empty()) throw std::runtime_error("Cannot encode Sierra text as UTF-8.");
  return out;
}

}  // namespace qbsync
