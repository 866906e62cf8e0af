// The version information a Windows user sees in Explorer's Details tab, read
// from varnock.exe through the system's own version API.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

namespace {

TEST(VersionResource, NamesTheProductAndItsVersion) {
  const std::string loader = programs_under_test().loader;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(loader.c_str(), &ignored);
  ASSERT_NE(size, 0u) << loader << " has no version information, error " << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(loader.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  const std::string fixed_version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                    std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                    std::to_string(HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(fixed_version, VARNOCK_VERSION);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

  const struct {
    const char* name;
    std::string expected;
  } strings[] = {
      {"ProductName", "Varnock"},
      {"FileVersion", VARNOCK_VERSION},
      {"ProductVersion", VARNOCK_VERSION},
      {"OriginalFilename", "varnock.exe"},
  };
  for (const auto& s : strings) {
    char* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + s.name;
    ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
        << "no " << s.name;
    EXPECT_EQ(std::string(value), s.expected) << s.name;
  }
  char* description = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileDescription",
                             reinterpret_cast<void**>(&description), &length));
  EXPECT_NE(std::string(description).find("mIRC"), std::string::npos) << description;
}

}  // namespace
