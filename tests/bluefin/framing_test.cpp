// Frames on the wire: sizes, zero fill, the checks made before any payload
// byte is read, checksum order, the four-frame rule. The twelve-part image
// transfer: progress over a growing image, the image's format, stops, failures.
#include <algorithm>
#include <random>
#include <tuple>

#include "bluefin/framing.h"
#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

using FramingTest = ScannerTest;

TEST_F(FramingTest, CommandFramesCarryWholeBlocksAndBadLengthsSendNothing) {
  ASSERT_EQ(Open(), V_OK);
  Seam().calls.clear();
  emulator->ClearTranscript();
  // The identity command with trailing bytes; two equal 16-byte halves.
  Bytes command(48);
  for (std::size_t i = 0; i < command.size(); ++i)
    command[i] = static_cast<std::uint8_t>(i % 16 == 0 ? 3 : i % 16);
  const VInt32 lengths[] = {0, 1, 44, 16, -1, 17, 43, 32};
  for (const VInt32 length : lengths) {
    const bool bad = length < 1 || length > 43;
    EXPECT_TRUE(Gave(BlueFinSendCommand(device, command.data(), length),
                     bad ? V_E_ARGUMENT_OUT_OF_RANGE : V_OK,
                     bad ? L"Expected command length is between 1 and 43 bytes" : nullptr))
        << length;
  }
  // Each frame that went out is answered; taking the answers also waits for
  // the scanner to have read every command.
  const std::vector<Bytes> sent = Moved("send");
  Bytes answer(256);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(BlueFinReceiveResponse(device, 0x03, answer.data(), 256), 16);
  }
  const Bytes &halves = sent.back();
  EXPECT_TRUE(std::equal(halves.begin() + 6, halves.begin() + 22, halves.begin() + 22)) << "ECB";

  // The scanner took every frame (its checksums held) and read each command
  // whole; behind each command the block is zero-filled.
  std::vector<std::size_t> sizes, argumentCounts;
  for (const emu::TranscriptEntry &entry : emulator->Transcript())
    argumentCounts.push_back(entry.arguments.size());
  EXPECT_EQ(argumentCounts, (std::vector<std::size_t>{0, 15, 16, 42, 31}));
  for (const Bytes &frame : sent) {
    sizes.push_back(frame.size());
    Bytes plain(frame.begin() + 6, frame.end());
    BlueFinDecryptBlocks(plain.data(), static_cast<VInt32>(plain.size()), kDefaultKey.data(), 256,
                         plain.data());
    const std::size_t length = frame[0] << 8 | frame[1];
    EXPECT_TRUE(
        std::equal(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length), command.begin()));
    EXPECT_TRUE(std::all_of(plain.begin() + static_cast<std::ptrdiff_t>(length), plain.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{22, 22, 38, 54, 38}));
}

// A fault on the identity answer (or image part 0, at capacity 3096), what the
// receive gives, and whether it failed before reading any payload byte. How
// many stray frames are skipped is met at every exchange by
// LinkFailureSweepTest.
TEST_F(FramingTest, FirstReceiveAndWhereTheStreamStands) {
  const auto identity = On(Command::kIdentity);
  const auto part = emu::OnPart(0);
  const wchar_t *kSize = L"Invalid payload size received";
  const wchar_t *kBlocks = L"Invalid payload block size calculated";
  const wchar_t *kStrays = L"Cannot get response for sent command";
  const struct {
    const char *szCase;
    std::vector<Fault> faults;
    VInt32 capacity;
    VResult result;
    const wchar_t *szMessage;  // null: success
    bool headerOnly;
  } cases[] = {
      // clang-format off
      {"length above capacity",      {Fault::DeclaredLength(identity, 257)},        256,  V_E_FAILED,    kSize,   true},
      {"length zero",                {Fault::DeclaredLength(identity, 0)},          256,  V_E_FAILED,    kBlocks, true},
      {"length top bit set",         {Fault::DeclaredLength(identity, 0x80000010)}, 256,  V_E_FAILED,    kBlocks, true},
      {"length is capacity",         {Fault::PayloadLength(identity, 256)},         256,  256,           nullptr, false},
      // 3088 bytes of ciphertext: the data checksum wraps at 65536.
      {"image part",                 {},                                            3096, 3085,          nullptr, false},
      {"part blocks above capacity", {Fault::PayloadLength(part, 3089)},            3096, V_E_FAILED,    kBlocks, true},
      {"part of capacity",           {Fault::PayloadLength(part, 3096)},            3096, V_E_FAILED,    kBlocks, true},
      {"both checksums",             {Fault::BadHeaderChecksum(identity),
                                      Fault::BadDataChecksum(identity)},            256,  V_E_CORRUPTED, L"Incorrect data checksum", false},
      // Checksums cover the ciphertext: a frame under another key is a stray.
      {"foreign key is the fourth",  {Fault::StrayFrames(identity, 3),
                                      Fault::ForeignKey(identity, Key{})},          256,  V_E_FAILED,    kStrays, false},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Close();
    ASSERT_EQ(Open(), V_OK);
    Inject(c.faults);
    const std::uint8_t code = c.capacity == 256 ? 0x03 : 0x11;
    const std::uint8_t command[2] = {code, 0};
    ASSERT_EQ(BlueFinSendCommand(device, command, 2), V_OK);
    Bytes buffer(static_cast<std::size_t>(c.capacity));
    Seam().calls.clear();
    const VResult result = BlueFinReceiveResponse(device, code, buffer.data(), c.capacity);
    EXPECT_TRUE(Gave(result, c.result, c.szMessage));
    if (c.headerOnly) {
      std::size_t received = 0;
      for (const Bytes &bytes : Moved("receive"))
        received += bytes.size();
      EXPECT_EQ(received, 8u);
    }
  }
}

constexpr int kPixels = 256 * 360;

std::uint8_t Background(int i) {
  return (i / 256 / 8 + i % 256 / 8) % 2 == 0 ? 128 : 192;
}

class ImageTest : public ScannerTest {
 protected:
  // A scanner serving random pixels, ready at once; opened and secure.
  void SetUp() override {
    ScannerTest::SetUp();
    emu::Options options;
    options.readyAfterPolls = 0;
    options.image = Bytes(kPixels);
    std::mt19937 random(kPixels);
    for (auto &pixel : *options.image)
      pixel = static_cast<std::uint8_t>(random());
    Start(options);
    OpenSecure();
  }
  VResult Capture(HVImage *phImage) {
    VUInt32 ready = 0;
    EXPECT_EQ(BlueFinSetStatus(device, 1), V_OK);
    EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), V_OK);
    EXPECT_EQ(ready, 1u);
    return BlueFinGetImage(device, phImage);
  }
  // How many parts were asked for since the last call, each in turn from
  // part 0; -1 when they were not.
  int PartsAsked() {
    int count = 0;
    for (const emu::TranscriptEntry &entry : emulator->Transcript()) {
      if (entry.code == 0x11 && entry.arguments.at(0) != count++)
        return -1;
    }
    emulator->ClearTranscript();
    return count;
  }
};

// At each report, the stream's pixels so far are decoded and every other
// pixel still shows the background; a chosen report returns a verdict.
struct ProgressLog {
  HVBlueFin device = nullptr;
  Bytes expected = {};
  int verdictAt = -1;
  VResult verdict = 0;
  std::vector<int> percents = {};
  HVImage image = nullptr;
};

VResult V_CALL CheckProgress(HVBlueFin hBlueFin, VInt32 percent, HVImage hImage, void *pParam) {
  auto &log = *static_cast<ProgressLog *>(pParam);
  EXPECT_EQ(hBlueFin, log.device);
  if (log.percents.empty())
    log.image = hImage;
  EXPECT_EQ(hImage, log.image);
  const int decoded = std::min(8192 * static_cast<int>(log.percents.size() + 1), kPixels);
  void *pixels = nullptr;
  EXPECT_EQ(VImageGetPixelsPtr(hImage, &pixels), V_OK);
  const auto *p = static_cast<const std::uint8_t *>(pixels);
  for (int i = 0; p != nullptr && i < kPixels; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (p[at] != (i >= kPixels - decoded ? log.expected[at] : Background(i))) {
      ADD_FAILURE() << "report " << log.percents.size() << ": pixel " << i;
      break;
    }
  }
  log.percents.push_back(percent);
  if (static_cast<int>(log.percents.size()) - 1 != log.verdictAt)
    return 0;
  if (log.verdict < 0)
    VErrorSetLastW(log.verdict, L"stopped by the test", nullptr, nullptr, nullptr, nullptr);
  return log.verdict;
}

// Each row: faults on the parts, the report whose callback gives a verdict,
// the capture's result and message, and how many parts were asked for. A
// failure leaves the caller's image slot as it was; a stop empties it.
TEST_F(ImageTest, ReportsProgressAndEndsOnAVerdictOrABadPart) {
  const wchar_t *kSize = L"Received compressed image part of unexpected size",
                *kInvalid = L"Received invalid image part", *kStopped = L"stopped by the test";
  const struct {
    std::vector<Fault> faults;
    int verdictAt;
    VResult verdict, code;
    const wchar_t *szMessage;
    int parts;
  } cases[] = {
      // clang-format off
      {{},                                            -1, 0,          V_OK,             nullptr,  12},
      {{},                                            0,  1,          V_OK,             nullptr,  1},
      {{},                                            11, 5,          V_OK,             nullptr,  12},
      {{},                                            3,  V_E_FAILED, V_E_FAILED,       kStopped, 4},
      {{},                                            6,  -77,        -77,              kStopped, 7},
      {{Fault::PayloadLength(emu::OnPart(2), 3084)},  -1, 0,          V_E_CORRUPTED,    kSize,    3},
      {{Fault::PayloadLength(emu::OnPart(0), 3086)},  -1, 0,          V_E_CORRUPTED,    kSize,    1},
      // The size is tested before the validity byte.
      {{Fault::InvalidImagePart(emu::OnPart(11)), Fault::PayloadLength(emu::OnPart(11), 3084)}, -1, 0, V_E_CORRUPTED, kSize, 12},
      {{Fault::InvalidImagePart(emu::OnPart(5))},     -1, 0,          V_E_INVALID_DATA, kInvalid, 6},
      {{Fault::InvalidImagePart(emu::OnPart(11), 2)}, -1, 0,          V_E_INVALID_DATA, kInvalid, 12},
      // clang-format on
  };
  const std::vector<int> percents = {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100};
  HVImage untouched = reinterpret_cast<HVImage>(&untouched);
  int row = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(row++);
    Inject(c.faults);
    ProgressLog log{device, emulator->ExpectedImage(), c.verdictAt, c.verdict};
    ASSERT_EQ(BlueFinSetProgressCallback(device, CheckProgress, &log), V_OK);
    HVImage image = untouched;
    EXPECT_TRUE(Gave(Capture(&image), c.code, c.szMessage));
    EXPECT_EQ(PartsAsked(), c.parts);
    const int reports = c.faults.empty() ? c.parts : c.parts - 1;
    EXPECT_EQ(log.percents, std::vector<int>(percents.begin(), percents.begin() + reports));
    if (c.code != V_OK || c.verdict > 0) {
      EXPECT_EQ(image, c.code == V_OK ? nullptr : untouched);
      continue;
    }
    EXPECT_EQ(image, log.image);
    VUInt32 width = 0, height = 0, stride = 0, format = 0;
    VFloat horizontal = 0, vertical = 0;
    VImageGetWidth(image, &width), VImageGetHeight(image, &height), VImageGetStride(image, &stride);
    VImageGetPixelFormat(image, &format), VImageGetHorzResolution(image, &horizontal);
    VImageGetVertResolution(image, &vertical);
    EXPECT_EQ(std::tuple(width, height, stride, format), std::tuple(256u, 360u, 256u, 0x301001u));
    EXPECT_EQ(std::pair(horizontal, vertical), std::pair(508.0f, 508.0f));
    VObjectSet(nullptr, &image);
  }
  ASSERT_EQ(BlueFinSetProgressCallback(device, nullptr, nullptr), V_OK);
}

}  // namespace
}  // namespace vdm::bluefin::test
