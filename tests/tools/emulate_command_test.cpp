// Two processes, as two terminals: `bluefin emulate` serving a scanner and
// `bluefin capture --emulated` capturing from it; and what the emulate
// command offers for trying a host out: its log, faults, link shaping, new
// fingers and a power switch.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <memory>

#include "child_process.h"
#include "documented_outcomes.h"
#include "emulator/delta_encoder.h"
#include "emulator/emulator.h"
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
  ~Emulate() { Stop(); }
  ChildResult Stop() {
    if (!result_) {
      child_->Signal(SIGINT);
      result_ = child_->Finish();
      EXPECT_EQ(result_->exitStatus, 0) << result_->err;
      EXPECT_NE(result_->out.find("Stopped."), std::string::npos);
    }
    return *result_;
  }
  bool Listening() const { return listening_; }
  const std::string &Address() const { return address_; }
  Child &Process() { return *child_; }
  std::vector<std::string> Capture(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"capture", "--emulated", "--address", address_};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

 private:
  std::string address_;
  std::unique_ptr<Child> child_;
  bool listening_ = false;
  std::optional<ChildResult> result_;
};

// The served image read from a PNG, the capture saved as a PGM and reported as JSON; the PNG
// output and the text report are the built-in scanner's test's.
TEST(EmulateCommand, CaptureSavesExactlyWhatTheScannerSends) {
  ScratchDir dir;
  const emu::Image pattern = TestPattern();
  WritePattern(dir / "served.png", ImageFormat::kPng, pattern);
  Emulate emulate({"--quiet", "--ready-after", "0", "--image", dir / "served.png", "--model", "XY-9",
                   "--serial", "0xdeadbeef"});
  ASSERT_TRUE(emulate.Listening());

  const std::string out = dir / "finger.pgm";
  const ChildResult run = RunBluefin(emulate.Capture({"--out", out, "--name", "Desk \"2\"", "--json"}));
  ExpectDocumented("capture", run);
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
  EXPECT_EQ(emulate.Stop().err, "") << "--quiet logs nothing";

  Failure failure;
  const std::optional<GreyImage> saved = ReadImage(out, &failure);
  ASSERT_TRUE(saved) << failure.message;
  EXPECT_EQ(saved->pixels, emu::EncodeImage(pattern).reconstruction) << "the coding is lossy";
}

TEST(EmulateCommand, LogsEachConnectionAndCommand) {
  ScratchDir dir;
  Emulate emulate({"--ready-after", "0"});
  ASSERT_TRUE(emulate.Listening());
  ASSERT_EQ(RunBluefin(emulate.Capture({"--out", dir / "f.png"})).exitStatus, 0);
  const std::string log = emulate.Stop().err;
  for (const char *line : {
           "bluefin emulate: connection 1 opened\n",
           "bluefin emulate: connection 1: echo under the default key\n",
           "bluefin emulate: connection 1: set key under the default key; now on a session key\n",
           "bluefin emulate: connection 1: set status 1 under a session key\n",
           "bluefin emulate: connection 1: status under a session key; finger on, image ready\n",
           "bluefin emulate: connection 1: image part 11 under a session key\n",
           "bluefin emulate: connection 1: set key under a session key; now on the default key\n",
           "bluefin emulate: connection 1 closed; the scanner is on the default key\n",
       }) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
}

// A fault from the command line reaches the scanner, hits its one command
// and is used up.
TEST(EmulateCommand, FaultsFromTheCommandLineHitTheirCommand) {
  ScratchDir dir;
  Emulate emulate({"--quiet", "--ready-after", "0", "--fault", "invalid-image-part@part3"});
  ASSERT_TRUE(emulate.Listening());
  const ChildResult faulty = RunBluefin(emulate.Capture({"--out", dir / "f.png"}));
  EXPECT_EQ(faulty.exitStatus, 1);
  EXPECT_NE(faulty.err.find("bluefin: Received invalid image part (code -14)\n"), std::string::npos)
      << faulty.err;
  EXPECT_NE(faulty.err.find("25%\n"), std::string::npos) << "three parts came: " << faulty.err;
  EXPECT_EQ(RunBluefin(emulate.Capture({"--out", dir / "f.png"})).exitStatus, 0);
}

// A round trip longer than the module waits for an answer: the opening
// exchange times out, as with a scanner at the edge of its range. Costs the
// module's three-second wait.
TEST(EmulateCommand, ShapingSlowsTheLinkLikeARadio) {
  Emulate emulate({"--quiet", "--link-rate", "1000000", "--round-trip", "4000"});
  ASSERT_TRUE(emulate.Listening());
  const ChildResult run = RunBluefin(emulate.Capture({"--json"}));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.out.find("{\"error\": {\"code\": -30, "), std::string::npos) << run.out;
  EXPECT_NE(emulate.Stop().out.find("Link paced like a radio: 1000000 bit/s, 4000 ms round trip\n"),
            std::string::npos);
}

TEST(EmulateCommand, NewImagePerCaptureServesANewFingerEachTime) {
  ScratchDir dir;
  Emulate emulate({"--quiet", "--ready-after", "0", "--new-image-per-capture"});
  ASSERT_TRUE(emulate.Listening());
  ASSERT_EQ(RunBluefin(emulate.Capture({"--count", "2", "--out", dir / "f%d.pgm"})).exitStatus, 0);
  // Capture n serves the synthetic finger of seed n - 1.
  for (std::uint32_t seed : {0u, 1u}) {
    emu::Options options;
    options.imageSeed = seed;
    Failure failure;
    const std::optional<GreyImage> saved =
        ReadImage(dir / ("f" + std::to_string(seed + 1) + ".pgm"), &failure);
    ASSERT_TRUE(saved) << failure.message;
    EXPECT_EQ(saved->pixels, emu::Emulator(options).ExpectedImage()) << seed;
  }
}

// A host killed mid-capture (SIGKILL cannot be caught) strands the scanner
// on its session key, and every later host times out; SIGUSR1 switches the
// emulated scanner off and on, as its power switch would a real one.
TEST(EmulateCommand, SwitchingOffAndOnClearsAKeyAKilledHostLeft) {
  ScratchDir dir;
  Emulate emulate({"--ready-after", "1000000"});
  ASSERT_TRUE(emulate.Listening());
  {
    Child killed(emulate.Capture({"--out", dir / "f.png"}), FastPolls());
    ASSERT_TRUE(killed.WaitFor(Child::Stream::kErr, "Waiting for a finger on the scanner (poll 1)\n"));
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Finish().exitStatus, 128 + SIGKILL);
  }
  const ChildResult stranded = RunBluefin(emulate.Capture({"--json"}));
  EXPECT_EQ(stranded.exitStatus, 1);
  EXPECT_NE(stranded.out.find("\"code\": -30"), std::string::npos) << stranded.out;
  EXPECT_NE(stranded.out.find("power-cycle it with `kill -USR1`"), std::string::npos) << stranded.out;

  emulate.Process().Signal(SIGUSR1);
  ASSERT_TRUE(emulate.Process().WaitFor(Child::Stream::kErr, "bluefin emulate: switched off and on"));
  const ChildResult again = RunBluefin({"info", "--emulated", "--address", emulate.Address()});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

TEST(EmulateCommand, BadOptionsAreRefusedBeforeListening) {
  ScratchDir dir;
  const emu::Image pattern = TestPattern();
  WritePattern(dir / "narrow.pgm", ImageFormat::kPgm, pattern, kWidth - 1);
  WritePattern(dir / "served.pgm", ImageFormat::kPgm, pattern);
  // The reader's, the emulator's and the fault parser's own refusals are checked where they are
  // made; one of each shows they reach the command's line.
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
      {{"--fault", "silence"}, "Fault \"silence\": say which command it hits"},
      {{"--fault", "payload-length=0@echo"},
       "Fault \"payload-length=0@echo\": the value is out of range (code -10)"},
      {{"--image", dir / "served.pgm", "--new-image-per-capture"},
       "--new-image-per-capture serves synthetic fingers; leave out --image (code -10)"},
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
