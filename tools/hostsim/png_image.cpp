#include "png_image.h"

#include <algorithm>
#include <array>

namespace qbhostsim {
namespace {

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    c = table[(c ^ static_cast<unsigned char>(bytes[i])) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& out, const char* type, const std::string& data) {
  put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.append(type, 4);
  out += data;
  put32(out, crc32(out, start));
}

}  // namespace

std::string makePng(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  std::string raw;
  for (std::int32_t y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter: none
    for (std::int32_t x = 0; x < width; ++x) {
      raw.push_back(static_cast<char>((x * 255 / width + seed) & 0xFF));
      raw.push_back(static_cast<char>((y * 255 / height) & 0xFF));
      raw.push_back(static_cast<char>((seed * 37) & 0xFF));
    }
  }
  // zlib stream of stored blocks (at most 65535 bytes each) and its Adler-32.
  std::string z = "\x78\x01";
  for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
    const std::size_t len = std::min<std::size_t>(65535, raw.size() - pos);
    const bool last = pos + len == raw.size();
    z.push_back(last ? '\x01' : '\x00');
    z.push_back(static_cast<char>(len & 0xFF));
    z.push_back(static_cast<char>(len >> 8));
    z.push_back(static_cast<char>(~len & 0xFF));
    z.push_back(static_cast<char>((~len >> 8) & 0xFF));
    z.append(raw, pos, len);
    pos += len;
    if (last) break;
  }
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, (b << 16) | a);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  put32(header, static_cast<std::uint32_t>(width));
  put32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, deflate, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", "");
  return png;
}

}  // namespace qbhostsim
