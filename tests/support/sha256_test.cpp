#include "support/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace qbsync {
namespace {

TEST(Sha256Test, KnownVectors) {
  struct Case {
    const char* name;
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448-bit", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"one million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"embedded NUL counts", std::string("a\0b", 3),
       "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
  };
  const Sha256Provider provider;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(provider.sha256Hex(c.input), c.digest);
    EXPECT_EQ(sha256Hex(c.input), c.digest);
  }
}

TEST(Sha256Test, ProviderDigestsRepeatedly) {
  // One context serves many hash objects; each digest is independent of the last.
  const Sha256Provider provider;
  const std::string first = provider.sha256Hex("abc");
  for (int i = 0; i < 100; ++i) provider.sha256Hex(std::string(static_cast<std::size_t>(i), 'x'));
  EXPECT_EQ(provider.sha256Hex("abc"), first);
}

}  // namespace
}  // namespace qbsync
