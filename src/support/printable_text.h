// The printable-text rule shared by secrets, names, session ids and request
// values: every byte 0x20 or above except 0x7F (UTF-8 bytes pass), within a
// length range in bytes.
#ifndef QB_SUPPORT_PRINTABLE_TEXT_H
#define QB_SUPPORT_PRINTABLE_TEXT_H

#include <cstddef>
#include <limits>
#include <string_view>

namespace qbsync {

inline bool isPrintableText(std::string_view text, std::size_t minBytes = 0,
                            std::size_t maxBytes = std::numeric_limits<std::size_t>::max()) {
  if (text.size() < minBytes || text.size() > maxBytes) return false;
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace qbsync

#endif
