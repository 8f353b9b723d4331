#include "support/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace qbsync {
namespace {

TEST(TextEncodingTest, Utf8ValidityTable) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"ascii", "ESZ4 account 1", true},
      {"two-byte", "caf\xC3\xA9", true},
      {"three-byte euro", "\xE2\x82\xAC", true},
      {"four-byte", "\xF0\x9F\x98\x80", true},
      {"highest code point", "\xF4\x8F\xBF\xBF", true},
      {"last before surrogates", "\xED\x9F\xBF", true},
      {"lone latin-1 byte", "caf\xE9", false},
      {"lone continuation", "\x80", false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong C1", "\xC1\xBF", false},
      {"overlong three-byte", "\xE0\x80\xAF", false},
      {"overlong four-byte", "\xF0\x80\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"F5 lead", "\xF5\x80\x80\x80", false},
      {"truncated at end", "ab\xE2\x82", false},
      {"continuation missing mid-text", "\xC3" "a", false},
      {"FF byte", "\xFF", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
#ifdef _WIN32
    // The pure check must agree with the platform's strict conversion.
    if (!c.bytes.empty()) {
      const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(),
                                        static_cast<int>(c.bytes.size()), nullptr, 0);
      EXPECT_EQ(n > 0, c.valid);
    }
#endif
  }
}

TEST(TextEncodingTest, DecodeHostText) {
  struct Case {
    const char* name;
    const char* input;
    std::string expected;
  };
  const Case cases[] = {
      {"null reads as empty", nullptr, ""},
      {"empty", "", ""},
      {"ascii", "ESZ4", "ESZ4"},
      // Also valid as ANSI ("Ã©"), but UTF-8 wins.
      {"valid UTF-8 kept byte for byte", "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xC3\xA9 \xE2\x82\xAC"},
      {"embedded NUL ends the text", "ab\0cd", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decodeHostText(c.input), c.expected);
  }
}

TEST(TextEncodingTest, DecodeHostTextFallsBackToAnsiCodePage) {
#ifdef _WIN32
  if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
#endif
  struct Case {
    const char* name;
    const char* input;
    std::string expected;
  };
  const Case cases[] = {
      {"lone e-acute", "\xE9", "\xC3\xA9"},
      {"word with e-acute", "Caf\xE9", "Caf\xC3\xA9"},
      {"euro sign", "\x80", "\xE2\x82\xAC"},
      {"undefined 1252 byte", "\x81", "\xC2\x81"},
      {"mixed valid and invalid", "\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string decoded = decodeHostText(c.input);
    EXPECT_EQ(decoded, c.expected);
    EXPECT_TRUE(isValidUtf8(decoded));
  }
}

#ifdef _WIN32
std::string thrownMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST(TextEncodingTest, StrictWideConversions) {
  EXPECT_EQ(utf8ToWide(""), L"");
  EXPECT_EQ(setupTextToWide(""), L"");
  EXPECT_EQ(utf8ToWide("caf\xC3\xA9 \xF0\x9F\x98\x80"), L"caf\u00E9 \U0001F600");
  EXPECT_EQ(setupTextToWide("caf\xC3\xA9"), L"caf\u00E9");
  // An embedded NUL is part of the text, not its end.
  EXPECT_EQ(utf8ToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));

  const char* invalid[] = {"caf\xE9", "\xC0\xAF", "\xED\xA0\x80", "ab\xE2\x82"};
  for (const char* text : invalid) {
    SCOPED_TRACE(text);
    EXPECT_EQ(thrownMessage([&] { utf8ToWide(text); }), "INVALID_UTF8");
    EXPECT_EQ(thrownMessage([&] { setupTextToWide(text); }), "Invalid UTF-8 in setup text.");
  }
}

TEST(TextEncodingTest, WideToUtf8ReplacesInsteadOfRefusing) {
  EXPECT_EQ(wideToUtf8(L""), "");
  EXPECT_EQ(wideToUtf8(L"caf\u00E9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  EXPECT_EQ(wideToUtf8(loneSurrogate), "a\xEF\xBF\xBD" "b");
}
#endif

}  // namespace
}  // namespace qbsync
