// Contents the crash writer produces, so the parent can tell a complete file
// from a torn one.
#ifndef QB_TESTS_STORAGE_CRASH_CONTENT_H
#define QB_TESTS_STORAGE_CRASH_CONTENT_H

#include <string>

namespace qbtest {

// Distinct lengths and bytes per index; large enough to need several disk blocks.
inline std::string crashContent(unsigned i) {
  const std::size_t length = 6000 + (i * 977) % 9000;
  std::string content = "{\"i\":" + std::to_string(i) + ",\"fill\":\"";
  content.append(length, static_cast<char>('a' + i % 26));
  content += "\"}";
  return content;
}

inline std::string crashRecordName(unsigned i) { return "r-" + std::to_string(i) + ".json"; }

}  // namespace qbtest

#endif
