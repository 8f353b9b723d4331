#include "support/sha256.h"

namespace qbsync {

std::string sha256Hex(std::string_view bytes) {
  const Sha256Provider provider;
  return provider.sha256Hex(bytes);
}

}  // namespace qbsync
