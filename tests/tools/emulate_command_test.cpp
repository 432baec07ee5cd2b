// `bluefin emulate` serving and `bluefin capture --emulated` capturing, as
// in two terminals; and the emulator's log, faults, link shaping, new
// fingers and power switch.
#include <signal.h>

#include "command_support.h"
#include "emulator/synthetic_finger.h"
#include "tools/image_files.h"

namespace bluefin::tool::test {
namespace {

void WriteFinger(const std::string &path, ImageFormat format, const emu::Image &image,
                 std::uint32_t width = 256) {
  Failure failure;
  ASSERT_TRUE(WriteImage(path, format, GreyImageView{width, 360, 256, image.data(), 0, 0}, &failure))
      << failure.message;
}

// `bluefin emulate` for one test, listening once constructed; stopped with
// SIGINT, it must exit 0.
class Emulate : public Child {
 public:
  explicit Emulate(const std::vector<std::string> &extra, const std::string &address = UniqueAddress())
      : Child(Concat({"emulate", "--address", address}, extra)), address_(address) {
    EXPECT_TRUE(WaitFor(&ChildResult::out, "Press Ctrl-C to stop.\n")) << "not listening";
  }
  ChildResult Stop() {
    Signal(SIGINT);
    const ChildResult result = Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Stopped."));
    return result;
  }
  std::vector<std::string> Run(const std::string &command, const std::vector<std::string> &extra = {}) const {
    return EmulatedCommand(address_, command, extra);
  }

 private:
  std::string address_;
};

// A fault from the command line hits its one command and is used up; then
// a capture served from a PNG is saved as a PGM and reported as JSON (the
// PNG output and the text report are the built-in scanner's test's).
TEST(EmulateCommand, CaptureSavesExactlyWhatTheScannerSendsOnceAFaultIsUsedUp) {
  ScratchDir dir;
  const emu::Image finger = emu::MakeSyntheticFinger(7);
  WriteFinger(dir / "served.png", ImageFormat::kPng, finger);
  Emulate emulate({"--quiet", "--ready-after", "0", "--image", dir / "served.png", "--model", "XY-9",
                   "--serial", "0xdeadbeef", "--fault", "invalid-image-part@part3"});
  const std::string out = dir / "finger.pgm";
  const ChildResult faulty = RunBluefin(emulate.Run("capture", {"--out", out}));
  EXPECT_EQ(faulty.exitStatus, 1);
  EXPECT_THAT(faulty.err, HasSubstr("bluefin: Received invalid image part (code -14)\n"));
  EXPECT_THAT(faulty.err, HasSubstr("25%\n")) << "three parts came";
  const ChildResult run = RunBluefin(
      emulate.Run("capture", {"--out", out, "--name", "Desk \"2\" \xc3\xa9\xf0\x9f\x98\x80\x80.", "--json"}));
  ExpectDocumented("capture", run);
  const std::string name = "Desk \"2\" \xc3\xa9\xf0\x9f\x98\x80\xef\xbf\xbd.";  // as the module got it
  EXPECT_EQ(run.out,
            Identity("XY-9", "DEADBEEF", name).Add("status", 1).Add("image", SavedImage(out)).Text() + "\n");
  // Ready at the first poll: no waiting line, straight to the transfer.
  EXPECT_THAT(run.err, Not(HasSubstr("Waiting")));
  EXPECT_THAT(run.err, HasSubstr("Finger detected (poll 1)"));
  EXPECT_EQ(emulate.Stop().err, "") << "--quiet logs nothing";
  Failure failure;  // the coding is lossy: a host gets the reconstruction
  EXPECT_EQ(ReadImage(out, &failure).value_or(GreyImage{}).pixels, emu::EncodeImage(finger).reconstruction)
      << failure.message;
}

// One session, the scanner serving a new finger at every capture: capture n
// gets the synthetic finger of seed n - 1.
TEST(EmulateCommand, CountSavesNumberedImagesFromOneSessionAndTheLogShowsIt) {
  ScratchDir dir;
  Emulate emulate({"--ready-after", "0", "--new-image-per-capture"});
  const ChildResult run =
      RunBluefin(emulate.Run("capture", {"--count", "3", "--out", dir / "f-%02d.pgm", "--json"}));
  ExpectDocumented("capture --count N", run);
  JsonArray images;
  for (std::uint32_t seed : {0u, 1u, 2u}) {
    const std::string path = dir / ("f-0" + std::to_string(seed + 1) + ".pgm");
    images.Add(SavedImage(path));
    emu::Options options;
    options.imageSeed = seed;
    Failure failure;
    EXPECT_EQ(ReadImage(path, &failure).value_or(GreyImage{}).pixels, emu::Emulator(options).ExpectedImage())
        << failure.message;
  }
  EXPECT_EQ(run.out, Identity().Add("status", 1).Add("images", images).Text() + "\n");

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
    EXPECT_THAT(log, HasSubstr(line));
  }
  EXPECT_THAT(log, Not(HasSubstr("connection 2")));
}

// A round trip longer than the module waits (three seconds): the opening
// exchange times out, as at the edge of a radio's range.
TEST(EmulateCommand, ShapingSlowsTheLinkLikeARadio) {
  Emulate emulate({"--quiet", "--link-rate", "1000000", "--round-trip", "4000"});
  const ChildResult run = RunBluefin(emulate.Run("capture", {"--json"}));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_THAT(run.out, StartsWith("{\"error\": {\"code\": -30, "));
  EXPECT_THAT(emulate.Stop().out, HasSubstr("Link paced like a radio: 1000000 bit/s, 4000 ms round trip\n"));
}

// A host killed mid-capture (SIGKILL cannot be caught) strands the scanner
// on its session key, and every later host times out; SIGUSR1 switches the
// scanner off and on, as a power switch would.
TEST(EmulateCommand, SwitchingOffAndOnClearsAKeyAKilledHostLeft) {
  Emulate emulate({"--ready-after", "1000000"});
  Child killed(emulate.Run("capture"), FastPolls());
  ASSERT_TRUE(killed.WaitFor(&ChildResult::err, "Waiting for a finger on the scanner (poll 1)\n"));
  killed.Signal(SIGKILL);
  EXPECT_EQ(killed.Finish().exitStatus, 128 + SIGKILL);
  const ChildResult stranded = RunBluefin(emulate.Run("capture", {"--json"}));
  EXPECT_EQ(stranded.exitStatus, 1);
  EXPECT_THAT(stranded.out, HasSubstr("\"code\": -30"));
  EXPECT_THAT(stranded.out,
              HasSubstr("\"hint\": \"The emulated scanner did not answer the opening exchange"));
  EXPECT_THAT(stranded.out, HasSubstr("power-cycle it with `kill -USR1`"));
  emulate.Signal(SIGUSR1);
  ASSERT_TRUE(emulate.WaitFor(&ChildResult::err, "bluefin emulate: switched off and on"));
  const ChildResult again = RunBluefin(emulate.Run("info"));
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

// The PGM parser's, the emulator's and the fault parser's refusals are
// checked where they are made; one of each shows they reach the command's
// line. Files that are no image at all, or a cut PNG, are only checked here.
TEST(EmulateCommand, BadOptionsAreRefusedBeforeListening) {
  ScratchDir dir;
  const emu::Image finger = emu::MakeSyntheticFinger(0);
  WriteFinger(dir / "narrow.pgm", ImageFormat::kPgm, finger, 255);
  std::ofstream(dir / "notes.txt") << "hello";
  std::ofstream(dir / "cut.png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  // clang-format off
  ExpectRefusals({"emulate", "--address", UniqueAddress()}, {
      {{"--image", dir / "narrow.pgm"}, "Image " + (dir / "narrow.pgm") + " is 255 x 360 pixels; the scanner's images are 256 x 360 (code -10)"},
      {{"--image", dir / "notes.txt"}, "Cannot read " + (dir / "notes.txt") + ": neither a PNG nor a binary PGM (P5) (code -14)"},
      {{"--image", dir / "cut.png"}, "Cannot read " + (dir / "cut.png") + ": read beyond end of data (code -14)"},
      {{"--image", dir / "absent.png"}, "Cannot read " + (dir / "absent.png") + ": No such file or directory (code -90)"},
      {{"--serial", "12345678A"}, "Serial number must be 1 to 8 hexadecimal digits, not 12345678A (code -10)"},
      {{"--model", "TOOLONG8"}, "Cannot start the scanner emulator: Model text must be at most 7 characters without NUL, not \"TOOLONG8\" (code -1)"},
      {{"--fault", "silence"}, "Fault \"silence\": say which command it hits"},
      {{"--fault", "payload-length=0@echo"}, "Fault \"payload-length=0@echo\": the value is out of range (code -10)"},
      {{"--image", dir / "absent.png", "--new-image-per-capture"}, "--new-image-per-capture serves synthetic fingers; leave out --image (code -10)"},
  });
  // clang-format on
}

}  // namespace
}  // namespace bluefin::tool::test
