// The emulated-link build of the module loaded through the framework's
// device manager, as the host would, with a leak check at the end; and a
// plugged module with scanner emulators to create devices on, and captures
// driven from the capture callback: an action at every report, and a
// stopper on another thread started at a chosen report.
#ifndef TESTS_MODULE_DEVICE_FIXTURE_H
#define TESTS_MODULE_DEVICE_FIXTURE_H

#include <gtest/gtest.h>
#include <v_devices.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "tests/host_footprint.h"

namespace vdm::test {

inline constexpr char kModuleOf[] = "VdmBlueFinModuleOf";

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VTestClearFailures();
    baseline_ = HostFootprint{};
  }

  void TearDown() override {
    VTestClearFailures();
    if (module_) {
      module_.reset();
    }
    EXPECT_EQ(HostFootprint{}, baseline_) << "the module left host objects behind";
  }

  VResult Load() { return vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, kModuleOf, &module_); }

  // Loads, initialises and plugs with the given interface version.
  void LoadAndPlug(VUInt32 version = V_DEVICE_MANAGER_INTERFACE_VERSION) {
    ASSERT_EQ(Load(), V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    ASSERT_EQ(module_->Init(), V_OK);
    ASSERT_EQ(module_->Plug(version), V_OK);
  }

  const VDeviceManagerInterface &Slots() const { return *module_->Interface(); }

  std::unique_ptr<vfw::DeviceModule> module_;
  HostFootprint baseline_;
};

// The result and the thread's last error agree on the code and message.
inline ::testing::AssertionResult HasLastError(VResult result, VResult code, const std::wstring &message) {
  const vfw::LastError error = vfw::GetLastError();
  if (result == code && error.code == code && error.message == message) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "result " << result << ", last error " << error.code << " \"" << vfw::ToUtf8(error.message)
         << "\"; expected " << code << " \"" << vfw::ToUtf8(message) << "\"";
}

namespace emu = bluefin::emu;

inline constexpr std::uint8_t kEcho = 0x01, kIdentity = 0x03, kSetKey = 0x05, kGetStatus = 0x09,
                              kSetStatus = 0x0C, kImagePart = 0x11;

std::vector<std::uint8_t> Codes(const std::vector<emu::TranscriptEntry> &transcript);

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
  // The stop is made on the capture thread itself, from inside the report
  // (or the sleep), as a host's callback would make it.
  bool fromCallback = false;
};

// Run on the capture thread at every report, after the stopper.
using ReportAction = std::function<VResult(VBiometricStatus *status, HVImage image)>;

struct CaptureRun {
  struct Report {
    VBiometricStatus status;
    bool withImage;
    bool operator==(const Report &) const = default;
  };
  VResult result = V_OK;
  VResult stopResult = V_OK;
  VBiometricStatus status = -1;
  // The capture's status as the stopper found it when the stop returned: a
  // stop that waited for the capture's end sees its final status.
  VBiometricStatus statusWhenStopped = -1;
  bool written = false;             // the capture wrote its image slot
  HVImage handle = nullptr;         // the image handed over, until collected
  std::optional<emu::Image> image;  // its pixels, once collected
  std::vector<Report> reports;
  std::vector<VInt32> sleeps;  // between polls, in milliseconds
  int polls = 0;
  int parts = 0;

  // Copies the pixels and releases the image; call with no failure armed.
  void Collect();
};

class DeviceTest : public ModuleTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string AddressOf(const emu::Emulator &scanner);
  // On an address no other test process uses at the same time: abstract
  // socket names are shared by the whole machine.
  emu::Emulator &StartScanner(emu::Options options = {});

  // Slot 39 with the given parameters; a null text leaves it out.
  VResult Create(const wchar_t *displayName, const std::string *address, HVDevice *phDevice,
                 void *hostParam = nullptr);
  HVDevice CreateOn(const emu::Emulator &scanner, const wchar_t *displayName = L"Scanner");
  std::wstring Property(VDeviceManagerGetStringProc slot, HVDevice hDevice);

  // Captures on hDevice with the fixture's capture object unless given one;
  // several threads capture at once each with its own.
  CaptureRun Capture(HVDevice hDevice, const StopPlan &plan = {}, HVObject hCaptureObject = nullptr,
                     ReportAction action = nullptr);
  VResult Stop(StopKind kind, HVDevice hDevice, void *captureParam);

  // Called on the capturing thread just before each capture starts, with
  // the parameter that names the capture for a cancel.
  std::function<void(HVDevice hDevice, void *captureParam)> onCaptureStart_;

  std::list<emu::Emulator> scanners_;  // stable addresses
  vfw::Handle captureObject_;
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_DEVICE_FIXTURE_H
