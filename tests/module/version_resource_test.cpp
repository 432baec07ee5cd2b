// The version resource of VdmBlueFin.dll as Windows reads it: the fixed
// version numbers and the strings of the U.S. English, Unicode table.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

TEST(VersionResource, NamesTheModuleAndItsMakerAtVersionNineZeroZeroZero) {
  const char *narrow = VDM_RADIO_MODULE_PATH;
  const std::wstring path(narrow, narrow + std::char_traits<char>::length(narrow));
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  void *value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto *info = static_cast<const VS_FIXEDFILEINFO *>(value);
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info->dwFileVersionMS, MAKELONG(0, 9));
  EXPECT_EQ(info->dwFileVersionLS, 0u);
  EXPECT_EQ(info->dwProductVersionMS, MAKELONG(0, 9));
  EXPECT_EQ(info->dwProductVersionLS, 0u);
  EXPECT_EQ(info->dwFileType, static_cast<DWORD>(VFT_DLL));

  const struct {
    const wchar_t *name;
    const wchar_t *value;
  } kRows[] = {
      // clang-format off
      {L"CompanyName",      L"Brakmoor"},
      {L"FileDescription",  L"Brakmoor Devices BlueFin Module 9.0"},
      {L"FileVersion",      L"9.0.0.0"},
      {L"InternalName",     L"VdmBlueFin"},
      {L"LegalCopyright",   L"Copyright (C) Brakmoor. All rights reserved."},
      {L"OriginalFilename", L"VdmBlueFin.dll"},
      {L"ProductName",      L"Brakmoor Devices"},
      {L"ProductVersion",   L"9.0.0.0"},
      // clang-format on
  };
  for (const auto &row : kRows) {
    const std::wstring subBlock = std::wstring(L"\\StringFileInfo\\040904b0\\") + row.name;
    const bool found = VerQueryValueW(block.data(), subBlock.c_str(), &value, &length) && length > 0;
    EXPECT_EQ(found ? std::wstring(static_cast<const wchar_t *>(value), length - 1) : L"", row.value)
        << std::string(row.name, row.name + wcslen(row.name));
  }
}

}  // namespace
