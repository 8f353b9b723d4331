// Lowercase hexadecimal text of a digest; shared by the provider variants.
#ifndef QB_SUPPORT_SHA256_HEX_H
#define QB_SUPPORT_SHA256_HEX_H

#include <cstddef>
#include <string>

namespace qbsync {

inline std::string hexDigits(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(count * 2, '0');
  for (std::size_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace qbsync

#endif
