#ifndef QB_SUPPORT_LOG_EXCERPT_H
#define QB_SUPPORT_LOG_EXCERPT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace qbsync {

// The first `limit` bytes with every byte below 0x20 and 0x7F turned into a
// space, followed by "..." when the text was longer. Cuts by bytes.
std::string logExcerpt(std::string_view text, std::size_t limit);

}  // namespace qbsync

#endif
