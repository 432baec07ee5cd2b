// Drives a device through the scenarios the sweeps break: a capture with a
// stopper on another thread, run from the capture callback at a chosen
// report, and the image the capture handed over.
#ifndef TESTS_MODULE_SWEEP_FIXTURE_H
#define TESTS_MODULE_SWEEP_FIXTURE_H

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "device_fixture.h"

namespace vdm::test {

// Where a stopper fires: at the `at`-th (1-based) poll report, sleep
// between polls, or image part report.
enum class ReportKind { kPoll, kSleep, kPart };
enum class StopKind { kNone, kCancel, kRemove, kUnplug };

struct StopPlan {
  StopKind kind = StopKind::kNone;
  ReportKind on = ReportKind::kPoll;
  int at = 1;
  // -1: the capture thread waits until the stopper is parked on the
  // capture's end. Otherwise it spins that many rounds and goes on, racing
  // the stopper (a spin, not a yield: on a loaded machine a yield can give
  // the core away for a whole time slice).
  int spins = -1;
};

struct CaptureRun {
  VResult result = V_OK;
  VResult stopResult = V_OK;
  VBiometricStatus status = -1;
  HVImage handle = nullptr;         // the image handed over, until collected
  std::optional<emu::Image> image;  // its pixels, once collected
  int polls = 0;
  int sleeps = 0;
  int parts = 0;

  // Copies the pixels and releases the image; call with no failure armed.
  void Collect();
};

class SweepDeviceTest : public DeviceTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Captures on hDevice; the stopper runs on its own thread while the
  // capture thread waits in the callback until the stopper is parked on
  // the capture's end, or has returned.
  // Several threads capture at once each with its own capture object.
  CaptureRun Capture(HVDevice hDevice, const StopPlan &plan = {}, HVObject hCaptureObject = nullptr);
  VResult Stop(StopKind kind, HVDevice hDevice, void *captureParam);

  HVObject captureObject_ = nullptr;

 private:
  static void V_CALL OnSleep(VInt32 milliseconds, void *context);
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_SWEEP_FIXTURE_H
