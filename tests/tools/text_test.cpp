// The text that reaches users and scripts, and the text they give: JSON
// strings from arbitrary bytes, failure messages built from the host's last
// error, the hint a failure gets, and the faults --fault spells.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <tuple>

#include "tools/failure.h"
#include "tools/fault_spelling.h"
#include "tools/hints.h"
#include "tools/json.h"

namespace bluefin::tool {
namespace {

TEST(ToolJson, StringsAreValidJsonWhateverTheBytes) {
  // A hexadecimal escape takes every hex digit after it, so a string literal
  // ends where one must stop ("a\xff" "b").
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      // clang-format off
      {"a\"b\\c",                              "\"a\\\"b\\\\c\""},
      {"\b\f\n\r\t",                           "\"\\b\\f\\n\\r\\t\""},
      {std::string("\x01\x1f\0", 3),           "\"\\u0001\\u001F\\u0000\""},
      {"\x7f/",                                "\"\x7f/\""},  // DEL and slash pass
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},  // multi-byte UTF-8 passes
      {"a\xff" "b",                            "\"a\xef\xbf\xbd" "b\""},  // a stray byte
      {"\xe2\x82",                             "\"\xef\xbf\xbd\xef\xbf\xbd\""},  // a truncated sequence
      {"\xc0\xaf",                             "\"\xef\xbf\xbd\xef\xbf\xbd\""},  // an overlong slash
      {"\xed\xa0\x80",                         "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // a surrogate
      {"\xf4\x90\x80\x80",                     "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // past U+10FFFF
      // clang-format on
  };
  for (const auto &row : cases) {
    EXPECT_EQ(JsonString(row.text), row.json) << row.json;
  }
}

// Nesting, order, arrays and bools are checked in the command's own lines
// (the devices and --timeout tests); numbers of every type here.
TEST(ToolJson, NumbersPrintAsScriptsExpect) {
  JsonObject object;
  object.Add("width", std::uint32_t{256}).Add("code", -90).Add("big", std::int64_t{1} << 40);
  object.Add("resolution", 508.0).Add("half", 0.5).Add("nan", std::nan(""));
  EXPECT_EQ(object.Text(),
            "{\"width\": 256, \"code\": -90, \"big\": 1099511627776, \"resolution\": 508, \"half\": 0.5, "
            "\"nan\": null}");
}

TEST(ToolFailure, MessagesReadOnTheirOwn) {
  const struct {
    VResult code;
    const char *message;
    const char *callStack;
    const char *expected;
  } cases[] = {
      // clang-format off
      {V_E_WIN32, "Connection reset by peer", "   at recv\r\n   at BlueFinReceive\r\n", "Connection reset by peer at recv at BlueFinReceive"},
      {V_E_ARGUMENT, "  VdmBlueFin device handle is invalid\r\n", "", "VdmBlueFin device handle is invalid"},
      {V_E_END_OF_STREAM, "", "", "The scanner closed the connection"},
      {V_E_NOT_SUPPORTED_VERSION, "", "  \r\n", "Interface version not supported"},
      {-4242, "", "", "Failed"},
      // clang-format on
  };
  for (const auto &row : cases) {
    EXPECT_EQ(FailureMessage(row.code, row.message, row.callStack), row.expected) << row.expected;
  }
  EXPECT_EQ(FailedCall("   at recv\r\n   at BlueFinReceive\r\n"), "recv");
  EXPECT_EQ(FailedCall(""), "");
  EXPECT_EQ(FailedCall("somewhere\r\n"), "");
}

// The failures a user meets while setting a scanner up, by the failure's
// code, platform code and failed call, and how the scanner is reached. The
// errno values are those BlueZ and the emulated link give.
TEST(ToolHints, TheSetUpFailuresAUserMeetsEachGetTheirSentence) {
  const struct {
    VResult code;
    int platformCode;
    const char *call;
    Link link;
    Stage stage;
    std::string hint;  // what the hint starts with; empty for none
  } cases[] = {
      // clang-format off
      {V_E_WIN32, EAFNOSUPPORT, "socket", Link::kRadio, Stage::kConnecting, "This system has no Bluetooth"},
      {V_E_WIN32, EHOSTUNREACH, "sdp_connect", Link::kRadio, Stage::kConnecting, "No Bluetooth adapter is up"},
      {V_E_WIN32, EACCES, "connect", Link::kRadio, Stage::kConnecting, "The scanner refused the connection because it is not paired"},
      {V_E_WIN32, EHOSTDOWN, "sdp_connect", Link::kRadio, Stage::kConnecting, "The scanner at 00:11:22:33:44:55 did not answer: check that it is switched on"},
      {V_E_WIN32, ETIMEDOUT, "connect", Link::kRadio, Stage::kConnecting, "The scanner at 00:11:22:33:44:55 did not answer"},
      {V_E_WIN32, ECONNREFUSED, "connect", Link::kRadio, Stage::kConnecting, "The device at 00:11:22:33:44:55 offers no Serial Port service"},
      {V_E_TIMEOUT, 0, "", Link::kRadio, Stage::kConnecting, "The scanner did not answer the opening exchange"},
      {V_E_TIMEOUT, 0, "", Link::kRadio, Stage::kCapturing, "The scanner stopped answering"},
      // What the command cannot explain gets no guess.
      {V_E_WIN32, EAFNOSUPPORT, "socket", Link::kEmulated, Stage::kConnecting, ""},
      {V_E_WIN32, ECONNREFUSED, "sdp_service_search_attr_req", Link::kRadio, Stage::kConnecting, ""},
      {V_E_WIN32, ECONNRESET, "recv", Link::kRadio, Stage::kCapturing, ""},
      {V_E_FAILED, 0, "", Link::kRadio, Stage::kConnecting, ""},
      {V_E_TIMEOUT, 0, "", Link::kBuiltIn, Stage::kConnecting, ""},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure{row.code, "message"};
    failure.platformCode = row.platformCode;
    failure.call = row.call;
    const std::string hint = HintFor(failure, HintContext{row.link, row.stage, "00:11:22:33:44:55"});
    EXPECT_EQ(hint.substr(0, row.hint.empty() ? std::string::npos : row.hint.size()), row.hint)
        << row.platformCode << " at " << row.call;
  }
}

TEST(ToolFaultSpec, EachKindAndPlaceBecomesTheEmulatorsFault) {
  using emu::Code;
  using emu::Command;
  using emu::FaultKind;
  const struct {
    const char *spelling;
    FaultKind kind;
    std::uint8_t command;
    std::optional<std::uint8_t> part;
    unsigned occurrence;
    std::uint32_t value;
  } cases[] = {
      // clang-format off
      {"silence@key",                      FaultKind::kSilence,           Code(Command::kSetKey),    std::nullopt, 1, 0},
      {"close-mid-frame=10@part3",         FaultKind::kCloseMidFrame,     Code(Command::kImagePart), 3,            1, 10},
      {"stray-frames=2@status:every",      FaultKind::kStrayFrames,       Code(Command::kGetStatus), std::nullopt, 0, 2},
      {"stray-frames@identity:3",          FaultKind::kStrayFrames,       Code(Command::kIdentity),  std::nullopt, 3, 1},
      {"bad-data-checksum@echo",           FaultKind::kBadDataChecksum,   Code(Command::kEcho),      std::nullopt, 1, 0},
      {"bad-header-checksum@set-status:2", FaultKind::kBadHeaderChecksum, Code(Command::kSetStatus), std::nullopt, 2, 0},
      {"payload-length=5@part",            FaultKind::kPayloadLength,     Code(Command::kImagePart), std::nullopt, 1, 5},
      {"declared-length=4294967295@echo",  FaultKind::kDeclaredLength,    Code(Command::kEcho),      std::nullopt, 1, 4294967295u},
      {"wrong-echo",                       FaultKind::kWrongEcho,         Code(Command::kEcho),      std::nullopt, 1, 14},
      {"refuse-key=2",                     FaultKind::kRefuseKey,         Code(Command::kSetKey),    std::nullopt, 1, 2},
      {"wrong-status-echo=7",              FaultKind::kWrongStatusEcho,   Code(Command::kSetStatus), std::nullopt, 1, 7},
      {"invalid-image-part@part11",        FaultKind::kInvalidImagePart,  Code(Command::kImagePart), 11,           1, 0},
      {"foreign-key@identity",             FaultKind::kForeignKey,        Code(Command::kIdentity),  std::nullopt, 1, 0},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    const std::optional<emu::Fault> fault = ParseFault(row.spelling, &failure);
    ASSERT_TRUE(fault) << row.spelling << ": " << failure.message;
    EXPECT_EQ(std::tie(fault->kind, fault->target.command, fault->target.part, fault->target.occurrence,
                       fault->value),
              std::tie(row.kind, row.command, row.part, row.occurrence, row.value))
        << row.spelling;
    EXPECT_EQ(fault->key != emu::Key{}, row.kind == FaultKind::kForeignKey) << row.spelling;
  }
}

TEST(ToolFaultSpec, MisspelledFaultsSayWhatIsWrong) {
  const struct {
    const char *spelling;
    const char *reason;
  } cases[] = {
      // clang-format off
      {"sillence@key",           "unknown kind 'sillence' (kinds: stray-frames, "},
      {"silence=3@key",          "silence takes no value"},
      {"payload-length@echo",    "payload-length needs a value: payload-length=N"},
      {"stray-frames=lots@echo", "the value must be a whole number, not lots"},
      {"silence@keys",           "unknown command 'keys'"},
      {"silence@part12",         "image parts are part0 to part11, not part12"},
      {"silence@key:0",          "the occurrence must be a number from 1, or 'every'"},
      {"silence@key:often",      "the occurrence must be a number from 1, or 'every'"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    EXPECT_FALSE(ParseFault(row.spelling, &failure)) << row.spelling;
    EXPECT_EQ(failure.code, V_E_ARGUMENT);
    EXPECT_EQ(failure.message.rfind(std::string("Fault \"") + row.spelling + "\": " + row.reason, 0), 0u)
        << failure.message;
  }
}

}  // namespace
}  // namespace bluefin::tool
