// What ends the command early, and the scanner it leaves behind: every
// signal that asks it to stop cancels the capture and gives the scanner its
// default key back first; a reader that went away is a failed write, not a
// death; an interrupt while the device is being created waits for the
// creation, so that the device it made can be removed.
#include <signal.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "documented_outcomes.h"
#include "test_scanner.h"
#include "test_support.h"
#include "tools/json.h"

namespace bluefin::tool::test {
namespace {

// The scanner never sees a finger: a capture waits until it is stopped.
emu::Options NoFinger() {
  emu::Options options;
  options.readyAfterPolls = 1000000;
  return options;
}

std::string CancelledJson() {
  return JsonObject()
             .Add("id", "TopLink Pacific BF-2000 0BF12345")
             .Add("displayName", "TopLink Pacific Device")
             .Add("make", "TopLink Pacific")
             .Add("model", "BF-2000")
             .Add("serialNumber", "0BF12345")
             .Add("status", 2)
             .Text() +
         "\n";
}

// SIGHUP is the terminal closing, SIGQUIT Ctrl-\: both used to end the
// process with the scanner still on its session key.
TEST(CommandSignals, EachCancelsTheCaptureAndGivesTheScannerBack) {
  TestScanner scanner(NoFinger());
  ScratchDir dir;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const std::string name = strsignal(signal);
    Child capture(scanner.Command("capture", {"--out", dir / "finger.png", "--json"}), FastPolls());
    ASSERT_TRUE(capture.WaitFor(Child::Stream::kErr, "Waiting for a finger on the scanner (poll 2)\n"))
        << name;
    capture.Signal(signal);
    const ChildResult run = capture.Finish();
    ExpectDocumented("cancelled by a signal", run, signal);
    EXPECT_EQ(run.out, CancelledJson()) << name;
    EXPECT_NE(run.err.find("Cancelled (SIG"), std::string::npos) << name << ": " << run.err;
    EXPECT_EQ(run.err.find("Transferring"), std::string::npos) << name << ": " << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "finger.png")) << name;
    EXPECT_TRUE(scanner.OnDefaultKey()) << name;
  }
}

// The second capture of a series is cancelled: the first image stays, and
// the object lists it.
TEST(CommandSignals, CancellingASeriesKeepsTheImagesSavedBeforeIt) {
  emu::Options options;
  options.readyAfterPolls = 0;
  TestScanner scanner(options);
  ScratchDir dir;
  scanner.HoldAnswerTo(emu::Command::kSetStatus, emu::kStatusArmed, 2);
  Child capture(scanner.Command("capture", {"--count", "3", "--out", dir / "f%d.png", "--json"}));
  ASSERT_TRUE(scanner.WaitUntilHolding());
  // Whether the cancel reaches the capture before or after it ends, the
  // second image is not saved.
  capture.Signal(SIGTERM);
  scanner.Release();
  const ChildResult run = capture.Finish();
  ExpectDocumented("cancelled during capture --count N", run, SIGTERM);
  JsonArray images;
  images.Add(
      JsonObject().Add("path", dir / "f1.png").Add("width", 256).Add("height", 360).Add("resolution", 508.0));
  EXPECT_EQ(run.out,
            CancelledJson().substr(0, CancelledJson().size() - 2) + ", \"images\": " + images.Text() + "}\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "f1.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "f2.png"));
  EXPECT_TRUE(scanner.OnDefaultKey());
}

// `bluefin capture | head -0`: the properties cannot be written, so the
// capture is not worth starting; the scanner is given back all the same.
TEST(CommandSignals, AReaderThatWentAwayFailsTheRunNotTheScanner) {
  TestScanner scanner(NoFinger());
  ChildOptions options = FastPolls();
  options.closeStdout = true;
  const ChildResult run = RunBluefin(scanner.Command("capture"), options);
  EXPECT_EQ(run.exitStatus, 1) << run.err;
  EXPECT_NE(run.err.find("bluefin: Cannot write to standard output: Broken pipe (code -90)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(scanner.Count(emu::Command::kSetStatus, emu::kStatusArmed), 0u);
  EXPECT_TRUE(scanner.OnDefaultKey());
}

// The answer to the opening exchange's last command is held: the scanner is
// on the session key, and the module's creation cannot be cancelled.
class InterruptWhileConnecting : public ::testing::Test {
 protected:
  void SetUp() override {
    scanner_.HoldAnswerTo(emu::Command::kSetStatus, emu::kStatusIdle);
    capture_.emplace(scanner_.Command("capture", {"--json", "--out", dir_ / "finger.png"}));
    ASSERT_TRUE(scanner_.WaitUntilHolding());
    ASSERT_TRUE(capture_->WaitFor(Child::Stream::kErr, "Connecting to " + scanner_.Address() + "...\n"));
    ASSERT_FALSE(scanner_.OnDefaultKey());
    capture_->Signal(SIGINT);
    ASSERT_TRUE(capture_->WaitFor(Child::Stream::kErr, "Cancelling: waiting for the connection to " +
                                                           scanner_.Address() + " to finish"));
  }

  TestScanner scanner_{NoFinger()};
  ScratchDir dir_;
  std::optional<Child> capture_;
};

TEST_F(InterruptWhileConnecting, WaitsForTheDeviceAndRemovesIt) {
  scanner_.Release();
  const ChildResult run = capture_->Finish();
  ExpectDocumented("cancelled while connecting", run, SIGINT);
  EXPECT_EQ(run.out, "{\"status\": 2}\n");
  EXPECT_TRUE(scanner_.OnDefaultKey());
  EXPECT_EQ(scanner_.Count(emu::Command::kSetStatus, emu::kStatusArmed), 0u);
}

// What the README warns of: a second interrupt does not wait, and the
// scanner stays on a key nobody knows until it is switched off and on.
TEST_F(InterruptWhileConnecting, ASecondInterruptQuitsAtOnce) {
  capture_->Signal(SIGINT);
  const ChildResult run = capture_->Finish();  // while the answer is still held
  EXPECT_EQ(run.exitStatus, 128 + SIGINT);
  EXPECT_EQ(run.out, "");
  scanner_.Release();
  EXPECT_FALSE(scanner_.OnDefaultKey());
}

}  // namespace
}  // namespace bluefin::tool::test
