// Loads the built study library the way a host does and checks what its
// identification exports return.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Exports, IdentifyTheStudyToTheHost) {
  HMODULE dll = LoadLibraryA(QB_DLL_PATH);
  ASSERT_NE(dll, nullptr) << "LoadLibrary failed with " << GetLastError();
  auto name = reinterpret_cast<const char* (*)()>(GetProcAddress(dll, "scdll_DLLName"));
  auto version = reinterpret_cast<int (*)()>(GetProcAddress(dll, "scdll_DLLVersion"));
  auto notices = reinterpret_cast<const char* (*)()>(GetProcAddress(dll, "QuorbelleThirdPartyNotices"));
  ASSERT_NE(name, nullptr);
  ASSERT_NE(version, nullptr);
  ASSERT_NE(notices, nullptr);
  ASSERT_NE(GetProcAddress(dll, "scsf_QuorbelleApiSyncCollector"), nullptr);
  EXPECT_STREQ(name(), "Quorbelle Sync");
  EXPECT_EQ(version(), 2969);

  const std::string license = readFile(QB_LICENSE_PATH);
  ASSERT_EQ(license.size(), 1076u);
  EXPECT_EQ(std::string(notices()), license);  // exact bytes, NUL-terminated
  FreeLibrary(dll);
}

}  // namespace
