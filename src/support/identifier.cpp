#include "support/identifier.h"

#include <regex>

#include "support/identifier_format.h"

namespace qbsync {

std::string formatIdentifier(const GuidFields& guid) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(guid.data1), static_cast<unsigned>(guid.data2),
                static_cast<unsigned>(guid.data3), guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
                guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return buffer;
}

bool isIdentifier(std::string_view text) {
  // Compiled once; shared read-only afterwards (static initialisation is thread-safe).
  static const std::regex pattern("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}",
                                  std::regex::ECMAScript);
  return std::regex_match(text.begin(), text.end(), pattern) && text != "00000000-0000-0000-0000-000000000000";
}

}  // namespace qbsync
