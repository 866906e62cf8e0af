// The version information a Windows user sees in Explorer's Details tab, read
// from varnock.exe through the system's own version API.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/programs_under_test.h"

namespace {

// One string of the US English block; empty when there is none.
std::string string_value(std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
    return "";
  return value;
}

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
  for (const auto& s : strings) EXPECT_EQ(string_value(info, s.name), s.expected) << s.name;
  const std::string description = string_value(info, "FileDescription");
  EXPECT_NE(description.find("mIRC"), std::string::npos) << "FileDescription: " << description;
}

}  // namespace
