// The capture and info commands' contract as scripts see it: what they
// print, write and exit with, built and installed.
#include <filesystem>
#include <regex>

#include "command_support.h"
#include "tools/commands.h"
#include "v_types.h"

namespace bluefin::tool::test {
namespace {

// make run's path, and the one run here that waits out a real poll period:
// the built-in scanner answers ready at its second poll.
TEST(CaptureCommand, BuiltInScannerGivesA508DpiPngInTheWorkingDirectory) {
  ScratchDir dir;
  const ChildResult run = RunBluefin({"capture"}, {.wrapper = {"/usr/bin/env", "-C", dir.path()}});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out,
            "Identifier:    TopLink Pacific BF-2000 0BF12345\n"
            "Display name:  TopLink Pacific Device\n"
            "Make:          TopLink Pacific\n"
            "Model:         BF-2000\n"
            "Serial number: 0BF12345\n"
            "Saved finger.png: 256 x 360 pixels, 508 dpi\n");
  // Progress from the start, on the first address free; not a terminal:
  // every step on a line of its own, the bar a twelfth longer each time.
  std::string progress =
      "Connecting to 0B:F1:00:00:00:[0-9A-F]{2} \\(the built-in emulator\\)\\.\\.\\.\n"
      "Waiting for a finger on the scanner \\(poll 1\\)\nFinger detected \\(poll 2\\)\n";
  for (int part = 0; int percent : {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}) {
    ++part;
    progress += "Transferring image \\[" + std::string(2 * part, '#') + std::string(24 - 2 * part, '.') +
                "\\] +" + std::to_string(percent) + "%\n";
  }
  EXPECT_TRUE(std::regex_match(run.err, std::regex(progress))) << run.err;

  // The file layout is the image writer's (checked on its own); here, that the module's image and
  // resolution reach it: exactly the finger the built-in scanner serves, row 0 at the top.
  const PngFile png = ReadPngFile(dir / "finger.png");
  EXPECT_EQ(png.width, 256u);
  EXPECT_EQ(png.phys, std::string("\0\0\x4e\x20\0\0\x4e\x20\x01", 9));  // 20000 pixels per metre
  EXPECT_EQ(png.pixels, emu::Emulator(emu::Options{}).ExpectedImage());
}

// Each failure twice: as the stderr lines, and as the JSON object with the
// same code, message and hint. The hints' own sentences are unit-tested.
TEST(CaptureCommand, FailuresGiveTheHostsErrorAndAHintOnStderrOrAsJson) {
  const std::string nobody = UniqueAddress();  // nothing listens there
  const struct {
    std::vector<std::string> args;  // after "capture"
    VResult code;
    std::string message;  // what the line must contain
    std::string hint;     // what the hint must contain; empty for none
    bool connects;        // refused only once the command connected
  } cases[] = {
      // clang-format off
      {{"--out", "finger.jpg", "--address", nobody, "--emulated"}, V_E_ARGUMENT, "Output file finger.jpg must end in .png or .pgm", "", false},
      {{"--address", "00:11:22:33:44", "--emulated"}, V_E_ARGUMENT, "Scanner address must be XX:XX:XX:XX:XX:XX, not \"00:11:22:33:44\"", "", false},
      {{"--address", nobody, "--emulated", "--name", ""}, V_E_ARGUMENT, "Display name must not be empty; leave --name out for the module's default", "", false},
      {{"--address", nobody, "--emulated"}, V_E_WIN32, "Connection refused at connect", "No emulated scanner listens at " + nobody + ": start `bluefin emulate --address " + nobody + "`", true},
      {{"--module", "/nonexistent/VdmBlueFin.so", "--address", nobody, "--emulated"}, V_E_FAILED, "/nonexistent/VdmBlueFin.so", "", false},
      // clang-format on
  };
  for (const auto &row : cases) {
    std::vector<std::string> args = Concat({"capture"}, row.args);
    SCOPED_TRACE(row.message);
    const ChildResult text = RunBluefin(args);
    EXPECT_EQ(text.exitStatus, 1);
    EXPECT_EQ(text.out, "");
    const std::regex lines(R"(bluefin: (.+) \(code (-?\d+)\)\n(bluefin: hint: (.+)\n)?)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text.err, match, lines)) << text.err;
    EXPECT_EQ(match.suffix(), "") << "the failure comes last";
    const std::string message = match[1];
    const std::string hint = match[4];
    EXPECT_EQ(std::stoi(match[2]), row.code);
    EXPECT_THAT(message, HasSubstr(row.message));
    EXPECT_EQ(hint.empty(), row.hint.empty()) << hint;
    EXPECT_THAT(hint, HasSubstr(row.hint));
    EXPECT_EQ(text.err.find("Connecting to") != std::string::npos, row.connects) << text.err;

    args.push_back("--json");
    const ChildResult json = RunBluefin(args);
    ExpectDocumented(hint.empty() ? "a failure" : "a failure with a hint", json);
    JsonObject error;
    error.Add("code", row.code).Add("message", message);
    if (!hint.empty()) {
      error.Add("hint", hint);
    }
    EXPECT_EQ(json.out, JsonObject().Add("error", error).Text() + "\n");
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
      {{"emulate", "--address", "0B:F1:00:00:00:02", "--fault", "silence@key", "silence@echo"}, "bluefin: The following argument was not expected: silence@echo"},  // one fault per --fault
      // clang-format on
  };
  for (const auto &row : cases) {
    const ChildResult run = RunBluefin(row.args);
    ExpectDocumented("a usage error", run);
    EXPECT_THAT(run.err, StartsWith(row.line));
    EXPECT_THAT(run.err, HasSubstr("Try 'bluefin --help' for more information.\n"));
  }
  const ChildResult help = RunBluefin({"capture", "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_THAT(help.out, HasSubstr("--timeout"));
  const ChildResult version = RunBluefin({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "bluefin 9.0.0\n");
}

// The identity, and nothing armed on the scanner, which gets its key back.
TEST(InfoCommand, ShowsTheIdentityWithoutCapturing) {
  emu::Options options;
  options.model = "XY-9";
  options.serial = 0xDEADBEEF;
  TestScanner scanner(1, options);
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
  EXPECT_EQ(json.out, Identity("XY-9", "DEADBEEF").Text() + "\n");
  EXPECT_EQ(scanner.Armings(), 0u);
  EXPECT_EQ(scanner.Emulator().Snapshot().connections, 2u);
  EXPECT_TRUE(scanner.OnDefaultKey());
}

// The outcomes the tests here check against the README, each in one row.
TEST(Readme, DocumentsEveryOutcomeInOneTable) {
  std::vector<std::string> names;
  for (const Outcome &row : DocumentedOutcomes()) {
    names.push_back(row.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"capture", "capture --count N", "info", "devices", "a failure",
                                             "a failure with a hint", "a usage error", "--timeout ran out",
                                             "cancelled by a signal", "cancelled while connecting",
                                             "cancelled during capture --count N"}));
}

// cmake --install into a prefix, the tree moved, and a capture from the
// built-in emulator with what was installed alone; its address taken (by
// another terminal or test run), the command takes the next one.
TEST(Install, AMovedTreeCapturesWithWhatWasInstalled) {
  emu::Options first;
  first.address = kEmbeddedScannerAddress;
  emu::Emulator holder(first);
  holder.Start(nullptr);  // or someone else holds it already
  ScratchDir dir;
  const ChildResult install = RunBluefin({"--install", BLUEFIN_BUILD_DIR, "--prefix", dir / "prefix"},
                                         {.program = BLUEFIN_CMAKE_COMMAND});
  ASSERT_EQ(install.exitStatus, 0) << install.out << install.err;
  std::filesystem::rename(dir / "prefix", dir / "moved");
  const std::filesystem::path moved = dir.path() / "moved";
  EXPECT_THAT(FileText(moved / "share/man/man1/bluefin.1"), StartsWith(".TH BLUEFIN 1 "));
  ChildOptions options =
      FastPolls({.program = moved / "bin/bluefin", .wrapper = {"/usr/bin/env", "-C", dir.path()}});
  const ChildResult run = RunBluefin({"capture", "--json"}, options);
  ExpectDocumented("capture", run);
  EXPECT_THAT(run.err, Not(HasSubstr("Connecting to 0B:F1:00:00:00:01 ")));
  EXPECT_TRUE(std::filesystem::exists(dir / "finger.png"));

  // It was the moved tree's module: without it the command names its path
  // rather than reach back into the build tree.
  const std::filesystem::recursive_directory_iterator end;
  const auto module =
      std::find_if(std::filesystem::recursive_directory_iterator(moved), end,
                   [](const auto &entry) { return entry.path().filename() == "VdmBlueFinEmulated.so"; });
  ASSERT_NE(module, end);
  const std::filesystem::path path = module->path();
  std::filesystem::remove(path);
  const ChildResult without = RunBluefin({"capture", "--quiet"}, options);
  EXPECT_EQ(without.exitStatus, 1);
  EXPECT_THAT(without.err, HasSubstr(std::filesystem::weakly_canonical(path).string()));
}

}  // namespace
}  // namespace bluefin::tool::test
