// The canonical text of a GUID; shared by the platform variants of newIdentifier.
#ifndef QB_SUPPORT_IDENTIFIER_FORMAT_H
#define QB_SUPPORT_IDENTIFIER_FORMAT_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace qbsync {

struct GuidFields {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  unsigned char data4[8] = {};
};

// 36 lowercase characters: the 32-bit field, the two 16-bit fields, then the eight bytes in order.
std::string formatIdentifier(const GuidFields& guid);

}  // namespace qbsync

#endif
