// Strings and VStringFormatW.
#include <functional>

#include "framework_test.h"

namespace {

using StringsTest = FrameworkTest;

TEST_F(StringsTest, FormatExpandsEveryPlaceholder) {
  struct Row {
    const wchar_t *expected;
    std::function<VResult(HVString *)> format;
  };
  // The module's own formats ("{S} Device", "{S} {AS} {I:H8}") show in every identity its tests
  // check; these are the corners.
  const Row rows[] = {
      {L"FFFFFFFE", [](HVString *h) { return VStringFormatW(h, L"{I:H8}", -2); }},
      {L"-42 and 7", [](HVString *h) { return VStringFormatW(h, L"{I} and {I}", -42, 7); }},
      {L"{x} }", [](HVString *h) { return VStringFormatW(h, L"{{x}} }}"); }},
      {L"caf\u00E9 and Cafe",
       [](HVString *h) { return VStringFormatW(h, L"{AS} and {S}", "caf\xE9", L"Cafe"); }},
      {L"", [](HVString *h) { return VStringFormatW(h, L""); }},
  };
  for (const Row &row : rows) {
    vfw::Handle text;
    ASSERT_EQ(V_OK, row.format(text.put())) << vfw::ToUtf8(row.expected);
    EXPECT_EQ(row.expected, vfw::ToWString(text.get()));
  }
}

TEST_F(StringsTest, FormatRefusesWhatItCannotRead) {
  for (const wchar_t *format : {L"{X}", L"{I:H4}", L"{S", L"a}b", L"{}"}) {
    HVString text = nullptr;
    EXPECT_EQ(V_E_ARGUMENT, VStringFormatW(&text, format, L"arg")) << vfw::ToUtf8(format);
    EXPECT_EQ(nullptr, text);
  }
}

TEST_F(StringsTest, CreationTakesLengthsAndLatin1) {
  struct Row {
    std::function<VResult(HVString *)> create;
    std::wstring expected;
  };
  const Row rows[] = {
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abcdef", 3, h); }, L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abc", -1, h); }, L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("\xC4rger", -1, h); }, L"\u00C4rger"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("a\0b", 3, h); }, std::wstring(L"a\0b", 3)},
      {[](HVString *h) {
         VStringWrapper wrapper;
         return VStringCreateWrapperW(L"wrapped", -1, &wrapper, h);
       },
       L"wrapped"},
  };
  for (const Row &row : rows) {
    vfw::Handle text;
    ASSERT_EQ(V_OK, row.create(text.put()));
    EXPECT_EQ(row.expected, vfw::ToWString(text.get()));
  }
  HVString text = nullptr;
  EXPECT_EQ(V_E_ARGUMENT_NULL, VStringCreateFromStrOrCharsW(nullptr, 2, &text));
  EXPECT_EQ(V_E_ARGUMENT_OUT_OF_RANGE, VStringCreateFromStrOrCharsW(L"x", -2, &text));
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

TEST_F(StringsTest, StringSetRefusesOtherObjects) {
  vfw::Handle event;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_TRUE, V_FALSE, event.put()));
  HVString slot = nullptr;
  EXPECT_EQ(V_E_ARGUMENT, VStringSet(event.get(), &slot));
  EXPECT_EQ(nullptr, slot);
  vfw::Handle text = vfw::MakeString(L"kept");
  ASSERT_EQ(V_OK, VStringSet(text.get(), &slot));
  EXPECT_EQ(V_OK, VStringSet(nullptr, &slot));
  EXPECT_EQ(nullptr, slot);
}

}  // namespace
