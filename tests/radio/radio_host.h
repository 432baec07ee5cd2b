// The radio build of the module (VdmBlueFin.so or VdmBlueFin.dll) loaded
// through the framework's device manager as the host loads it, with the
// poll period's sleeps skipped and a leak check at the end, and the checks
// both platforms' suites make on it. Each suite puts its stand-in for the
// operating system's Bluetooth underneath, answering for the scanners.
#ifndef TESTS_RADIO_RADIO_HOST_H
#define TESTS_RADIO_RADIO_HOST_H

#include <gtest/gtest.h>
#include <v_devices.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "emulator/emulator.h"
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

  // A scanner emulator started at a new address; it stops after the module
  // has gone, as a scanner gets its default key back at the unplug.
  bluefin::emu::Emulator &StartScanner(bluefin::emu::Options options = {});
  static std::string AddressOf(const bluefin::emu::Emulator &scanner);

  VResult Create(const std::string &address, HVDevice *phDevice, const wchar_t *displayName = L"Scanner");
  std::wstring Property(VDeviceManagerGetStringProc slot, HVDevice hDevice);
  CaptureRun Capture(HVDevice hDevice, OnReport onReport = {});

  // A device on a scanner that never has an image; its capture, cancelled
  // from another thread at the second poll, ends stopped without an image,
  // and the device is removed.
  void ExpectCancelEndsTheCapture(const std::string &address);
  // A device created on the scanner and its properties read, an image
  // captured pixel for pixel, the device removed; then created again and
  // the module unplugged with it open. The scanner gets its default key
  // back each time, at the unplug in one exchange.
  void ExpectTheWholeLife(bluefin::emu::Emulator &scanner);
  // Each creation fails with the platform's error at the call, and no
  // device is made or told of. Rows: what, address, error, at.
  using Refusal = std::tuple<const char *, std::string, VInt32, const wchar_t *>;
  void ExpectCreationsFail(const std::vector<Refusal> &refusals);
  // A device on the address whose link reset() resets after the third
  // image part: the capture fails with the platform's error at the call,
  // and the device is removed all the same.
  void ExpectAResetFailsTheCapture(const std::string &address, const std::function<void()> &reset,
                                   VInt32 error, const wchar_t *at);

  std::unique_ptr<vfw::DeviceModule> module_;

 private:
  std::list<bluefin::emu::Emulator> scanners_;
  HostFootprint baseline_;
  vfw::Handle captureObject_;
  void *captureParam_ = nullptr;
  std::thread stopper_;
  VResult stopResult_ = V_OK;
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_RADIO_HOST_H
