// One image transfer (twelve exchanges, each part decrypted and decoded)
// over the emulated link, plain and shaped like RFCOMM, with the host's
// allocations counted around it.
#include <string>

#include "bench/scanner_link.h"
#include "bluefin/bluefin.h"
#include "bluefin/protocol.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "ratio_table.h"

namespace {

using namespace vdm::bluefin;
namespace emu = ::bluefin::emu;

constexpr std::array<VUInt8, kKeySize> kSessionKey = {
    0xA0, 0xA7, 0xAE, 0xB5, 0xBC, 0xC3, 0xCA, 0xD1, 0xD8, 0xDF, 0xE6, 0xED, 0xF4, 0xFB, 0x02, 0x09,
    0x10, 0x17, 0x1E, 0x25, 0x2C, 0x33, 0x3A, 0x41, 0x48, 0x4F, 0x56, 0x5D, 0x64, 0x6B, 0x72, 0x79};

// The frames of one image part: the command and the whole response frame.
constexpr auto kPartCommandFrame = static_cast<std::size_t>(kCommandHeaderSize + kBlockSize);
constexpr auto kPartResponseFrame =
    static_cast<std::size_t>(kResponseHeaderSize + RoundUpToBlocks(kImagePartPayloadSize));
static_assert(kPartCommandFrame == 22 && kPartResponseFrame == 3096);

VResult Open(const std::string &address, HVBlueFin *phBlueFin) {
  const vfw::Handle name = vfw::MakeString(L"Scanner");
  const vfw::Handle text = vfw::MakeString(std::wstring(address.begin(), address.end()).c_str());
  vfw::Handle bluetoothDevice;
  VResult result = VBluetoothDeviceCreateFromString(name.get(), text.get(), bluetoothDevice.put());
  if (VSucceeded(result)) {
    result = BlueFinCreate(bluetoothDevice.get(), phBlueFin);
  }
  return VFailed(result) ? result : BlueFinSetKey(*phBlueFin, kSessionKey.data(), kKeySize);
}

// Status 1, then status queries until the image is ready (the scanner is
// set to answer "ready" at once).
bool Arm(HVBlueFin hBlueFin) {
  if (VFailed(BlueFinSetStatus(hBlueFin, 1))) {
    return false;
  }
  for (int poll = 0; poll < 10; ++poll) {
    VUInt32 ready = 0;
    if (VFailed(BlueFinGetStatus(hBlueFin, nullptr, nullptr, &ready, nullptr))) {
      return false;
    }
    if (ready != 0) {
      return true;
    }
  }
  return false;
}

// Host allocations of making and dropping the transfer's image alone.
VUInt64 ImageAllocations() {
  const VUInt64 before = VTestGetAllocationTotal();
  HVImage hImage = nullptr;
  if (VFailed(BlueFinCreateImage(&hImage)) || VFailed(VObjectSet(nullptr, &hImage))) {
    return 0;
  }
  return VTestGetAllocationTotal() - before;
}

void TransferImages(benchmark::State &state, const emu::LinkShaping &shaping) {
  emu::Options options;
  options.address = bench::UniqueAddress();
  options.readyAfterPolls = 0;
  options.shaping = shaping;
  emu::Emulator scanner(options);
  std::string error;
  HVBlueFin hBlueFin = nullptr;
  if (!scanner.Start(&error) || VFailed(Open(options.address, &hBlueFin))) {
    state.SkipWithError(("cannot open the scanner: " + error).c_str());
    return;
  }

  VUInt64 allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    scanner.ClearTranscript();
    if (!Arm(hBlueFin)) {
      state.SkipWithError("cannot arm the scanner");
      break;
    }
    const VUInt64 before = VTestGetAllocationTotal();
    state.ResumeTiming();

    HVImage hImage = nullptr;
    const VResult result = BlueFinGetImage(hBlueFin, &hImage);

    state.PauseTiming();
    allocations += VTestGetAllocationTotal() - before;
    VObjectSet(nullptr, &hImage);
    if (VFailed(result)) {
      state.SkipWithError(("transfer failed: " + vfw::ToUtf8(vfw::GetLastError().message)).c_str());
      break;
    }
    state.ResumeTiming();
  }
  VObjectSet(nullptr, &hBlueFin);

  const auto bound = kImagePartCount * emu::ExchangeTime(shaping, kPartCommandFrame, kPartResponseFrame);
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["image_allocs"] = static_cast<double>(ImageAllocations());
  state.counters["bound_ms"] = std::chrono::duration<double, std::milli>(bound).count();
}

void TransferUnshaped(benchmark::State &state) {
  TransferImages(state, {});
}

void TransferRfcomm(benchmark::State &state) {
  TransferImages(state, bench::RfcommShaping());
}

}  // namespace

BENCHMARK(TransferUnshaped)->Unit(benchmark::kMillisecond);
// About 0.4 s an image: a few are enough for a steady median.
BENCHMARK(TransferRfcomm)->Unit(benchmark::kMillisecond)->Iterations(4)->Repetitions(3);
