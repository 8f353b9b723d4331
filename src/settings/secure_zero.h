// Overwriting secret bytes before their memory goes back to the allocator.
#ifndef QB_SETTINGS_SECURE_ZERO_H
#define QB_SETTINGS_SECURE_ZERO_H

#include <cstddef>
#include <string>

namespace qbsync {

// Overwrites n bytes with zeros through a volatile pointer, so the writes
// are not dropped as dead stores before a free.
inline void secureZeroBytes(void* data, std::size_t n) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) p[i] = 0;
}

// Zeros the whole buffer of text, including the bytes past its size that a
// shorter assignment or a move out of a short string leaves behind, then
// empties it. The buffer is not released.
inline void secureZero(std::string& text) {
  text.resize(text.capacity());
  secureZeroBytes(text.data(), text.size());
  text.clear();
}

}  // namespace qbsync

#endif
