// A plugged module with scanner emulators to create devices on, and
// captures driven from the capture callback: an action at every report, and
// a stopper on another thread started at a chosen report.
#ifndef TESTS_MODULE_DEVICE_FIXTURE_H
#define TESTS_MODULE_DEVICE_FIXTURE_H

#include <unistd.h>

#include <atomic>
#include <functional>
#include <list>
#include <optional>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "module_fixture.h"

namespace vdm::test {

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

  // An address no other test process uses at the same time: abstract
  // socket names are shared by the whole machine.
  static std::string NewAddress();
  static std::string AddressOf(const emu::Emulator &scanner);
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

  std::list<emu::Emulator> scanners_;  // stable addresses
  std::list<std::string> addresses_;
  vfw::Handle captureObject_;
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_DEVICE_FIXTURE_H
