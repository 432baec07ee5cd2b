// The radio build of the module (VdmBlueFin.so or VdmBlueFin.dll) loaded
// through the framework's device manager as the host loads it, with the
// poll period's sleeps skipped and a leak check at the end. Each platform's
// suite puts its stand-in for the operating system's Bluetooth underneath.
#ifndef TESTS_RADIO_RADIO_HOST_H
#define TESTS_RADIO_RADIO_HOST_H

#include <gtest/gtest.h>
#include <v_devices.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "tests/host_footprint.h"

namespace vdm::radio::test {

using vdm::test::HostFootprint;

struct CaptureRun {
  VResult result = V_OK;
  VBiometricStatus status = -1;
  std::vector<std::uint8_t> image;  // the pixels handed over, if any
  int polls = 0;
  int parts = 0;
};

// The last error's code, platform code and call stack, as one value to compare.
struct PlatformError {
  VResult code;
  VInt32 platformCode;
  std::wstring callStack;
  bool operator==(const PlatformError &) const = default;
};
std::ostream &operator<<(std::ostream &out, const PlatformError &error);
PlatformError LastPlatformError();

// Runs on the capture thread at each report, with the counts so far.
using OnReport = std::function<void(const CaptureRun &run)>;

class RadioHost : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads, initialises and plugs the radio module; Prepare runs between the
  // load and the initialisation.
  void LoadAndPlug(const std::function<void()> &prepare = {});
  const VDeviceManagerInterface &Slots() const { return *module_->Interface(); }

  VResult Create(const std::string &address, HVDevice *phDevice, const wchar_t *displayName = L"Scanner");
  std::wstring Property(VDeviceManagerGetStringProc slot, HVDevice hDevice);
  CaptureRun Capture(HVDevice hDevice, OnReport onReport = {});
  // From a report: cancels the capture on hDevice from another thread,
  // which the capture joins at its end.
  void CancelFromAnotherThread(HVDevice hDevice);
  // A capture on a scanner that never has an image, cancelled from another
  // thread at its second poll: it ends stopped, without an image, and the
  // device is removed.
  void ExpectCancelEndsTheCapture(HVDevice hDevice);

  std::unique_ptr<vfw::DeviceModule> module_;

 private:
  HostFootprint baseline_;
  vfw::Handle captureObject_;
  void *captureParam_ = nullptr;
  std::thread stopper_;
  VResult stopResult_ = V_OK;
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_RADIO_HOST_H
