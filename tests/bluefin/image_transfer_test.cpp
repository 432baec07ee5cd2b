// The twelve-part image transfer against the scanner's own coder: exact
// images, progress over a growing image on its background, and the stop and
// failure rules.
#include <algorithm>
#include <random>

#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

constexpr int kPixels = 256 * 360;

std::uint8_t Background(int i) {
  return (i / 256 / 8 + i % 256 / 8) % 2 == 0 ? 128 : 192;
}

Bytes PixelsOf(HVImage hImage) {
  void *pixels = nullptr;
  EXPECT_EQ(VImageGetPixelsPtr(hImage, &pixels), V_OK);
  const auto *p = static_cast<const std::uint8_t *>(pixels);
  return p != nullptr ? Bytes(p, p + kPixels) : Bytes();
}

class ImageTest : public ScannerTest {
 protected:
  // A scanner serving image (random pixels where empty), opened and secure.
  void StartWith(Bytes image = {}) {
    if (image.empty()) {
      std::mt19937 random(kPixels);
      image.resize(kPixels);
      for (auto &pixel : image)
        pixel = static_cast<std::uint8_t>(random());
    }
    emu::Options options;
    options.readyAfterPolls = 0;
    options.image = std::move(image);
    Close();
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

TEST_F(ImageTest, DecodesExactlyWhatTheScannerCoded) {
  // The stream starts at the bottom-right pixel. Eight codes 4 (the group
  // 0x24 0x49 0x92) climb by 3 from 128; eight codes 0 fall by 64, wrapping.
  const std::vector<std::vector<int>> starts = {
      {131, 134, 137, 140, 143, 146, 149, 152}, {64, 0, 192, 128, 64, 0, 192, 128}, {}};
  for (const auto &start : starts) {
    Bytes target(kPixels, 200);
    for (std::size_t k = 0; k < start.size(); ++k)
      target[kPixels - 1 - k] = static_cast<std::uint8_t>(start[k]);
    StartWith(start.empty() ? Bytes() : target);
    HVImage image = nullptr;
    ASSERT_EQ(Capture(&image), V_OK);
    const Bytes pixels = PixelsOf(image);
    EXPECT_EQ(pixels, emulator->ExpectedImage());
    for (std::size_t k = 0; k < start.size(); ++k)
      EXPECT_EQ(pixels[kPixels - 1 - k], start[k]) << k;
    EXPECT_EQ(PartsAsked(), 12);

    VUInt32 width = 0, height = 0, stride = 0, format = 0;
    VFloat horizontal = 0, vertical = 0;
    VImageGetWidth(image, &width), VImageGetHeight(image, &height), VImageGetStride(image, &stride);
    VImageGetPixelFormat(image, &format), VImageGetHorzResolution(image, &horizontal);
    VImageGetVertResolution(image, &vertical);
    EXPECT_EQ(std::tuple(width, height, stride, format), std::tuple(256u, 360u, 256u, 0x301001u));
    EXPECT_EQ(std::pair(horizontal, vertical), std::pair(508.0f, 508.0f));
    VObjectSet(nullptr, &image);
  }
}

// A whole session as the module runs it: identity, a drawn session key, an
// armed scanner polled until ready, the twelve parts and the default key put
// back. The synthetic finger arrives exactly, and every command after the
// key switch went under the drawn key.
TEST_F(ImageTest, AWholeSessionBringsTheSyntheticFingerUnderTheDrawnKey) {
  emu::Options options;
  options.readyAfterPolls = 2;
  Close();
  Start(options);
  ASSERT_EQ(Open(), V_OK);
  char model[8];
  ASSERT_EQ(BlueFinGetDeviceInfo(device, model, nullptr, nullptr, nullptr, nullptr), V_OK);
  ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
  const std::vector<Bytes> draws = Moved("secureRandom");
  ASSERT_EQ(draws.size(), 1u);
  ASSERT_EQ(draws[0].size(), Key{}.size());
  Key session;
  std::copy(draws[0].begin(), draws[0].end(), session.begin());
  ASSERT_EQ(BlueFinSetStatus(device, 1), V_OK);
  VUInt32 ready = 0;
  while (ready == 0)
    ASSERT_EQ(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), V_OK);
  HVImage image = nullptr;
  ASSERT_EQ(BlueFinGetImage(device, &image), V_OK);
  EXPECT_EQ(PixelsOf(image), emulator->ExpectedImage());
  VObjectSet(nullptr, &image);
  ASSERT_EQ(BlueFinSetStatus(device, 0), V_OK);
  ASSERT_EQ(BlueFinRestoreDefaultKey(device), V_OK);
  EXPECT_EQ(emulator->CurrentKey(), kDefaultKey);

  std::vector<int> expected = {0x01, 0x03, 0x05, 0x0C, 0x09, 0x09, 0x09};
  expected.insert(expected.end(), 12, 0x11);
  expected.insert(expected.end(), {0x0C, 0x05});
  EXPECT_EQ(Codes(), expected);
  const auto transcript = emulator->Transcript();
  for (std::size_t i = 0; i < transcript.size(); ++i) {
    EXPECT_EQ(transcript[i].key, i < 3 ? kDefaultKey : session) << "command " << i;
  }
}

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
  const Bytes pixels = PixelsOf(hImage);
  for (int i = 0; i < kPixels; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (pixels[at] != (i >= kPixels - decoded ? log.expected[at] : Background(i))) {
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

TEST_F(ImageTest, ReportsProgressAndObeysTheCallbacksVerdict) {
  StartWith();
  struct Case {
    int verdictAt;
    VResult verdict;
  };
  HVImage untouched = reinterpret_cast<HVImage>(&untouched);
  for (const Case c : {Case{-1, 0}, Case{0, 1}, Case{11, 5}, Case{3, V_E_FAILED}, Case{6, -77}}) {
    ProgressLog log{device, emulator->ExpectedImage(), c.verdictAt, c.verdict};
    ASSERT_EQ(BlueFinSetProgressCallback(device, CheckProgress, &log), V_OK);
    HVImage image = untouched;
    EXPECT_EQ(Capture(&image), std::min(c.verdict, 0));
    if (c.verdict == 0) {
      EXPECT_EQ(image, log.image);
      VObjectSet(nullptr, &image);
    } else {
      EXPECT_EQ(image, c.verdict > 0 ? nullptr : untouched);
    }
    const int reports = c.verdictAt < 0 ? 12 : c.verdictAt + 1;
    EXPECT_EQ(PartsAsked(), reports);
    const std::vector<int> percents = {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100};
    EXPECT_EQ(log.percents, std::vector<int>(percents.begin(), percents.begin() + reports));
  }
  ASSERT_EQ(BlueFinSetProgressCallback(device, nullptr, nullptr), V_OK);
}

TEST_F(ImageTest, BadPartsFailTheTransferAtOnce) {
  StartWith();
  struct Case {
    int part;
    std::vector<Fault> faults;
    VResult code;
    const wchar_t *message;
  };
  const wchar_t *kSize = L"Received compressed image part of unexpected size";
  const wchar_t *kInvalid = L"Received invalid image part";
  const Case cases[] = {
      // clang-format off
      {2,  {Fault::PayloadLength(emu::OnPart(2), 3084)},   V_E_CORRUPTED,    kSize},
      {0,  {Fault::PayloadLength(emu::OnPart(0), 3086)},   V_E_CORRUPTED,    kSize},
      // The size is tested before the validity byte.
      {11, {Fault::InvalidImagePart(emu::OnPart(11)),
            Fault::PayloadLength(emu::OnPart(11), 3084)},  V_E_CORRUPTED,    kSize},
      {5,  {Fault::InvalidImagePart(emu::OnPart(5))},      V_E_INVALID_DATA, kInvalid},
      {11, {Fault::InvalidImagePart(emu::OnPart(11), 2)},  V_E_INVALID_DATA, kInvalid},
      // clang-format on
  };
  HVImage untouched = reinterpret_cast<HVImage>(&untouched);
  for (const Case &c : cases) {
    Inject(c.faults);
    HVImage image = untouched;
    EXPECT_TRUE(Gave(Capture(&image), c.code, c.message)) << c.part;
    EXPECT_EQ(image, untouched);
    EXPECT_EQ(PartsAsked(), c.part + 1);
  }
}

}  // namespace
}  // namespace vdm::bluefin::test
