// Conversions between host texts, UTF-8 and UTF-16. All failures are
// std::runtime_error with the texts below.
#ifndef QB_SUPPORT_TEXT_ENCODING_H
#define QB_SUPPORT_TEXT_ENCODING_H

#include <string>
#include <string_view>

namespace qbsync {

// Host text (NUL-terminated, null reads as "") to UTF-8: valid UTF-8 is kept
// byte for byte, anything else is read in the system's ANSI code page.
// Throws "Cannot decode Sierra text using UTF-8 or the Windows code page." or
// "Cannot encode Sierra text as UTF-8.".
std::string decodeHostText(const char* text);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

#ifdef _WIN32
// Strict UTF-8 to UTF-16. Throws "INVALID_UTF8".
std::wstring utf8ToWide(std::string_view text);
// Strict UTF-8 to UTF-16 for window controls. Throws "Invalid UTF-8 in setup text.".
std::wstring setupTextToWide(std::string_view text);
// UTF-16 to UTF-8; unconvertible text is replaced, never refused.
std::string wideToUtf8(std::wstring_view text);
#endif

}  // namespace qbsync

#endif
