// Where the capture's results go: image files replaced only by complete
// ones, outputs that cannot be written refused before the scanner is
// touched, and results that do not reach stdout failing the run.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "documented_outcomes.h"
#include "test_scanner.h"
#include "test_support.h"
#include "tools/image_files.h"
#include "tools/json.h"

namespace bluefin::tool::test {
namespace {

emu::Options FingerAtOnce() {
  emu::Options options;
  options.readyAfterPolls = 0;
  return options;
}

std::vector<std::string> Names(const ScratchDir &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file size limit stands for a full disk: the write fails part way.
TEST(CaptureOutput, AFailedSaveLeavesTheFileThatWasThere) {
  TestScanner scanner(FingerAtOnce());
  ScratchDir dir;
  const std::string keep = dir / "keep.png";
  std::ofstream(keep) << "the previous capture";
  ChildOptions options;
  options.fileSizeLimit = 4096;
  const ChildResult run = RunBluefin(scanner.Command("capture", {"--out", keep}), options);
  EXPECT_EQ(run.exitStatus, 1) << run.err;
  EXPECT_NE(run.err.find("bluefin: Cannot write " + keep + ": File too large (code -90)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(FileText(keep), "the previous capture");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"keep.png"}) << "no temporary file stays";
  EXPECT_TRUE(scanner.OnDefaultKey());
}

TEST(CaptureOutput, ASavedFileReplacesTheOldOneAndKeepsItsPermissions) {
  TestScanner scanner(FingerAtOnce());
  ScratchDir dir;
  const std::string target = dir / "kept.pgm";
  std::ofstream(target) << "old";
  chmod(target.c_str(), 0640);
  std::filesystem::create_symlink(target, dir / "link.pgm");
  const ChildResult run = RunBluefin(scanner.Command("capture", {"--out", dir / "link.pgm"}));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.pgm"));
  EXPECT_EQ(FileText(target).substr(0, 3), "P5\n");
  struct stat status {};
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"kept.pgm", "link.pgm"}));
}

TEST(CaptureOutput, OutputsThatCannotBeWrittenAreRefusedBeforeConnecting) {
  TestScanner scanner(FingerAtOnce());
  ScratchDir dir;
  std::filesystem::create_directory(dir / "folder.png");
  std::ofstream(dir / "notes.txt") << "not a folder";
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"--out", dir / "missing/finger.png"},
       "bluefin: Cannot write " + (dir / "missing/finger.png") + ": No such file or directory (code -90)\n"},
      {{"--out", dir / "folder.png"},
       "bluefin: Cannot write " + (dir / "folder.png") + ": Is a directory (code -90)\n"},
      {{"--out", dir / "notes.txt/finger.png"},
       "bluefin: Cannot write " + (dir / "notes.txt/finger.png") + ": Not a directory (code -90)\n"},
      {{"--count", "2", "--out", dir / "finger.png"},
       "bluefin: Output pattern " + (dir / "finger.png") +
           " has no %d: with --count it needs one number, like finger-%02d.png (code -10)\n"},
      {{"--count", "2", "--out", dir / "f-%d-%d.png"},
       "bluefin: Output pattern " + (dir / "f-%d-%d.png") + " has more than one %d"},
      {{"--count", "2", "--out", dir / "missing/f-%d.png"},
       "bluefin: Cannot write " + (dir / "missing/f-1.png") + ": No such file or directory (code -90)\n"},
  };
  for (const auto &row : cases) {
    const ChildResult run = RunBluefin(scanner.Command("capture", row.args));
    EXPECT_EQ(run.exitStatus, 1) << row.line;
    EXPECT_NE(run.err.find(row.line), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Connecting"), std::string::npos) << run.err;
  }
  EXPECT_EQ(scanner.Emulator().Snapshot().connections, 0u);
}

// `bluefin capture --json > /dev/full`: a result nobody received is no
// success. The image itself is saved by then; the scanner is given back.
TEST(CaptureOutput, ResultsThatDoNotReachStdoutFailTheRun) {
  TestScanner scanner(FingerAtOnce());
  ScratchDir dir;
  for (const char *mode : {"--json", "--quiet"}) {
    ChildOptions options;
    options.stdoutPath = "/dev/full";
    const ChildResult run = RunBluefin(scanner.Command("capture", {mode, "--out", dir / "f.png"}), options);
    EXPECT_EQ(run.exitStatus, 1) << mode;
    EXPECT_NE(run.err.find("bluefin: Cannot write to standard output: No space left on device (code -90)\n"),
              std::string::npos)
        << mode << ": " << run.err;
    EXPECT_TRUE(scanner.OnDefaultKey()) << mode;
  }
}

// One session, the scanner serving a new finger at every capture.
TEST(CaptureOutput, CountSavesNumberedImagesFromOneSession) {
  emu::Options options = FingerAtOnce();
  options.freshImagePerCapture = true;
  TestScanner scanner(options);
  ScratchDir dir;
  const ChildResult run =
      RunBluefin(scanner.Command("capture", {"--count", "3", "--out", dir / "f-%02d.pgm", "--json"}));
  ExpectDocumented("capture --count N", run);
  JsonArray images;
  for (const char *name : {"f-01.pgm", "f-02.pgm", "f-03.pgm"}) {
    images.Add(
        JsonObject().Add("path", dir / name).Add("width", 256).Add("height", 360).Add("resolution", 508.0));
  }
  EXPECT_EQ(run.out, JsonObject()
                             .Add("id", "TopLink Pacific BF-2000 0BF12345")
                             .Add("displayName", "TopLink Pacific Device")
                             .Add("make", "TopLink Pacific")
                             .Add("model", "BF-2000")
                             .Add("serialNumber", "0BF12345")
                             .Add("status", 1)
                             .Add("images", images)
                             .Text() +
                         "\n");
  Failure failure;
  const std::optional<GreyImage> first = ReadImage(dir / "f-01.pgm", &failure);
  const std::optional<GreyImage> last = ReadImage(dir / "f-03.pgm", &failure);
  ASSERT_TRUE(first && last) << failure.message;
  EXPECT_NE(first->pixels, last->pixels);
  EXPECT_EQ(last->pixels, scanner.Emulator().ExpectedImage());
  EXPECT_EQ(scanner.Emulator().Snapshot().connections, 1u);
}

TEST(CaptureOutput, TimeoutCancelsACaptureNobodyPutsAFingerOn) {
  emu::Options options;
  options.readyAfterPolls = 1000000;
  TestScanner scanner(options);
  ScratchDir dir;
  const ChildResult run = RunBluefin(
      scanner.Command("capture", {"--timeout", "0.2", "--json", "--out", dir / "f.png"}), FastPolls());
  ExpectDocumented("--timeout ran out", run);
  JsonObject error;
  error.Add("code", V_E_TIMEOUT)
      .Add("message", "No finger on the scanner within 0.2 seconds; the capture was cancelled");
  EXPECT_EQ(run.out, JsonObject().Add("error", error).Text() + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "f.png"));
  EXPECT_TRUE(scanner.OnDefaultKey());
}

// The image's first part is held past the deadline: once the finger is on,
// the transfer runs to its end. The deadline is wall-clock time, so the
// wait for it to pass is real.
TEST(CaptureOutput, TimeoutNeverCutsATransferShort) {
  TestScanner scanner(FingerAtOnce());
  ScratchDir dir;
  scanner.HoldAnswerTo(emu::Command::kImagePart, 0);
  constexpr std::chrono::milliseconds kTimeout{100};
  Child capture(scanner.Command("capture", {"--timeout", "0.1", "--out", dir / "f.png"}));
  ASSERT_TRUE(scanner.WaitUntilHolding());
  const auto armed = scanner.FirstTime(emu::Command::kSetStatus, emu::kStatusArmed);
  ASSERT_TRUE(armed);
  std::this_thread::sleep_until(*armed + 3 * kTimeout);
  scanner.Release();
  const ChildResult run = capture.Finish();
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "f.png"));
}

}  // namespace
}  // namespace bluefin::tool::test
