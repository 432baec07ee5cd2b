// The twelve-part image transfer: decoding against a reference decoder
// written from the coding's definition, progress reports over a growing
// image on its background, and the stop and failure rules.
#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <tuple>
#include <vector>

#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

constexpr int kPixels = 256 * 360;
constexpr std::size_t kPartData = 3072;

std::uint8_t Background(int i) {
  return ((i / 256 / 8 + i % 256 / 8) % 2 == 0) ? 128 : 192;
}

// Pixel n of the stream is code n mod 8 of group n / 8 within its part; it
// lands at the image's index 92159 - n.
Bytes ReferenceImage(const Bytes &wire) {
  static constexpr int kDelta[8] = {-64, -22, -8, -3, 3, 8, 22, 64};
  Bytes image(kPixels);
  int value = 128;
  for (int n = 0; n < kPixels; ++n) {
    const std::uint8_t *group = &wire[n / 8192 * kPartData + n % 8192 / 8 * 3];
    const std::uint32_t w = group[0] + 256u * group[1] + 65536u * group[2];
    value = (value + kDelta[w / (1u << (3 * (n % 8))) % 8] + 256) % 256;
    image[kPixels - 1 - n] = static_cast<std::uint8_t>(value);
  }
  return image;
}

Bytes RandomWire(unsigned seed) {
  std::mt19937 random(seed);
  Bytes wire(12 * kPartData);
  for (auto &b : wire)
    b = static_cast<std::uint8_t>(random());
  return wire;
}

Bytes PixelsOf(HVImage hImage) {
  void *pixels = nullptr;
  EXPECT_EQ(VImageGetPixelsPtr(hImage, &pixels), V_OK);
  const auto *p = static_cast<const std::uint8_t *>(pixels);
  return p != nullptr ? Bytes(p, p + kPixels) : Bytes();
}

struct Transfer {
  Bytes wire;
  int spoiledPart = -1;
  std::function<void(Bytes &)> spoil = nullptr;
};

class ImageTest : public ScannerTest {
 protected:
  // Serves each transfer in turn (a request for part 0 starts the next one)
  // and records the part indices each transfer asked for.
  void Serve() {
    peer.Start([this](PeerConnection &link) {
      link.AnswerEcho();
      link.AcceptKey();
      std::size_t t = 0;
      while (const auto command = link.ReadCommand()) {
        if (command->code() != 0x11 || command->length != 2) {
          ADD_FAILURE() << "not a part request";
          return;
        }
        const int part = command->plaintext[1];
        if (part == 0)
          requested.emplace_back();
        t = requested.size() - 1;
        requested[t].push_back(part);
        Bytes payload = Payload(0x11, 3085, {{12, 1}});
        std::copy_n(transfers[t].wire.begin() + part * kPartData, kPartData, payload.begin() + 13);
        if (part == transfers[t].spoiledPart)
          transfers[t].spoil(payload);
        link.Respond(payload);
      }
    });
    OpenSecure();
  }
  static std::vector<int> Parts(int count) {
    std::vector<int> parts(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      parts[static_cast<std::size_t>(i)] = i;
    return parts;
  }

  std::vector<Transfer> transfers;
  std::vector<std::vector<int>> requested;
};

TEST_F(ImageTest, DecodesTheStreamBackwardsWithARunningValue) {
  struct Case {
    Bytes firstGroup;
    std::vector<int> firstPixels;  // at indices 92159 down
  };
  const Case cases[] = {
      {{0x24, 0x49, 0x92}, {131, 134, 137, 140, 143, 146, 149, 152}},  // eight codes 4: +3 each
      {{0x00, 0x00, 0x00}, {64, 0, 192, 128, 64, 0, 192, 128}},        // eight codes 0: -64, wrapping
  };
  for (unsigned i = 0; i < std::size(cases); ++i) {
    transfers.push_back({RandomWire(i)});
    std::copy(cases[i].firstGroup.begin(), cases[i].firstGroup.end(), transfers.back().wire.begin());
  }
  Serve();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    HVImage image = nullptr;
    ASSERT_EQ(BlueFinGetImage(device, &image), V_OK);
    const Bytes pixels = PixelsOf(image);
    EXPECT_EQ(pixels, ReferenceImage(transfers[i].wire));
    for (std::size_t k = 0; k < 8; ++k)
      EXPECT_EQ(pixels[kPixels - 1 - k], cases[i].firstPixels[k]) << k;
    // Across the first part boundary the value carries on.
    const std::uint8_t firstCodeOfPart1 = transfers[i].wire[kPartData] & 7;
    const int deltas[8] = {-64, -22, -8, -3, 3, 8, 22, 64};
    EXPECT_EQ(pixels[kPixels - 1 - 8192],
              static_cast<std::uint8_t>(pixels[kPixels - 8192] + deltas[firstCodeOfPart1]));

    VUInt32 width = 0, height = 0, stride = 0, format = 0;
    VFloat horizontal = 0, vertical = 0;
    EXPECT_EQ(VImageGetWidth(image, &width) | VImageGetHeight(image, &height) |
                  VImageGetStride(image, &stride) | VImageGetPixelFormat(image, &format) |
                  VImageGetHorzResolution(image, &horizontal) | VImageGetVertResolution(image, &vertical),
              V_OK);
    EXPECT_EQ(std::tuple(width, height, stride, format), std::tuple(256u, 360u, 256u, 0x301001u));
    EXPECT_EQ(std::pair(horizontal, vertical), std::pair(508.0f, 508.0f));
    VObjectSet(nullptr, &image);
  }
  Close();
  peer.Join();
  EXPECT_EQ(requested, std::vector<std::vector<int>>(2, Parts(12)));
}

// Checks at each report that the stream's pixels so far are decoded and all
// others still show the background.
struct ProgressLog {
  HVBlueFin device;
  Bytes expected = {};
  std::vector<int> percents = {};
  HVImage image = nullptr;
  int stopAfter = -1;  // report index that returns verdict
  VResult verdict = 0;
};

VResult V_CALL RecordProgress(HVBlueFin hBlueFin, VInt32 percent, HVImage hImage, void *pParam) {
  auto &log = *static_cast<ProgressLog *>(pParam);
  EXPECT_EQ(hBlueFin, log.device);
  if (log.percents.empty())
    log.image = hImage;
  EXPECT_EQ(hImage, log.image);
  const int decoded = std::min(8192 * static_cast<int>(log.percents.size() + 1), kPixels);
  const Bytes pixels = PixelsOf(hImage);
  for (int i = 0; i < kPixels; ++i) {
    const std::uint8_t want =
        i >= kPixels - decoded ? log.expected[static_cast<std::size_t>(i)] : Background(i);
    if (pixels[static_cast<std::size_t>(i)] != want) {
      ADD_FAILURE() << "report " << log.percents.size() << ": pixel " << i;
      break;
    }
  }
  log.percents.push_back(percent);
  if (static_cast<int>(log.percents.size()) - 1 == log.stopAfter) {
    if (log.verdict < 0)
      VErrorSetLastW(log.verdict, L"stopped by the test", nullptr, nullptr, nullptr, nullptr);
    return log.verdict;
  }
  return 0;
}

TEST_F(ImageTest, ReportsProgressOverTheGrowingImage) {
  transfers.push_back({RandomWire(7)});
  Serve();
  ProgressLog log{device, ReferenceImage(transfers[0].wire)};
  ASSERT_EQ(BlueFinSetProgressCallback(device, RecordProgress, &log), V_OK);
  HVImage image = nullptr;
  ASSERT_EQ(BlueFinGetImage(device, &image), V_OK);
  EXPECT_EQ(log.image, image);
  EXPECT_EQ(log.percents, (std::vector<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));
  VObjectSet(nullptr, &image);
}

TEST_F(ImageTest, ProgressVerdictsStopOrFailTheTransfer) {
  struct Case {
    int stopAfter;
    VResult verdict;
    bool imageNull;  // else left as it was
  };
  const Case cases[] = {{0, 1, true}, {11, 5, true}, {3, -1, false}, {6, -77, false}};
  for (std::size_t i = 0; i < std::size(cases); ++i)
    transfers.push_back({RandomWire(20 + i)});
  Serve();
  HVImage untouched = reinterpret_cast<HVImage>(&untouched);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    ProgressLog log{device, ReferenceImage(transfers[i].wire), {}, nullptr, c.stopAfter, c.verdict};
    ASSERT_EQ(BlueFinSetProgressCallback(device, RecordProgress, &log), V_OK);
    HVImage image = untouched;
    const VResult result = BlueFinGetImage(device, &image);
    EXPECT_EQ(result, c.verdict < 0 ? c.verdict : 0);
    EXPECT_EQ(image, c.imageNull ? nullptr : untouched);
    EXPECT_EQ(log.percents.size(), static_cast<std::size_t>(c.stopAfter + 1));
  }
  ASSERT_EQ(BlueFinSetProgressCallback(device, nullptr, nullptr), V_OK);
  Close();
  peer.Join();
  ASSERT_EQ(requested.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(requested[i], Parts(cases[i].stopAfter + 1));
}

TEST_F(ImageTest, BadPartsFailTheTransferAtOnce) {
  struct Case {
    int part;
    std::function<void(Bytes &)> spoil;
    VResult code;
    const wchar_t *message;
  };
  const wchar_t *kSize = L"Received compressed image part of unexpected size";
  const Case cases[] = {
      {2, [](Bytes &p) { p.resize(3084); }, -29, kSize},
      {0, [](Bytes &p) { p.resize(3086); }, -29, kSize},
      {11,
       [](Bytes &p) {
         p.resize(3084);
         p[12] = 0;  // the size is tested first
       },
       -29, kSize},
      {5, [](Bytes &p) { p[12] = 0; }, -14, L"Received invalid image part"},
      {11, [](Bytes &p) { p[12] = 2; }, -14, L"Received invalid image part"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    transfers.push_back({RandomWire(30 + i), cases[i].part, cases[i].spoil});
  Serve();
  HVImage untouched = reinterpret_cast<HVImage>(&untouched);
  for (const Case &c : cases) {
    HVImage image = untouched;
    EXPECT_TRUE(Fails(BlueFinGetImage(device, &image), c.code, c.message)) << c.part;
    EXPECT_EQ(image, untouched);
  }
  Close();
  peer.Join();
  ASSERT_EQ(requested.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(requested[i], Parts(cases[i].part + 1));
}

}  // namespace
}  // namespace bluefin_test
