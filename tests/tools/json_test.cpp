// The text that reaches scripts: JSON strings from arbitrary bytes, numbers,
// and failure messages built from the host's last error.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/failure.h"
#include "tools/json.h"
#include "tools/text.h"

namespace bluefin::tool {
namespace {

struct JsonCase {
  const char *name;
  std::string text;
  std::string json;
};

// A hexadecimal escape takes every hex digit after it, so a string literal
// ends where one must stop ("a\xff" "b").
const JsonCase kJsonCases[] = {
    // clang-format off
    {"plain",                   "TopLink Pacific",                      "\"TopLink Pacific\""},
    {"quote and backslash",     "a\"b\\c",                              "\"a\\\"b\\\\c\""},
    {"short escapes",           "\b\f\n\r\t",                           "\"\\b\\f\\n\\r\\t\""},
    {"other controls",          std::string("\x01\x1f\0", 3),           "\"\\u0001\\u001F\\u0000\""},
    {"DEL and slash pass",      "\x7f/",                                "\"\x7f/\""},
    {"multi-byte UTF-8 passes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
    {"stray byte",              "a\xff" "b",                            "\"a\xef\xbf\xbd" "b\""},
    {"truncated sequence",      "\xe2\x82",                             "\"\xef\xbf\xbd\xef\xbf\xbd\""},
    {"overlong slash",          "\xc0\xaf",                             "\"\xef\xbf\xbd\xef\xbf\xbd\""},
    {"surrogate",               "\xed\xa0\x80",                         "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    {"past U+10FFFF",           "\xf4\x90\x80\x80",                     "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    // clang-format on
};

TEST(ToolJson, StringsAreValidJsonWhateverTheBytes) {
  for (const JsonCase &row : kJsonCases) {
    EXPECT_EQ(JsonString(row.text), row.json) << row.name;
  }
}

TEST(ToolJson, ObjectsKeepOrderNestAndPrintNumbersAsScriptsExpect) {
  JsonObject image;
  image.Add("width", std::uint32_t{256}).Add("resolution", 508.0).Add("half", 0.5).Add("nan", std::nan(""));
  JsonObject object;
  object.Add("code", -90).Add("path", "x.png").Add("image", image).Add("big", std::int64_t{1} << 40);
  EXPECT_EQ(
      object.Text(),
      "{\"code\": -90, \"path\": \"x.png\", \"image\": {\"width\": 256, \"resolution\": 508, \"half\": 0.5, "
      "\"nan\": null}, \"big\": 1099511627776}");
  JsonArray list;
  EXPECT_EQ(JsonObject().Add("devices", list).Text(), "{\"devices\": []}");
  list.Add(JsonObject().AddBool("paired", true)).Add(JsonObject().AddBool("paired", false));
  EXPECT_EQ(JsonObject().Add("devices", list).Text(),
            "{\"devices\": [{\"paired\": true}, {\"paired\": false}]}");
}

TEST(ToolText, WideStringsFromUtf8ReplaceWhatIsNotUtf8) {
  EXPECT_EQ(FromUtf8("Pacific \xc3\xa9\xe2\x82\xac"), L"Pacific \u00e9\u20ac");
  EXPECT_EQ(FromUtf8("\xf0\x9f\x98\x80"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
  EXPECT_EQ(FromUtf8("a\x80z"), L"a\ufffdz");
}

struct MessageCase {
  VResult code;
  const char *message;
  const char *callStack;
  const char *expected;
};

TEST(ToolFailure, MessagesReadOnTheirOwn) {
  const MessageCase cases[] = {
      {V_E_WIN32, "Connection refused", "   at connect\r\n", "Connection refused at connect"},
      {V_E_WIN32, "Connection reset by peer", "   at recv\r\n   at BlueFinReceive\r\n",
       "Connection reset by peer at recv at BlueFinReceive"},
      {V_E_ARGUMENT, "  VdmBlueFin device handle is invalid\r\n", "", "VdmBlueFin device handle is invalid"},
      {V_E_END_OF_STREAM, "", "", "The scanner closed the connection"},
      {V_E_NOT_SUPPORTED_VERSION, "", "  \r\n", "Interface version not supported"},
      {-4242, "", "", "Failed"},
  };
  for (const MessageCase &row : cases) {
    EXPECT_EQ(FailureMessage(row.code, row.message, row.callStack), row.expected) << row.expected;
  }
  EXPECT_EQ(FailureLine(Failure{V_E_WIN32, "Connection refused at connect"}),
            "bluefin: Connection refused at connect (code -90)");
}

}  // namespace
}  // namespace bluefin::tool
