// Two processes, as two terminals: `bluefin emulate` serving a scanner and
// `bluefin capture --emulated` capturing from it.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <memory>

#include "child_process.h"
#include "emulator/delta_encoder.h"
#include "test_support.h"
#include "tools/image_files.h"
#include "tools/json.h"

namespace bluefin::tool::test {
namespace {

constexpr std::uint32_t kWidth = 256;
constexpr std::uint32_t kHeight = 360;

// A pattern that shows a flipped, mirrored or shifted image at once.
emu::Image TestPattern() {
  emu::Image image(kWidth * kHeight);
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      image[y * kWidth + x] = static_cast<std::uint8_t>((x * 3 + y * 5 + (x * y) / 64) & 0xFF);
    }
  }
  return image;
}

void WritePattern(const std::string &path, ImageFormat format, const emu::Image &image,
                  std::uint32_t width = kWidth) {
  Failure failure;
  ASSERT_TRUE(WriteImage(path, format, GreyImageView{width, kHeight, kWidth, image.data(), 0, 0}, &failure))
      << failure.message;
}

// An emulate process for one test; stopped with SIGINT, it must exit 0.
class Emulate {
 public:
  explicit Emulate(std::vector<std::string> extra) : address_(UniqueAddress()) {
    std::vector<std::string> args = {"emulate", "--address", address_};
    args.insert(args.end(), extra.begin(), extra.end());
    child_ = std::make_unique<Child>(args);
    listening_ = child_->WaitFor(Child::Stream::kOut, "Press Ctrl-C to stop.\n");
  }
  ~Emulate() {
    child_->Signal(SIGINT);
    const ChildResult result = child_->Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("Stopped."), std::string::npos);
  }
  bool Listening() const { return listening_; }
  std::vector<std::string> Capture(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"capture", "--emulated", "--address", address_};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

 private:
  std::string address_;
  std::unique_ptr<Child> child_;
  bool listening_ = false;
};

// The served image read from a PNG, the capture saved as a PGM and reported as JSON; the PNG
// output and the text report are the built-in scanner's test's.
TEST(EmulateCommand, CaptureSavesExactlyWhatTheScannerSends) {
  ScratchDir dir;
  const emu::Image pattern = TestPattern();
  WritePattern(dir / "served.png", ImageFormat::kPng, pattern);
  Emulate emulate(
      {"--ready-after", "0", "--image", dir / "served.png", "--model", "XY-9", "--serial", "0xdeadbeef"});
  ASSERT_TRUE(emulate.Listening());

  const std::string out = dir / "finger.pgm";
  const ChildResult run = RunBluefin(emulate.Capture({"--out", out, "--name", "Desk \"2\"", "--json"}));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  JsonObject image;
  image.Add("path", out).Add("width", kWidth).Add("height", kHeight).Add("resolution", 508.0);
  JsonObject object;
  object.Add("id", "TopLink Pacific XY-9 DEADBEEF")
      .Add("displayName", "Desk \"2\"")
      .Add("make", "TopLink Pacific")
      .Add("model", "XY-9")
      .Add("serialNumber", "DEADBEEF")
      .Add("status", 1)
      .Add("image", image);
  EXPECT_EQ(run.out, object.Text() + "\n");
  // Ready at the first poll: no waiting line, straight to the transfer.
  EXPECT_EQ(run.err.find("Waiting"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Finger detected (poll 1)"), std::string::npos) << run.err;

  Failure failure;
  const std::optional<GreyImage> saved = ReadImage(out, &failure);
  ASSERT_TRUE(saved) << failure.message;
  EXPECT_EQ(saved->pixels, emu::EncodeImage(pattern).reconstruction) << "the coding is lossy";
}

TEST(EmulateCommand, AFailedSaveStillRemovesTheDevice) {
  ScratchDir dir;
  Emulate emulate({"--ready-after", "0"});
  ASSERT_TRUE(emulate.Listening());
  const std::string missing = dir / "no-such-dir/finger.png";
  const ChildResult failed = RunBluefin(emulate.Capture({"--out", missing}));
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_NE(failed.err.find("bluefin: Cannot write " + missing + ": No such file or directory (code -90)\n"),
            std::string::npos)
      << failed.err;
  // The scanner answers a new host under its default key again.
  const ChildResult again = RunBluefin(emulate.Capture({"--out", dir / "finger.png"}));
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

// The scanner is caught waiting for a finger. The command's polls are made
// a hundred times shorter, so the scanner never becomes ready here.
TEST(EmulateCommand, InterruptCancelsTheCaptureAndGivesTheScannerBack) {
  ScratchDir dir;
  Emulate emulate({"--ready-after", "1000000"});
  ASSERT_TRUE(emulate.Listening());
  setenv("VFW_TEST_SLEEP_DIVISOR", "100", 1);

  Child capture(emulate.Capture({"--out", dir / "finger.png", "--json"}));
  ASSERT_TRUE(capture.WaitFor(Child::Stream::kErr, "Waiting for a finger on the scanner (poll 2)\n"));
  capture.Signal(SIGINT);
  const ChildResult interrupted = capture.Finish();
  EXPECT_EQ(interrupted.exitStatus, 130);
  EXPECT_EQ(interrupted.out,
            "{\"error\": {\"code\": -1, \"message\": \"Interrupted: the capture was cancelled\"}}\n");
  EXPECT_EQ(interrupted.err.find("Transferring"), std::string::npos) << interrupted.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "finger.png"));

  // A new host opens the scanner under the default key: the interrupted
  // command gave it back.
  Child again(emulate.Capture({"--out", dir / "finger.png"}));
  EXPECT_TRUE(again.WaitFor(Child::Stream::kOut, "Identifier:    TopLink Pacific BF-2000 0BF12345\n"));
  EXPECT_TRUE(again.WaitFor(Child::Stream::kErr, "Waiting for a finger on the scanner (poll 1)\n"));
  again.Signal(SIGINT);
  EXPECT_EQ(again.Finish().exitStatus, 130);
  unsetenv("VFW_TEST_SLEEP_DIVISOR");
}

TEST(EmulateCommand, BadOptionsAreRefusedBeforeListening) {
  ScratchDir dir;
  const emu::Image pattern = TestPattern();
  WritePattern(dir / "narrow.pgm", ImageFormat::kPgm, pattern, kWidth - 1);
  // The reader's and the emulator's own refusals are checked where they are made; one of each
  // shows they reach the command's line.
  const std::string address = UniqueAddress();
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"--image", dir / "narrow.pgm"},
       "Image " + (dir / "narrow.pgm") +
           " is 255 x 360 pixels; the scanner's images are 256 x 360 (code -10)"},
      {{"--image", dir / "absent.png"},
       "Cannot read " + (dir / "absent.png") + ": No such file or directory (code -90)"},
      {{"--serial", "12345678A"},
       "Serial number must be 1 to 8 hexadecimal digits, not 12345678A (code -10)"},
      {{"--model", "TOOLONG8"}, "Model text must be at most 7 characters"},
  };
  for (const auto &row : cases) {
    std::vector<std::string> args = {"emulate", "--address", address};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const ChildResult run = RunBluefin(args);
    EXPECT_EQ(run.exitStatus, 1) << row.line;
    EXPECT_EQ(run.out, "") << row.line;
    EXPECT_NE(run.err.find(row.line), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("bluefin: ", 0), 0u) << run.err;
  }
}

}  // namespace
}  // namespace bluefin::tool::test
