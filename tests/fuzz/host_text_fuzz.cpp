// Host texts: NUL-terminated bytes in UTF-8 or the ANSI code page. Valid
// UTF-8 comes back byte for byte; anything else decodes to valid UTF-8 or is
// refused with one of the two texts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_source.h"
#include "support/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const bool valid = qbsync::isValidUtf8(bytes);
  const char* text = bytes.c_str();  // the host's text ends at the first NUL
  const std::string_view hostText(text, std::strlen(text));
  std::string decoded;
  try {
    decoded = qbsync::decodeHostText(text);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    if (what != "Cannot decode Sierra text using UTF-8 or the Windows code page." &&
        what != "Cannot encode Sierra text as UTF-8.") {
      qbfuzz::broken("decoding failed with another text");
    }
    return 0;
  }
  if (!qbsync::isValidUtf8(decoded)) qbfuzz::broken("decoded text is not UTF-8");
  if (qbsync::isValidUtf8(hostText) && decoded != hostText) qbfuzz::broken("UTF-8 text was changed");
  if (valid && hostText.size() == bytes.size() && decoded != bytes) qbfuzz::broken("UTF-8 text was changed");
  return 0;
}
