// The capture command's contract as scripts see it: what it prints, writes
// and exits with. Runs the built command as a child process.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <regex>

#include "child_process.h"
#include "emulator/emulator.h"
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
  const ChildResult run = RunBluefin({"capture"}, dir.path().string());
  ASSERT_EQ(run.exitStatus, 0) << run.err;

  EXPECT_EQ(run.out,
            "Identifier:    TopLink Pacific BF-2000 0BF12345\n"
            "Display name:  TopLink Pacific Device\n"
            "Make:          TopLink Pacific\n"
            "Model:         BF-2000\n"
            "Serial number: 0BF12345\n"
            "Saved finger.png: 256 x 360 pixels, 508 dpi\n");
  // Not a terminal: every step on a line of its own.
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
  EXPECT_NE(run.err.find("Waiting for a finger on the scanner (poll 1)\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Finger detected (poll 2)\n"), std::string::npos) << run.err;
  EXPECT_EQ(Percentages(run.err), (std::vector<unsigned>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));

  // The file layout is the image writer's (checked on its own); here, that the module's image and
  // resolution reach it: exactly the finger the built-in scanner serves, row 0 at the top.
  const PngFile png = ReadPngFile(dir / "finger.png");
  EXPECT_EQ(png.width, 256u);
  EXPECT_EQ(png.physX, 20000u);
  EXPECT_EQ(png.physY, 20000u);
  emu::Options scanner;
  scanner.address = kEmbeddedScannerAddress;
  EXPECT_EQ(png.pixels, emu::Emulator(scanner).ExpectedImage());
}

struct FailureCase {
  const char *name;
  std::vector<std::string> args;  // after "capture"
  VResult code;
  std::string message;  // what the line must contain
};

// Each failure twice: as the stderr line, and as the JSON object with the
// same code and message.
void ExpectFailure(const FailureCase &row) {
  std::vector<std::string> args = {"capture"};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const ChildResult text = RunBluefin(args);
  EXPECT_EQ(text.exitStatus, 1) << row.name;
  EXPECT_EQ(text.out, "") << row.name;
  const std::regex line(R"(bluefin: (.+) \(code (-?\d+)\)\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(text.err, match, line)) << row.name << ": " << text.err;
  EXPECT_EQ(match.suffix(), "") << row.name << ": the failure line comes last";
  const std::string message = match[1];
  EXPECT_EQ(std::stoi(match[2]), row.code) << row.name;
  EXPECT_NE(message.find(row.message), std::string::npos) << row.name << ": " << message;

  args.push_back("--json");
  const ChildResult json = RunBluefin(args);
  EXPECT_EQ(json.exitStatus, 1) << row.name;
  JsonObject error;
  error.Add("code", row.code).Add("message", message);
  EXPECT_EQ(json.out, JsonObject().Add("error", error).Text() + "\n") << row.name;
}

TEST(CaptureCommand, FailuresGiveTheHostsErrorOnStderrOrAsJson) {
  const std::string nobody = UniqueAddress();  // nothing listens there
  const FailureCase cases[] = {
      // Refused before any connection: nothing listens at that address.
      {"other extension",
       {"--out", "finger.jpg", "--address", nobody, "--emulated"},
       V_E_ARGUMENT,
       "Output file finger.jpg must end in .png or .pgm"},
      {"nothing listens", {"--address", nobody, "--emulated"}, V_E_WIN32, "Connection refused at connect"},
      {"empty name",
       {"--address", nobody, "--emulated", "--name", ""},
       V_E_ARGUMENT,
       "hName is NULL or an empty string"},
      {"missing module",
       {"--module", "/nonexistent/VdmBlueFin.so", "--address", nobody, "--emulated"},
       V_E_FAILED,
       "/nonexistent/VdmBlueFin.so"},
  };
  for (const FailureCase &row : cases) {
    ExpectFailure(row);
  }
}

TEST(CaptureCommand, RealBluetoothWithoutAnAdapterFailsCleanly) {
  std::error_code ignored;
  if (std::filesystem::exists("/sys/class/bluetooth", ignored) &&
      !std::filesystem::is_empty("/sys/class/bluetooth", ignored)) {
    GTEST_SKIP() << "this machine has a Bluetooth adapter; the capture would page a real radio";
  }
  // The platform's own text and the call that failed.
  ExpectFailure({"real Bluetooth", {"--address", "00:11:22:33:44:55"}, V_E_WIN32, " at "});
}

TEST(CaptureCommand, UsageErrorsExit2AndHelpExits0) {
  const struct {
    std::vector<std::string> args;
    int exitStatus;
  } cases[] = {
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"capture", "--bogus"}, 2},
      {{"emulate"}, 2},  // --address is required
      {{"emulate", "--address", "0B:F1:00:00:00:02", "--ready-after", "soon"}, 2},
      {{"capture", "--help"}, 0},
  };
  for (const auto &row : cases) {
    const ChildResult run = RunBluefin(row.args);
    EXPECT_EQ(run.exitStatus, row.exitStatus) << ::testing::PrintToString(row.args) << run.err;
    if (row.exitStatus != 0) {
      EXPECT_EQ(run.out, "") << ::testing::PrintToString(row.args);
    }
  }
}

}  // namespace
}  // namespace bluefin::tool::test
