#include "device_fixture.h"

#include <chrono>
#include <utility>

#include "tests/emulator/unique_address.h"

namespace vdm::test {
namespace {

struct CaptureContext {
  HVDevice device;
  HVObject captureObject;
  std::function<VResult()> stop;
  StopPlan plan;
  ReportAction action;
  CaptureRun *run;
  std::thread stopper;
  std::atomic<bool> stopperDone{false};
};

// Until the stopper is parked on the capture's end or has given up. A
// stopper whose host wait failed waits for the capture without the host,
// where no counter sees it: that case is let go after a while.
void AwaitStopper(const CaptureContext &context) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (VTestGetBlockedWaitCount() == 0 && !context.stopperDone.load() &&
         std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::yield();
  }
}

// The capture running on this thread, for the sleep hook.
thread_local CaptureContext *currentCapture = nullptr;

void ArriveAt(CaptureContext *context, ReportKind kind, int count) {
  const StopPlan &plan = context->plan;
  if (plan.kind == StopKind::kNone || kind != plan.on || count != plan.at || context->stopper.joinable() ||
      context->stopperDone.load()) {
    return;
  }
  const auto stop = [context] {
    context->run->stopResult = context->stop();
    context->run->statusWhenStopped = context->run->status;
    context->stopperDone.store(true);
  };
  if (plan.fromCallback) {
    stop();
    return;
  }
  context->stopper = std::thread(stop);
  if (plan.spins < 0) {
    AwaitStopper(*context);
  }
  for (int i = 0; i < plan.spins; ++i) {
    std::atomic_signal_fence(std::memory_order_seq_cst);  // keeps the loop
  }
}

VResult V_CALL OnReport(HVDevice hDevice, HVObject hCaptureObject, HVImage *arhImages, VInt32 imageCount,
                        VBiometricStatus *pStatus, void *pParam) {
  auto *context = static_cast<CaptureContext *>(pParam);
  EXPECT_EQ(imageCount, 1);
  EXPECT_EQ(hDevice, context->device);
  EXPECT_EQ(hCaptureObject, context->captureObject);
  CaptureRun &run = *context->run;
  const bool part = arhImages[0] != nullptr;
  run.reports.push_back({*pStatus, part});
  ArriveAt(context, part ? ReportKind::kPart : ReportKind::kPoll, part ? ++run.parts : ++run.polls);
  return context->action ? context->action(pStatus, arhImages[0]) : V_OK;
}

void V_CALL OnSleep(VInt32 milliseconds, void *) {
  if (currentCapture) {
    currentCapture->run->sleeps.push_back(milliseconds);
    ArriveAt(currentCapture, ReportKind::kSleep, static_cast<int>(currentCapture->run->sleeps.size()));
  }
}

}  // namespace

std::vector<std::uint8_t> Codes(const std::vector<emu::TranscriptEntry> &transcript) {
  std::vector<std::uint8_t> codes;
  for (const auto &entry : transcript) {
    codes.push_back(entry.code);
  }
  return codes;
}

void DeviceTest::SetUp() {
  ModuleTest::SetUp();
  VTestSetSleepHook(OnSleep, nullptr);
  LoadAndPlug();
  ASSERT_EQ(VPropertyBagCreate(captureObject_.put()), V_OK);
}

void DeviceTest::TearDown() {
  VTestClearFailures();
  captureObject_.reset();
  // Unplugging gives every scanner its default key back, so the scanners
  // go after the module.
  module_.reset();
  emulators_.clear();
  VTestSetSleepHook(nullptr, nullptr);
  ModuleTest::TearDown();
}

std::string DeviceTest::AddressOf(const emu::Emulator &scanner) {
  const std::string name = scanner.ListenName();
  return name.substr(name.find('/') + 1, 17);
}

emu::Emulator &DeviceTest::StartScanner(emu::Options options) {
  options.address = emu::test::UniqueAddress();
  auto &scanner = emulators_.emplace_back(options);
  std::string error;
  EXPECT_TRUE(scanner.Start(&error)) << error;
  return scanner;
}

VResult DeviceTest::Create(const emu::Emulator *scanner, HVDevice *phDevice, const wchar_t *displayName,
                           void *hostParam) {
  vfw::Handle bag;
  EXPECT_EQ(VPropertyBagCreate(bag.put()), V_OK);
  if (displayName) {
    EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"DisplayName", displayName), V_OK);
  }
  if (scanner) {
    const std::string address = AddressOf(*scanner);
    const std::wstring wide(address.begin(), address.end());
    EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", wide.c_str()), V_OK);
  }
  return Slots().pCreateDevice(bag.get(), phDevice, hostParam);
}

HVDevice DeviceTest::CreateOn(const emu::Emulator &scanner, const wchar_t *displayName) {
  HVDevice hDevice = nullptr;
  const VResult result = Create(&scanner, &hDevice, displayName);
  EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  return hDevice;
}

std::wstring DeviceTest::Property(VDeviceManagerGetStringProc slot, HVDevice hDevice) {
  vfw::Handle value;
  const VResult result = slot(hDevice, value.put());
  EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  return vfw::ToWString(value.get());
}

int DeviceTest::ReadEach(std::span<const HVDevice> devices) {
  int reads = 0;
  for (HVDevice hDevice : devices) {
    for (auto slot : {Slots().pGetId, Slots().pGetDisplayName, Slots().pGetSerialNumber}) {
      HVString value = nullptr;
      const VResult result = slot(hDevice, &value);
      EXPECT_TRUE(result == V_OK || IsRefusal(result)) << result;
      VObjectUnref(value);
      ++reads;
    }
  }
  return reads;
}

VResult DeviceTest::Stop(StopKind kind, HVDevice hDevice, void *captureParam) {
  switch (kind) {
    case StopKind::kCancel:
      return Slots().pCancel(hDevice, captureParam);
    case StopKind::kRemove:
      return Slots().pRemoveDevice(hDevice, nullptr);
    case StopKind::kUnplug:
      return module_->Unplug();
    case StopKind::kNone:
      break;
  }
  return V_OK;
}

CaptureRun DeviceTest::Capture(HVDevice hDevice, const StopPlan &plan, HVObject hCaptureObject,
                               ReportAction action) {
  CaptureRun run;
  const HVObject captureObject = hCaptureObject ? hCaptureObject : captureObject_.get();
  CaptureContext context{hDevice, captureObject, {}, plan, std::move(action), &run, {}, {}};
  context.stop = [this, &plan, hDevice, &context] { return Stop(plan.kind, hDevice, &context); };
  CaptureContext *const outer = std::exchange(currentCapture, &context);  // a capture from a callback
  // A slot the capture must leave alone unless it succeeds.
  const HVImage unwritten = reinterpret_cast<HVImage>(&context);
  HVImage images[1] = {unwritten};
  VInt32 imageCount = 0;
  {
    std::lock_guard lock(paramsMutex_);
    params_[hDevice] = &context;
  }
  run.result = Slots().pCapture(hDevice, captureObject, nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                                nullptr, nullptr, images, 1, &imageCount, &run.status, OnReport, &context);
  currentCapture = outer;
  if (context.stopper.joinable()) {
    context.stopper.join();
  }
  run.written = images[0] != unwritten;
  if (run.written) {
    run.handle = images[0];
  }
  return run;
}

void CaptureRun::Collect() {
  if (!handle) {
    return;
  }
  void *pixels = nullptr;
  if (VImageGetPixelsPtr(handle, &pixels) == V_OK) {
    const auto *bytes = static_cast<const std::uint8_t *>(pixels);
    image.emplace(bytes, bytes + emu::kImageWidth * emu::kImageHeight);
  }
  VObjectUnref(handle);
  handle = nullptr;
}

}  // namespace vdm::test
