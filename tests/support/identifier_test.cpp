#include "support/identifier.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qbsync {
namespace {

TEST(IdentifierTest, ValidationTable) {
  struct Case {
    const char* name;
    std::string text;
    bool expected;
  };
  const Case cases[] = {
      {"canonical", "0f8fad5b-d9cb-469f-a165-70867728950e", true},
      {"all ones", "11111111-1111-1111-1111-111111111111", true},
      {"nil", "00000000-0000-0000-0000-000000000000", false},
      {"one uppercase digit", "0f8fad5b-d9cb-469f-a165-70867728950E", false},
      {"space instead of digit", "0f8fad5b-d9cb-469f-a165-7086772895 e", false},
      {"trailing character", "0f8fad5b-d9cb-469f-a165-70867728950e0", false},
      {"trailing line feed", "0f8fad5b-d9cb-469f-a165-70867728950e\n", false},
      {"leading space", " 0f8fad5b-d9cb-469f-a165-70867728950e", false},
      {"braces", "{0f8fad5b-d9cb-469f-a165-70867728950e}", false},
      {"hyphen misplaced", "0f8fad5bd-9cb-469f-a165-70867728950e", false},
      {"no hyphens", "0f8fad5bd9cb469fa16570867728950e", false},
      {"non-hex letter", "0f8fad5b-d9cb-469f-a165-70867728950g", false},
      {"embedded NUL", std::string("0f8fad5b-d9cb-469f-a165-70867728950\0", 36), false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isIdentifier(c.text), c.expected);
  }
}

TEST(IdentifierTest, NewIdentifiersAreCanonicalAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = newIdentifier();
    ASSERT_EQ(id.size(), 36u) << id;
    ASSERT_TRUE(isIdentifier(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace qbsync
