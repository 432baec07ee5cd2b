// The capture and info commands' contract as scripts see it: what they
// print, write and exit with. Runs the built command as a child process.
#include <gtest/gtest.h>
#include <filesystem>
#include <regex>

#include "child_process.h"
#include "documented_outcomes.h"
#include "emulator/emulator.h"
#include "test_scanner.h"
#include "test_support.h"
#include "tools/commands.h"
#include "tools/json.h"
#include "v_types.h"

namespace bluefin::tool::test {
namespace {

std::vector<unsigned> Percentages(const std::string &text) {
  std::vector<unsigned> percents;
  const std::regex percent(R"((\d+)%)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), percent); it != std::sregex_iterator();
       ++it) {
    percents.push_back(static_cast<unsigned>(std::stoul((*it)[1])));
  }
  return percents;
}

// make run's path, and the one run here that waits out a real poll period:
// the built-in scanner answers ready at its second poll.
TEST(CaptureCommand, BuiltInScannerGivesA508DpiPngInTheWorkingDirectory) {
  ScratchDir dir;
  const ChildResult run = RunBluefin({"capture"}, {.cwd = dir.path().string()});
  ASSERT_EQ(run.exitStatus, 0) << run.err;

  EXPECT_EQ(run.out,
            "Identifier:    TopLink Pacific BF-2000 0BF12345\n"
            "Display name:  TopLink Pacific Device\n"
            "Make:          TopLink Pacific\n"
            "Model:         BF-2000\n"
            "Serial number: 0BF12345\n"
            "Saved finger.png: 256 x 360 pixels, 508 dpi\n");
  // Progress from the start (the built-in scanner's address is the first
  // one no other command uses); not a terminal: every step on a line of its own.
  EXPECT_TRUE(std::regex_search(
      run.err,
      std::regex("^Connecting to 0B:F1:00:00:00:[0-9A-F]{2} \\(the built-in emulator\\)\\.\\.\\.\n")))
      << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
  EXPECT_NE(run.err.find("Waiting for a finger on the scanner (poll 1)\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Finger detected (poll 2)\n"), std::string::npos) << run.err;
  EXPECT_EQ(Percentages(run.err), (std::vector<unsigned>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));

  // The file layout is the image writer's (checked on its own); here, that the module's image and
  // resolution reach it: exactly the finger the built-in scanner serves, row 0 at the top.
  const PngFile png = ReadPngFile(dir / "finger.png");
  EXPECT_EQ(png.width, 256u);
  EXPECT_EQ(png.phys, std::string("\0\0\x4e\x20\0\0\x4e\x20\x01", 9));  // 20000 pixels per metre
  emu::Options scanner;
  scanner.address = kEmbeddedScannerAddress;
  EXPECT_EQ(png.pixels, emu::Emulator(scanner).ExpectedImage());
}

// Its listening name is machine-wide: a second command (another terminal,
// another test run) takes the next address instead of failing.
TEST(CaptureCommand, BuiltInScannerMovesOverWhenItsAddressIsTaken) {
  emu::Options first;
  first.address = kEmbeddedScannerAddress;
  emu::Emulator holder(first);
  holder.Start(nullptr);  // or someone else holds it already
  ScratchDir dir;
  const ChildResult run = RunBluefin({"capture", "--json"}, FastPolls({.cwd = dir.path().string()}));
  ExpectDocumented("capture", run);
  EXPECT_EQ(run.err.find("Connecting to 0B:F1:00:00:00:01 "), std::string::npos) << run.err;
}

struct FailureCase {
  const char *name;
  std::vector<std::string> args;  // after "capture"
  VResult code;
  std::string message;  // what the line must contain
  std::string hint;     // what the hint must contain; empty for none
  bool connects;        // refused only once the command connected
};

// Each failure twice: as the stderr lines, and as the JSON object with the
// same code, message and hint.
void ExpectFailure(const FailureCase &row) {
  std::vector<std::string> args = {"capture"};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const ChildResult text = RunBluefin(args);
  EXPECT_EQ(text.exitStatus, 1) << row.name;
  EXPECT_EQ(text.out, "") << row.name;
  const std::regex lines(R"(bluefin: (.+) \(code (-?\d+)\)\n(bluefin: hint: (.+)\n)?)");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(text.err, match, lines)) << row.name << ": " << text.err;
  EXPECT_EQ(match.suffix(), "") << row.name << ": the failure comes last";
  const std::string message = match[1];
  const std::string hint = match[4];
  EXPECT_EQ(std::stoi(match[2]), row.code) << row.name;
  EXPECT_NE(message.find(row.message), std::string::npos) << row.name << ": " << message;
  EXPECT_EQ(hint.empty(), row.hint.empty()) << row.name << ": " << hint;
  EXPECT_NE(hint.find(row.hint), std::string::npos) << row.name << ": " << hint;
  EXPECT_EQ(text.err.find("Connecting to") != std::string::npos, row.connects)
      << row.name << ": " << text.err;

  args.push_back("--json");
  const ChildResult json = RunBluefin(args);
  ExpectDocumented(hint.empty() ? "a failure" : "a failure with a hint", json);
  JsonObject error;
  error.Add("code", row.code).Add("message", message);
  if (!hint.empty()) {
    error.Add("hint", hint);
  }
  EXPECT_EQ(json.out, JsonObject().Add("error", error).Text() + "\n") << row.name;
}

TEST(CaptureCommand, FailuresGiveTheHostsErrorAndAHintOnStderrOrAsJson) {
  const std::string nobody = UniqueAddress();  // nothing listens there
  const FailureCase cases[] = {
      // clang-format off
      {"other extension",   {"--out", "finger.jpg", "--address", nobody, "--emulated"},
       V_E_ARGUMENT, "Output file finger.jpg must end in .png or .pgm", "", false},
      {"malformed address", {"--address", "00:11:22:33:44", "--emulated"},
       V_E_ARGUMENT, "Scanner address must be XX:XX:XX:XX:XX:XX, not \"00:11:22:33:44\"", "", false},
      {"empty name",        {"--address", nobody, "--emulated", "--name", ""},
       V_E_ARGUMENT, "Display name must not be empty; leave --name out for the module's default", "", false},
      {"nothing listens",   {"--address", nobody, "--emulated"},
       V_E_WIN32,    "Connection refused at connect",
                     "No emulated scanner listens at " + nobody + ": start `bluefin emulate --address " + nobody + "`", true},
      {"missing module",    {"--module", "/nonexistent/VdmBlueFin.so", "--address", nobody, "--emulated"},
       V_E_FAILED,   "/nonexistent/VdmBlueFin.so", "", false},
      // clang-format on
  };
  for (const FailureCase &row : cases) {
    ExpectFailure(row);
  }
}

TEST(CaptureCommand, RealBluetoothWithoutAnAdapterSaysWhatIsMissing) {
  if (!BLUEFIN_HAS_RADIO_MODULE) {
    GTEST_SKIP() << "this build has no radio module (-DVDM_RADIO=OFF)";
  }
  std::error_code ignored;
  if (std::filesystem::exists("/sys/class/bluetooth", ignored) &&
      !std::filesystem::is_empty("/sys/class/bluetooth", ignored)) {
    GTEST_SKIP() << "this machine has a Bluetooth adapter; the capture would page a real radio";
  }
  // A kernel without Bluetooth refuses the socket; one with Bluetooth but no
  // adapter has no route to the scanner. Either way the user hears why.
  const ChildResult run = RunBluefin({"capture", "--address", "00:11:22:33:44:55"});
  EXPECT_EQ(run.exitStatus, 1);
  if (run.err.find("Address family not supported by protocol at socket (code -90)\n") != std::string::npos) {
    EXPECT_NE(run.err.find("bluefin: hint: This system has no Bluetooth"), std::string::npos) << run.err;
  } else {
    EXPECT_NE(run.err.find("bluefin: hint: "), std::string::npos) << run.err;
  }
}

TEST(CaptureCommand, UsageErrorsSayWhatIsWrongAndExit2) {
  const struct {
    std::vector<std::string> args;
    std::string line;  // the first line on stderr
  } cases[] = {
      // clang-format off
      {{}, "bluefin: a command is required: capture, info, devices or emulate"},
      {{"capturee"}, "bluefin: unknown command 'capturee' (did you mean 'capture'?)"},
      {{"frobnicate"}, "bluefin: unknown command 'frobnicate'"},
      {{"capture", "--bogus"}, "bluefin: The following argument was not expected: --bogus"},
      {{"capture", "--count", "0"}, "bluefin: --count: Value 0 not in range 1 to 100000"},
      {{"capture", "--timeout", "-1"}, "bluefin: --timeout: Value -1 not in range"},
      {{"emulate"}, "bluefin: --address is required"},
      {{"emulate", "--address", "0B:F1:00:00:00:02", "--ready-after", "soon"}, "bluefin: Could not convert: --ready-after = soon"},
      // clang-format on
  };
  for (const auto &row : cases) {
    const ChildResult run = RunBluefin(row.args);
    ExpectDocumented("a usage error", run);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')).rfind(row.line, 0), 0u)
        << ::testing::PrintToString(row.args) << ": " << run.err;
    EXPECT_NE(run.err.find("Try 'bluefin --help' for more information.\n"), std::string::npos) << run.err;
  }
  const ChildResult help = RunBluefin({"capture", "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("--timeout"), std::string::npos) << help.out;
  const ChildResult version = RunBluefin({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "bluefin 9.0.0\n");
}

TEST(CaptureCommand, QuietShowsNoProgress) {
  emu::Options options;
  options.readyAfterPolls = 0;
  TestScanner scanner(options);
  ScratchDir dir;
  const ChildResult run = RunBluefin(scanner.Command("capture", {"--quiet", "--out", dir / "f.png"}));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("Saved " + (dir / "f.png")), std::string::npos) << run.out;
}

// The identity, and nothing armed on the scanner, which gets its key back.
TEST(InfoCommand, ShowsTheIdentityWithoutCapturing) {
  emu::Options options;
  options.model = "XY-9";
  options.serial = 0xDEADBEEF;
  TestScanner scanner(options);
  const ChildResult text = RunBluefin(scanner.Command("info", {"--name", "Desk"}));
  EXPECT_EQ(text.exitStatus, 0) << text.err;
  EXPECT_EQ(text.out,
            "Identifier:    TopLink Pacific XY-9 DEADBEEF\n"
            "Display name:  Desk\n"
            "Make:          TopLink Pacific\n"
            "Model:         XY-9\n"
            "Serial number: DEADBEEF\n");
  const ChildResult json = RunBluefin(scanner.Command("info", {"--json"}));
  ExpectDocumented("info", json);
  EXPECT_EQ(json.out, JsonObject()
                              .Add("id", "TopLink Pacific XY-9 DEADBEEF")
                              .Add("displayName", "TopLink Pacific Device")
                              .Add("make", "TopLink Pacific")
                              .Add("model", "XY-9")
                              .Add("serialNumber", "DEADBEEF")
                              .Text() +
                          "\n");
  EXPECT_EQ(scanner.Count(emu::Command::kSetStatus, emu::kStatusArmed), 0u);
  EXPECT_EQ(scanner.Emulator().Snapshot().connections, 2u);
  EXPECT_TRUE(scanner.OnDefaultKey());
}

TEST(Readme, DocumentsEveryOutcomeInOneTable) {
  EXPECT_EQ(DocumentedOutcomeNames(), kDocumentedOutcomes);
}

}  // namespace
}  // namespace bluefin::tool::test
