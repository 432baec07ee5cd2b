#include "sweep_fixture.h"

#include <chrono>

namespace vdm::test {
namespace {

struct CaptureContext {
  SweepDeviceTest *test;
  std::function<VResult()> stop;
  StopPlan plan;
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
  if (plan.kind == StopKind::kNone || kind != plan.on || count != plan.at || context->stopper.joinable()) {
    return;
  }
  context->stopper = std::thread([context] {
    context->run->stopResult = context->stop();
    context->stopperDone.store(true);
  });
  if (plan.spins < 0) {
    AwaitStopper(*context);
  }
  for (int i = 0; i < plan.spins; ++i) {
    std::atomic_signal_fence(std::memory_order_seq_cst);  // keeps the loop
  }
}

VResult V_CALL OnReport(HVDevice, HVObject, HVImage *arhImages, VInt32, VBiometricStatus *, void *pParam) {
  auto *context = static_cast<CaptureContext *>(pParam);
  const bool part = arhImages[0] != nullptr;
  ArriveAt(context, part ? ReportKind::kPart : ReportKind::kPoll,
           part ? ++context->run->parts : ++context->run->polls);
  return V_OK;
}

}  // namespace

void V_CALL SweepDeviceTest::OnSleep(VInt32, void *) {
  if (currentCapture) {
    ArriveAt(currentCapture, ReportKind::kSleep, ++currentCapture->run->sleeps);
  }
}

void SweepDeviceTest::SetUp() {
  DeviceTest::SetUp();
  VTestSetSleepHook(OnSleep, nullptr);
  ASSERT_EQ(VPropertyBagCreate(&captureObject_), V_OK);
}

void SweepDeviceTest::TearDown() {
  VTestClearFailures();
  VObjectSet(nullptr, &captureObject_);
  DeviceTest::TearDown();
}

VResult SweepDeviceTest::Stop(StopKind kind, HVDevice hDevice, void *captureParam) {
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

CaptureRun SweepDeviceTest::Capture(HVDevice hDevice, const StopPlan &plan, HVObject hCaptureObject) {
  CaptureRun run;
  CaptureContext context{this, {}, plan, &run, {}, {}};
  context.stop = [this, &plan, hDevice, &context] { return Stop(plan.kind, hDevice, &context); };
  currentCapture = &context;
  HVImage images[1] = {};
  VInt32 imageCount = 0;
  run.result = Slots().pCapture(hDevice, hCaptureObject ? hCaptureObject : captureObject_, nullptr, nullptr,
                                nullptr, nullptr, V_TRUE, nullptr, nullptr, nullptr, images, 1, &imageCount,
                                &run.status, OnReport, &context);
  currentCapture = nullptr;
  if (context.stopper.joinable()) {
    context.stopper.join();
  }
  if (VSucceeded(run.result)) {
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
