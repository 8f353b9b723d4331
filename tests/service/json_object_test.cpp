#include "service/json_object.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace qbsync {
namespace {

std::string errorOf(const std::string& text, std::size_t limit) {
  try {
    parseJsonObject(text, limit);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

std::string nested(const std::string& open, const std::string& inner, const std::string& close, int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += open;
  text += inner;
  for (int i = 0; i < levels; ++i) text += close;
  return text;
}

TEST(ParseJsonObject, CasesTable) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t limit;
    const char* error;  // "" for success
  };
  const Case cases[] = {
      {"empty object at its limit", "{}", 2, ""},
      {"one byte over the limit", "{} ", 2, "JSON_BODY_LIMIT"},
      {"empty text", "", 100, "JSON_BODY_LIMIT"},
      {"array root", "[]", 100, "INVALID_JSON"},
      {"string root", "\"x\"", 100, "INVALID_JSON"},
      {"number root", "1", 100, "INVALID_JSON"},
      {"repeated top-level key", R"({"a":1,"a":1})", 100, "INVALID_JSON"},
      {"repeated key in nested object", R"({"a":{"b":1,"c":2,"b":3}})", 100, "INVALID_JSON"},
      {"repeated key in object inside array", R"({"a":[{"k":1},{"k":2,"k":2}]})", 100, "INVALID_JSON"},
      {"same key in sibling objects", R"({"a":{"k":1},"b":{"k":2},"k":3})", 100, ""},
      {"comment", "{/*c*/}", 100, "INVALID_JSON"},
      {"trailing content", "{} {}", 100, "INVALID_JSON"},
      {"trailing garbage", "{}x", 100, "INVALID_JSON"},
      {"surrounding whitespace", " {} ", 100, ""},
      {"syntax error", R"({"a":})", 100, "INVALID_JSON"},
      {"invalid utf-8 in string", "{\"a\":\"\xff\"}", 100, "INVALID_JSON"},
      {"depth 64 accepted", nested("{\"a\":", "1", "}", 64), 100000, ""},
      {"depth 65 refused", nested("{\"a\":", "1", "}", 65), 100000, "INVALID_JSON"},
      {"arrays count as depth", "{\"a\":" + nested("[", "", "]", 63) + "}", 100000, ""},
      {"arrays beyond 64 refused", "{\"a\":" + nested("[", "", "]", 64) + "}", 100000, "INVALID_JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(errorOf(c.text, c.limit), c.error);
  }
}

// Hostile answers nested tens of thousands of levels deep once overflowed the
// stack when the parsed value was copied, compared or serialised.
TEST(ParseJsonObject, MaximalHostileNestingIsRefusedNotRecursed) {
  const std::size_t limit = 65536;
  const std::string brackets(limit, '[');
  std::string objects;
  while (objects.size() + 5 <= limit) objects += "{\"a\":";
  // Balanced and otherwise valid: only the depth refuses it.
  const std::string balanced = "{\"a\":" + nested("[", "", "]", 32000) + "}";
  ASSERT_LE(balanced.size(), limit);
  for (const std::string* text : {&brackets, static_cast<const std::string*>(&objects), &balanced}) {
    EXPECT_EQ(errorOf(*text, limit), "INVALID_JSON");
  }
}

TEST(ParseJsonObject, ReturnsTheObject) {
  const nlohmann::json value = parseJsonObject(R"({"b":[1,{"c":null}],"a":"\u00e9"})", 100);
  EXPECT_EQ(value.dump(), "{\"a\":\"\xc3\xa9\",\"b\":[1,{\"c\":null}]}");
}

}  // namespace
}  // namespace qbsync
