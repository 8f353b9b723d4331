#include "settings/api_origin.h"

#include <regex>
#include <stdexcept>

namespace qbsync {

std::string normalizeApiOrigin(std::string_view input, bool allowLoopbackHttp) {
  std::string text(input);
  if (text.ends_with('/')) text.pop_back();

  // A second trailing slash is a path, not an origin; refuse it as a bad
  // origin rather than telling the trader that https is required.
  if (text.empty() || text.size() > 512 || text.ends_with('/')) {
    throw std::runtime_error("INVALID_API_ORIGIN");
  }
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F || ch == '\\' || ch == '?' || ch == '#' || ch == '@' ||
        ch == ' ') {
      throw std::runtime_error("INVALID_API_ORIGIN");
    }
  }

  static const std::regex secure(
      "https://[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?(?::([0-9]{1,5}))?");
  static const std::regex loopback("http://127\\.0\\.0\\.1:([1-9][0-9]{0,4})");
  std::smatch m;
  if (!std::regex_match(text, m, secure)) {
    if (!allowLoopbackHttp || !std::regex_match(text, m, loopback)) {
      throw std::runtime_error("HTTPS_REQUIRED");
    }
  }
  if (m[1].matched) {
    const long port = std::stol(m[1].str());  // at most five digits
    if (port < 1 || port > 65535) throw std::runtime_error("INVALID_API_PORT");
  }
  return text;
}

}  // namespace qbsync
