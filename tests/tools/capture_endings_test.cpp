// How a capture ends, and the scanner it leaves behind: files replaced only
// by complete ones, outputs refused before connecting, results that do not
// reach stdout, the deadline, and the signals that ask the command to stop.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "command_support.h"

namespace bluefin::tool::test {
namespace {

// A file size limit stands for a full disk: the write fails part way, and
// the file that was there stays. A save that succeeds replaces the file a
// link leads to, not the link, and keeps the file's permissions.
TEST(CaptureOutput, AFileIsReplacedOnlyByACompleteOne) {
  TestScanner scanner(0);
  ScratchDir dir;
  const std::string keep = dir / "keep.png";
  std::ofstream(keep) << "the previous capture";
  chmod(keep.c_str(), 0640);
  // A coverage build's child writes its profile as it exits, which the limit
  // would cut short for the runs after it: it writes it apart.
  const ScratchDir profile;
  const ChildResult failed = RunBluefin(scanner.Command("capture", {"--out", keep}),
                                        {.wrapper = {"/usr/bin/env", "GCOV_PREFIX=" + profile.path().string(),
                                                     "/usr/bin/prlimit", "--fsize=4096", "--"}});
  EXPECT_EQ(failed.exitStatus, 1) << failed.err;
  EXPECT_THAT(failed.err, HasSubstr("bluefin: Cannot write " + keep + ": File too large (code -90)\n"));
  EXPECT_EQ(FileText(keep), "the previous capture");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "no temporary file stays";
  EXPECT_TRUE(scanner.OnDefaultKey());

  std::filesystem::create_symlink(keep, dir / "link.png");
  const ChildResult saved = RunBluefin(scanner.Command("capture", {"--quiet", "--out", dir / "link.png"}));
  ASSERT_EQ(saved.exitStatus, 0) << saved.err;
  EXPECT_EQ(saved.err, "") << "--quiet shows no progress";
  EXPECT_THAT(saved.out, HasSubstr("Saved " + (dir / "link.png")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.png"));
  EXPECT_THAT(FileText(keep), StartsWith("\x89PNG"));
  struct stat status {};
  ASSERT_EQ(stat(keep.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// The pattern's own refusals are the name maker's (unit-tested); one shows
// they come before connecting.
TEST(CaptureOutput, OutputsThatCannotBeWrittenAreRefusedBeforeConnecting) {
  TestScanner scanner(0);
  ScratchDir dir;
  std::filesystem::create_directory(dir / "folder.png");
  std::ofstream(dir / "notes.txt") << "not a folder";
  // clang-format off
  ExpectRefusals(scanner.Command("capture"), {
      {{"--out", dir / "missing/finger.png"}, "Cannot write " + (dir / "missing/finger.png") + ": No such file or directory (code -90)\n"},
      {{"--out", dir / "folder.png"}, "Cannot write " + (dir / "folder.png") + ": Is a directory (code -90)\n"},
      {{"--out", dir / "notes.txt/finger.png"}, "Cannot write " + (dir / "notes.txt/finger.png") + ": Not a directory (code -90)\n"},
      {{"--count", "2", "--out", dir / "finger.png"}, "Output pattern " + (dir / "finger.png") + " has no %d: with --count it needs one number, like finger-%02d.png (code -10)\n"},
      {{"--count", "2", "--out", dir / "missing/f-%d.png"}, "Cannot write " + (dir / "missing/f-1.png") + ": No such file or directory (code -90)\n"},
  });
  // clang-format on
  EXPECT_EQ(scanner.Emulator().Snapshot().connections, 0u);
}

// `bluefin capture --json > /dev/full`: a result nobody received is no
// success. `bluefin capture | head -0`: SIGPIPE does not kill the command.
// The text report's properties come first: when they cannot be written, the
// capture is not worth starting. The scanner is given back either way.
TEST(CaptureOutput, ResultsThatDoNotReachStdoutFailTheRun) {
  TestScanner scanner(0);
  ScratchDir dir;
  const ChildOptions full = {.wrapper = {"/bin/sh", "-c", "exec \"$0\" \"$@\" > /dev/full"}};
  const struct {
    std::string mode;
    ChildOptions options;
    std::string error;
    bool captures;
  } cases[] = {
      // clang-format off
      {"--json",  full, "No space left on device", true},
      {"--quiet", full, "No space left on device", false},
      {"--json",  {.closeStdout = true},       "Broken pipe",             true},
      {"--quiet", {.closeStdout = true},       "Broken pipe",             false},
      // clang-format on
  };
  for (const auto &row : cases) {
    const std::string out = dir / (row.mode + row.error + ".png");
    const std::size_t armed = scanner.Armings();
    const ChildResult run = RunBluefin(scanner.Command("capture", {row.mode, "--out", out}), row.options);
    EXPECT_EQ(run.exitStatus, 1) << out;
    EXPECT_THAT(run.err,
                HasSubstr("bluefin: Cannot write to standard output: " + row.error + " (code -90)\n"));
    EXPECT_TRUE(scanner.OnDefaultKey()) << out;
    EXPECT_EQ(scanner.Armings() > armed, row.captures) << out;
    EXPECT_EQ(std::filesystem::exists(out), row.captures) << out;
  }
}

// A capture nobody puts a finger on is cancelled at the deadline. Then the
// image's first part is held past it: once the finger is on, the transfer
// runs to its end. The deadline is wall-clock time, so the wait for it to
// pass is real.
TEST(CaptureOutput, TimeoutCancelsTheWaitForAFingerButNeverATransfer) {
  ScratchDir dir;
  TestScanner nobody(1000000);
  const ChildResult run = RunBluefin(
      nobody.Command("capture", {"--timeout", "0.2", "--json", "--out", dir / "f.png"}), FastPolls());
  ExpectDocumented("--timeout ran out", run);
  EXPECT_EQ(run.out,
            "{\"error\": {\"code\": -30, \"message\": \"No finger on the scanner within 0.2 seconds; the "
            "capture was cancelled\"}}\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "f.png"));
  EXPECT_TRUE(nobody.OnDefaultKey());

  TestScanner scanner(0);
  scanner.HoldAnswerTo(emu::Command::kImagePart, 0);
  Child capture(scanner.Command("capture", {"--timeout", "0.1", "--out", dir / "f.png"}));
  ASSERT_TRUE(scanner.WaitUntilHolding());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // three times the deadline
  scanner.Release();
  const ChildResult saved = capture.Finish();
  EXPECT_EQ(saved.exitStatus, 0) << saved.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "f.png"));
}

// Each cancels the capture and gives the scanner its default key back.
// SIGHUP (the terminal closing) and SIGQUIT (Ctrl-\) used to end the process
// with the scanner on its session key.
TEST(CommandSignals, EachCancelsTheCaptureAndGivesTheScannerBack) {
  TestScanner scanner(1000000);
  ScratchDir dir;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    Child capture(scanner.Command("capture", {"--out", dir / "finger.png", "--json"}), FastPolls());
    ASSERT_TRUE(capture.WaitFor(&ChildResult::err, "Waiting for a finger on the scanner (poll 2)\n"));
    capture.Signal(signal);
    const ChildResult run = capture.Finish();
    ExpectDocumented("cancelled by a signal", run, signal);
    EXPECT_EQ(run.out, Identity().Add("status", 2).Text() + "\n");
    EXPECT_THAT(run.err, HasSubstr("Cancelled (SIG"));
    EXPECT_THAT(run.err, Not(HasSubstr("Transferring")));
    EXPECT_FALSE(std::filesystem::exists(dir / "finger.png"));
    EXPECT_TRUE(scanner.OnDefaultKey());
  }
}

// The second capture of a series is cancelled: the first image stays, and
// the object lists it.
TEST(CommandSignals, CancellingASeriesKeepsTheImagesSavedBeforeIt) {
  TestScanner scanner(0);
  ScratchDir dir;
  scanner.HoldAnswerTo(emu::Command::kSetStatus, emu::kStatusArmed, 2);
  Child capture(scanner.Command("capture", {"--count", "3", "--out", dir / "f%d.png", "--json"}));
  ASSERT_TRUE(scanner.WaitUntilHolding());
  // Whether the cancel comes before or after the capture ends, no second image.
  capture.Signal(SIGTERM);
  scanner.Release();
  const ChildResult run = capture.Finish();
  ExpectDocumented("cancelled during capture --count N", run, SIGTERM);
  EXPECT_EQ(
      run.out,
      Identity().Add("status", 2).Add("images", JsonArray().Add(SavedImage(dir / "f1.png"))).Text() + "\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "f1.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "f2.png"));
  EXPECT_TRUE(scanner.OnDefaultKey());
}

// The opening exchange's last answer is held: the scanner is on the session
// key, and the module's creation cannot be cancelled. The command waits for
// the device to remove it; as the README warns, a second interrupt quits at
// once and strands the scanner.
TEST(CommandSignals, AnInterruptWhileConnectingWaitsForTheDeviceUnlessRepeated) {
  for (const bool repeated : {false, true}) {
    TestScanner scanner(1000000);
    ScratchDir dir;
    scanner.HoldAnswerTo(emu::Command::kSetStatus, emu::kStatusIdle);
    Child capture(scanner.Command("capture", {"--json", "--out", dir / "finger.png"}));
    ASSERT_TRUE(scanner.WaitUntilHolding());
    ASSERT_TRUE(capture.WaitFor(&ChildResult::err, "Connecting to " + scanner.Address() + "...\n"));
    ASSERT_FALSE(scanner.OnDefaultKey());
    capture.Signal(SIGINT);
    ASSERT_TRUE(capture.WaitFor(
        &ChildResult::err, "Cancelling: waiting for the connection to " + scanner.Address() + " to finish"));
    if (repeated) {
      capture.Signal(SIGINT);
      const ChildResult run = capture.Finish();  // while the answer is still held
      EXPECT_EQ(run.exitStatus, 128 + SIGINT);
      EXPECT_EQ(run.out, "");
      scanner.Release();
      EXPECT_FALSE(scanner.OnDefaultKey());
    } else {
      scanner.Release();
      const ChildResult run = capture.Finish();
      ExpectDocumented("cancelled while connecting", run, SIGINT);
      EXPECT_EQ(run.out, "{\"status\": 2}\n");
      EXPECT_TRUE(scanner.OnDefaultKey());
      EXPECT_EQ(scanner.Armings(), 0u);
    }
  }
}

}  // namespace
}  // namespace bluefin::tool::test
