#include <windows.h>

#include <climits>
#include <cstring>
#include <stdexcept>

#include "support/text_encoding.h"

namespace qbsync {
namespace {

// The conversion functions count in int; longer texts are refused instead of cut.
bool fitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

std::string decodeHostText(const char* text) {
  if (!text) return {};
  const std::string_view bytes(text, std::strlen(text));
  if (bytes.empty()) return {};
  if (!fitsInt(bytes.size())) throw std::runtime_error("Cannot decode Sierra text using UTF-8 or the Windows code page.");
  const int size = static_cast<int>(bytes.size());
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0) > 0) {
    return std::string(bytes);
  }
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (wideLength <= 0) throw std::runtime_error("Cannot decode Sierra text using UTF-8 or the Windows code page.");
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), wideLength) != wideLength) {
    throw std::runtime_error("Cannot decode Sierra text using UTF-8 or the Windows code page.");
  }
  const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (utf8Length <= 0) throw std::runtime_error("Cannot encode Sierra text as UTF-8.");
  std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr, nullptr) !=
      utf8Length) {
    throw std::runtime_error("Cannot encode Sierra text as UTF-8.");
  }
  return utf8;
}

std::wstring utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  if (!fitsInt(text.size())) throw std::runtime_error("INVALID_UTF8");
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length < 1) throw std::runtime_error("INVALID_UTF8");
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
    throw std::runtime_error("INVALID_UTF8");
  }
  return wide;
}

std::wstring setupTextToWide(std::string_view text) {
  if (text.empty()) return {};
  if (!fitsInt(text.size())) throw std::runtime_error("Invalid UTF-8 in setup text.");
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) throw std::runtime_error("Invalid UTF-8 in setup text.");
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  // A second call that disagrees with the length query would leave a padded text.
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
    throw std::runtime_error("Invalid UTF-8 in setup text.");
  }
  return wide;
}

std::string wideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  if (!fitsInt(text.size())) text = text.substr(0, static_cast<std::size_t>(INT_MAX / 4));
  const int size = static_cast<int>(text.size());
  // Without WC_ERR_INVALID_CHARS, unpaired surrogates become U+FFFD instead of failing.
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  const int written = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  utf8.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return utf8;
}

}  // namespace qbsync
