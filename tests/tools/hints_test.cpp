// What the command tells a user after a failure it recognises, by the
// failure's code, platform code and failed call, and how the scanner is
// reached. The errno values are those BlueZ and the emulated link give.
#include <gtest/gtest.h>

#include <cerrno>

#include "tools/failure.h"
#include "tools/hints.h"

namespace bluefin::tool {
namespace {

struct HintCase {
  const char *name;
  VResult code;
  int platformCode;
  const char *call;
  Link link;
  Stage stage;
  const char *hint;  // what the hint starts with; empty for none
};

Failure MakeFailure(VResult code, int platformCode, const char *call) {
  Failure failure{code, "message"};
  failure.platformCode = platformCode;
  failure.call = call;
  return failure;
}

TEST(ToolHints, TheSetUpFailuresAUserMeetsEachGetTheirSentence) {
  const HintCase cases[] = {
      {"no Bluetooth in the kernel", V_E_WIN32, EAFNOSUPPORT, "socket", Link::kRadio, Stage::kConnecting,
       "This system has no Bluetooth"},
      {"no adapter up", V_E_WIN32, EHOSTUNREACH, "sdp_connect", Link::kRadio, Stage::kConnecting,
       "No Bluetooth adapter is up"},
      {"not paired", V_E_WIN32, EACCES, "connect", Link::kRadio, Stage::kConnecting,
       "The scanner refused the connection because it is not paired"},
      {"page time-out", V_E_WIN32, EHOSTDOWN, "sdp_connect", Link::kRadio, Stage::kConnecting,
       "The scanner at 00:11:22:33:44:55 did not answer: check that it is switched on"},
      {"connect time-out", V_E_WIN32, ETIMEDOUT, "connect", Link::kRadio, Stage::kConnecting,
       "The scanner at 00:11:22:33:44:55 did not answer"},
      {"no Serial Port service", V_E_WIN32, ECONNREFUSED, "connect", Link::kRadio, Stage::kConnecting,
       "The device at 00:11:22:33:44:55 offers no Serial Port service"},
      {"no emulator listening", V_E_WIN32, ECONNREFUSED, "connect", Link::kEmulated, Stage::kConnecting,
       "No emulated scanner listens at 00:11:22:33:44:55: start `bluefin emulate --address "
       "00:11:22:33:44:55`"},
      {"stranded scanner", V_E_TIMEOUT, 0, "", Link::kRadio, Stage::kConnecting,
       "The scanner did not answer the opening exchange"},
      {"stranded emulator", V_E_TIMEOUT, 0, "", Link::kEmulated, Stage::kConnecting,
       "The emulated scanner did not answer the opening exchange"},
      {"out of range mid-capture", V_E_TIMEOUT, 0, "", Link::kRadio, Stage::kCapturing,
       "The scanner stopped answering"},
      // What the command cannot explain gets no guess.
      {"emulated socket family", V_E_WIN32, EAFNOSUPPORT, "socket", Link::kEmulated, Stage::kConnecting, ""},
      {"refused elsewhere", V_E_WIN32, ECONNREFUSED, "sdp_service_search_attr_req", Link::kRadio,
       Stage::kConnecting, ""},
      {"reset mid-capture", V_E_WIN32, ECONNRESET, "recv", Link::kRadio, Stage::kCapturing, ""},
      {"protocol error", V_E_FAILED, 0, "", Link::kRadio, Stage::kConnecting, ""},
      {"built-in emulator", V_E_TIMEOUT, 0, "", Link::kBuiltIn, Stage::kConnecting, ""},
  };
  for (const HintCase &row : cases) {
    const std::string hint = HintFor(MakeFailure(row.code, row.platformCode, row.call),
                                     HintContext{row.link, row.stage, "00:11:22:33:44:55"});
    if (row.hint[0] == '\0') {
      EXPECT_EQ(hint, "") << row.name;
    } else {
      EXPECT_EQ(hint.rfind(row.hint, 0), 0u) << row.name << ": " << hint;
    }
  }
}

TEST(ToolHints, TheFailedCallIsTheCallStacksFirstLine) {
  EXPECT_EQ(FailedCall("   at connect\r\n"), "connect");
  EXPECT_EQ(FailedCall("   at recv\r\n   at BlueFinReceive\r\n"), "recv");
  EXPECT_EQ(FailedCall(""), "");
  EXPECT_EQ(FailedCall("somewhere\r\n"), "");
  Failure failure{V_E_WIN32, "Connection refused at connect"};
  failure.hint = "Start it.";
  EXPECT_EQ(FailureText(failure),
            "bluefin: Connection refused at connect (code -90)\nbluefin: hint: Start it.\n");
}

}  // namespace
}  // namespace bluefin::tool
