// Native stand-in for the system GUID generator: a random version-4 GUID.
#include <random>
#include <stdexcept>

#include "support/identifier.h"
#include "support/identifier_format.h"

namespace qbsync {

std::string newIdentifier() {
  unsigned char bytes[16];
  try {
    std::random_device device;
    for (std::size_t i = 0; i < sizeof bytes; i += 4) {
      const unsigned int word = device();
      for (std::size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<unsigned char>(word >> (8 * k));
    }
  } catch (const std::exception&) {
    throw std::runtime_error("IDENTITY_GENERATION_FAILED");
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  GuidFields fields;
  fields.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  fields.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  fields.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  for (std::size_t k = 0; k < 8; ++k) fields.data4[k] = bytes[8 + k];
  return formatIdentifier(fields);
}

}  // namespace qbsync
