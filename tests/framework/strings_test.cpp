// Strings: creation, formatting, the null string and clones.
#include <functional>

#include "framework_test.h"

namespace {

using StringsTest = FrameworkTest;

// The module's own formats ("{S} Device", "{S} {AS} {I:H8}") show in every identity its tests
// check; the format rows here are their corners: a negative number in hex, Latin-1 text.
TEST_F(StringsTest, CreationTakesLengthsLatin1AndFormats) {
  struct Row {
    std::function<VResult(HVString *)> create;
    std::wstring expected;
  };
  const Row rows[] = {
      // clang-format off
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abcdef", 3, h); },                  L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abc", -1, h); },                    L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("\xC4rger", -1, h); },                L"\u00C4rger"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("a\0b", 3, h); },                     std::wstring(L"a\0b", 3)},
      {[](HVString *h) { VStringWrapper w; return VStringCreateWrapperW(L"wrapped", -1, &w, h); }, L"wrapped"},
      {[](HVString *h) { return VStringFormatW(h, L"{I:H8}", -2); },                               L"FFFFFFFE"},
      {[](HVString *h) { return VStringFormatW(h, L"{AS} and {S}", "caf\xE9", L"Cafe"); },         L"caf\u00E9 and Cafe"},
      // clang-format on
  };
  for (const Row &row : rows) {
    vfw::Handle text;
    ASSERT_EQ(V_OK, row.create(text.put())) << vfw::ToUtf8(row.expected);
    EXPECT_EQ(row.expected, vfw::ToWString(text.get()));
  }
}

TEST_F(StringsTest, NullStringIsEmptyAndClonesShareTheText) {
  VInt32 length = -1;
  const wchar_t *chars = nullptr;
  ASSERT_EQ(V_OK, VStringGetBufferW(nullptr, &length, &chars));
  EXPECT_EQ(0, length);
  EXPECT_STREQ(L"", chars);
  EXPECT_TRUE(VStringIsEmpty(nullptr));

  vfw::Handle text = vfw::MakeString(L"text");
  EXPECT_FALSE(VStringIsEmpty(text.get()));
  vfw::Handle clone;
  ASSERT_EQ(V_OK, VStringClone(text.get(), clone.put()));
  text.reset();
  EXPECT_EQ(L"text", vfw::ToWString(clone.get())) << "the clone holds its own reference";
}

}  // namespace
