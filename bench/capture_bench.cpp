// 1, 4 and 16 scanners capturing at once, each from its own thread with its
// own emulator and device, through the emulated-link module loaded by the
// framework's device manager. The links are shaped like RFCOMM, so a
// capture's time is the radio's; what the module adds on top, and what the
// captures cost one another, is the measure. The capture's two-second poll
// sleeps go through the framework's sleep hook, which returns at once.
#include <v_biometrics.h>
#include <v_devices.h>

#include <algorithm>
#include <latch>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "bench/scanner_link.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "ratio_table.h"

namespace {

using Clock = std::chrono::steady_clock;

void V_CALL NoSleep(VInt32, void *) {}

VResult V_CALL IgnoreProgress(HVDevice, HVObject, HVImage *, VInt32, VBiometricStatus *, void *) {
  return V_OK;
}

struct Capture {
  HVDevice device = nullptr;
  vfw::Handle captureObject;
  Clock::time_point start;
  Clock::time_point end;
  bool ok = false;
};

void CaptureOnce(const VDeviceManagerInterface &slots, Capture &capture, std::latch &ready) {
  HVImage images[1] = {nullptr};
  VInt32 imageCount = 0;
  VBiometricStatus status = V_BIOMETRIC_STATUS_NONE;
  ready.arrive_and_wait();
  capture.start = Clock::now();
  const VResult result =
      slots.pCapture(capture.device, capture.captureObject.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE,
                     nullptr, nullptr, nullptr, images, 1, &imageCount, &status, IgnoreProgress, nullptr);
  capture.end = Clock::now();
  capture.ok = VSucceeded(result) && status == V_BIOMETRIC_STATUS_OK && images[0] != nullptr;
  VObjectSet(nullptr, &images[0]);
}

HVDevice CreateDevice(const VDeviceManagerInterface &slots, const std::string &address) {
  vfw::Handle bag;
  const std::wstring wide(address.begin(), address.end());
  HVDevice hDevice = nullptr;
  if (VFailed(VPropertyBagCreate(bag.put())) ||
      VFailed(VPropertyBagSetStringW(bag.get(), L"DisplayName", L"Scanner")) ||
      VFailed(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", wide.c_str())) ||
      VFailed(slots.pCreateDevice(bag.get(), &hDevice, nullptr))) {
    return nullptr;
  }
  return hDevice;
}

void ConcurrentCaptures(benchmark::State &state) {
  const auto scannerCount = static_cast<std::size_t>(state.range(0));
  VTestSetSleepHook(NoSleep, nullptr);
  // Declared first so that they go last: unplugging the module puts every
  // scanner back on its default key.
  std::list<bench::emu::Emulator> scanners;
  std::unique_ptr<vfw::DeviceModule> module;
  std::vector<Capture> captures(scannerCount);
  if (VFailed(vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, "VdmBlueFinModuleOf", &module)) ||
      VFailed(module->Init()) || VFailed(module->Plug())) {
    state.SkipWithError("cannot load the module");
    VTestSetSleepHook(nullptr, nullptr);
    return;
  }
  const VDeviceManagerInterface &slots = *module->Interface();
  for (Capture &capture : captures) {
    bench::emu::Options options;
    options.address = bench::UniqueAddress();
    options.shaping = bench::RfcommShaping();
    std::string error;
    if (!scanners.emplace_back(options).Start(&error) ||
        (capture.device = CreateDevice(slots, options.address)) == nullptr ||
        VFailed(VPropertyBagCreate(capture.captureObject.put()))) {
      state.SkipWithError(("cannot open a scanner: " + error).c_str());
      break;
    }
  }

  double captureSeconds = 0;
  while (!state.error_occurred() && state.KeepRunning()) {
    std::latch ready(static_cast<std::ptrdiff_t>(scannerCount));
    std::vector<std::thread> threads;
    for (Capture &capture : captures) {
      threads.emplace_back(CaptureOnce, std::cref(slots), std::ref(capture), std::ref(ready));
    }
    for (std::thread &thread : threads) {
      thread.join();
    }
    // From the first start to the last end: the slowest capture of the
    // batch, and any skew between the threads' starts on top.
    Clock::time_point first = captures.front().start;
    Clock::time_point last = captures.front().end;
    for (const Capture &capture : captures) {
      first = std::min(first, capture.start);
      last = std::max(last, capture.end);
      captureSeconds += std::chrono::duration<double>(capture.end - capture.start).count();
    }
    state.SetIterationTime(std::chrono::duration<double>(last - first).count());
    if (!std::all_of(captures.begin(), captures.end(), [](const Capture &c) { return c.ok; })) {
      state.SkipWithError("a capture failed");
    }
  }
  state.counters["mean_capture_ms"] = benchmark::Counter(
      captureSeconds * 1e3 / static_cast<double>(scannerCount), benchmark::Counter::kAvgIterations);

  for (Capture &capture : captures) {
    capture.captureObject.reset();
  }
  module.reset();
  scanners.clear();
  VTestSetSleepHook(nullptr, nullptr);
}

}  // namespace

// About 0.45 s a capture on the shaped link.
BENCHMARK(ConcurrentCaptures)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2)
    ->Repetitions(3);
