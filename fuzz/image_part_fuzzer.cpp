// Image-part payloads after decryption: the input is the plaintext of the
// twelve parts, and the target frames and encrypts each one correctly, so
// that every input gets past the cipher and the checksums to the part
// checks and the delta decoder. The progress callback's verdicts come from
// the input too. A complete transfer must give exactly the image a plain
// reference decoding of the same codes gives.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "bluefin/bluefin.h"
#include "emulator/frame.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seam_peer.h"

using namespace vdm::fuzz;

namespace {

constexpr std::size_t kPartPayload = emu::kImagePartPayloadSize;
constexpr std::size_t kParts = emu::kImageParts;

// The decoding written out the slow, obvious way.
std::vector<std::uint8_t> ReferenceDecode(const std::vector<std::vector<std::uint8_t>> &parts) {
  std::vector<std::uint8_t> image(emu::kImagePixels);
  int value = emu::kDeltaStart;
  std::size_t pixel = 0;
  for (const auto &part : parts) {
    for (std::size_t at = emu::kPartDataOffset; at + 3 <= part.size() && pixel < image.size(); at += 3) {
      const std::uint32_t word = part[at] + 256u * part[at + 1] + 65536u * part[at + 2];
      for (int k = 0; k < 8; ++k) {
        value = (value + emu::kDeltas[(word >> (3 * k)) % 8] + 256) % 256;
        image[image.size() - 1 - pixel++] = static_cast<std::uint8_t>(value);
      }
    }
  }
  return image;
}

struct Plan {
  enum Verdict : unsigned { kNoCallback, kGoOn, kStop, kFail } verdict;
  unsigned atPart;  // when the verdict is kStop or kFail
  unsigned calls = 0;
};

VResult V_CALL Progress(HVBlueFin, VInt32 percent, HVImage hImage, void *pParam) {
  auto *plan = static_cast<Plan *>(pParam);
  const unsigned part = plan->calls++;
  Expect(percent == static_cast<VInt32>(100 * (part + 1) / kParts), "wrong progress percentage");
  Expect(hImage != nullptr, "progress without the image");
  if (part != plan->atPart || plan->verdict < Plan::kStop) {
    return 0;
  }
  return plan->verdict == Plan::kStop ? 1
                                      : VErrorSetLastW(V_E_FAILED, L"Stopped by the progress callback",
                                                       nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  Plan plan{static_cast<Plan::Verdict>(input.Below(4)), input.Below(kParts)};
  // One part may come with another length; by default byte 0 and the valid
  // flag are right so that the decoder is reached.
  const unsigned oddPart = input.Below(16);
  const int lengthChange = static_cast<std::int8_t>(input.Byte());
  const bool rawHeader = (input.Byte() & 1) != 0;
  const std::span<const std::uint8_t> codes = input.Rest();

  // A part for every part's worth of codes, and at least one: a short input
  // runs short of parts, and the missing ones time out at once.
  const std::size_t partCount = std::min(kParts, codes.size() / emu::kPartDataSize + 1);
  std::vector<std::vector<std::uint8_t>> parts(partCount, std::vector<std::uint8_t>(kPartPayload));
  std::size_t next = 0;
  for (std::size_t p = 0; p < partCount; ++p) {
    auto &part = parts[p];
    for (std::size_t i = rawHeader ? 0 : emu::kPartDataOffset; i < part.size() && !codes.empty(); ++i) {
      part[i] = codes[next++ % codes.size()];
    }
    if (!rawHeader) {
      part[0] = 0x91;
      part[emu::kResultOffset] = 1;
    }
    if (p == oddPart) {
      part.resize(static_cast<std::size_t>(std::max(1, static_cast<int>(kPartPayload) + lengthChange)), 0x5A);
    }
  }

  PreparePeer();
  const Footprint before;
  HVBlueFin hBlueFin = OpenDeviceOnPeer(true);
  SeamPeer &peer = SeamPeer::Instance();
  peer.Behave({.answering = false});
  std::vector<std::uint8_t> stream;
  for (const auto &part : parts) {
    emu::AppendResponseFrame(part, emu::kDefaultKey, {}, stream);
  }
  peer.Queue(stream);
  if (plan.verdict != Plan::kNoCallback) {
    BlueFinSetProgressCallback(hBlueFin, Progress, &plan);
  }

  HVImage hImage = reinterpret_cast<HVImage>(&plan);
  const VResult result = BlueFinGetImage(hBlueFin, &hImage);
  ExpectRecorded(result);
  // The transfer takes the parts before the first bad one.
  const auto bad = std::find_if(parts.begin(), parts.end(), [](const std::vector<std::uint8_t> &part) {
    return part.size() != kPartPayload || part[0] != 0x91 || part[emu::kResultOffset] != 1;
  });
  const auto partsUsed = static_cast<std::size_t>(bad - parts.begin());
  const bool stopsEarly = plan.verdict >= Plan::kStop && plan.atPart < partsUsed;
  if (!stopsEarly) {
    Expect(VSucceeded(result) == (partsUsed == kParts),
           "a transfer with a bad part did not fail, or a good one failed");
  }
  if (VFailed(result)) {
    Expect(hImage == reinterpret_cast<HVImage>(&plan), "a failed transfer wrote the image out");
  } else if (hImage != nullptr) {
    Expect(!stopsEarly, "a stopped transfer handed out an image");
    void *pPixels = nullptr;
    Expect(VSucceeded(VImageGetPixelsPtr(hImage, &pPixels)), "no pixels");
    const std::vector<std::uint8_t> expected = ReferenceDecode(parts);
    Expect(std::equal(expected.begin(), expected.end(), static_cast<const std::uint8_t *>(pPixels)),
           "the decoded image differs from the reference decoding");
    VObjectSet(nullptr, &hImage);
  }

  Expect(VSucceeded(VObjectSet(nullptr, &hBlueFin)), "the device could not be released");
  Expect(peer.OpenSockets() == 0, "the device left its socket open");
  Expect(Footprint{} == before, "the transfer left host objects behind");
  return 0;
}
