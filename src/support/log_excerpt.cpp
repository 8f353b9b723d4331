#include "support/log_excerpt.h"

namespace qbsync {

std::string logExcerpt(std::string_view text, std::size_t limit) {
  const bool cut = text.size() > limit;
  std::string excerpt(cut ? text.substr(0, limit) : text);
  for (char& c : excerpt) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  if (cut) excerpt += "...";
  return excerpt;
}

}  // namespace qbsync
