// Calls a real host makes that our well-behaved tests did not: callbacks
// that call the module back, stops from inside a capture's own callback and
// from threads that must not stall each other, an unplug while a device is
// still being created, and a host that shuts down after its scanners went
// away. A watchdog turns a deadlock into a failure.
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "tests/v_call_function.h"

namespace vdm::test {
namespace {

class HostCallsTest : public DeviceTest {
 protected:
  // Each stop at each kind of report, made by another thread, which waits
  // for the capture's end, or by the capture's own callback, which cannot:
  // it asks for the stop and the capture ends at its next check. The
  // callback meanwhile reads properties of its own device and of another
  // one. A removed or unplugged device is closed when its capture ends.
  void StopAtEveryReport(bool fromCallback) {
    const std::pair<StopKind, const char *> stops[] = {
        {StopKind::kCancel, "cancel"}, {StopKind::kRemove, "removal"}, {StopKind::kUnplug, "unplug"}};
    for (const auto &[kind, name] : stops) {
      for (ReportKind on : {ReportKind::kPoll, ReportKind::kSleep, ReportKind::kPart}) {
        SCOPED_TRACE(testing::Message() << name << " at report kind " << static_cast<int>(on));
        watchdog_.Begin(std::string("a capture stopped by ") + name);
        const HVDevice hOther = CreateOn(StartScanner(), L"Other");
        emu::Emulator &scanner = StartScanner(ReadyAfter(2));
        const HVDevice hDevice = CreateOn(scanner);
        const StopPlan plan{kind, on, 1, -1, fromCallback};
        int reads = 0;
        CaptureRun run = Capture(hDevice, plan, nullptr, [&](VBiometricStatus *, HVImage) {
          reads += ReadEach(std::array{hDevice, hOther});
          return V_OK;
        });
        EXPECT_EQ(run.stopResult, V_OK);
        EXPECT_EQ(run.result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
        EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_CANCELED);
        EXPECT_FALSE(run.written && run.handle);
        EXPECT_GE(reads, 1);
        if (fromCallback) {
          // No report after the one that made the stop.
          EXPECT_EQ(run.polls + run.parts, on == ReportKind::kPart ? 4 : 1);
        } else {
          // The capture stored its outcome before the stopper returned.
          EXPECT_EQ(run.statusWhenStopped, V_BIOMETRIC_STATUS_CANCELED);
        }
        if (kind == StopKind::kCancel) {
          CaptureRun again = Capture(hDevice);
          again.Collect();
          EXPECT_EQ(again.status, V_BIOMETRIC_STATUS_OK);
          EXPECT_TRUE(again.image == scanner.ExpectedImage());
          EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
        } else {
          EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
          HVString id = nullptr;
          EXPECT_EQ(Slots().pGetId(hDevice, &id),
                    kind == StopKind::kRemove ? V_E_ARGUMENT : V_E_INVALID_OPERATION);
        }
        if (kind == StopKind::kUnplug) {
          ASSERT_EQ(module_->Plug(), V_OK);
        } else {
          EXPECT_EQ(Slots().pRemoveDevice(hOther, nullptr), V_OK);
        }
      }
    }
  }

  Watchdog watchdog_{std::chrono::seconds(30)};
};

// The stopper waits for the capture's end while the capture's callback
// reads properties: neither may wait for the other.
TEST_F(HostCallsTest, CallbacksReadPropertiesWhileAnotherThreadStopsTheCapture) {
  StopAtEveryReport(false);
}

TEST_F(HostCallsTest, StopsFromInsideTheCaptureEndItAtItsNextCheck) {
  StopAtEveryReport(true);
}

// A cancel waits for the capture it stops, up to a poll period; other
// devices stay usable meanwhile. The capture is held in its sleep between
// polls, with the cancel parked on its end, until another device has
// answered: a cancel that kept the module to itself while it waited would
// deadlock here, and the watchdog names it.
TEST_F(HostCallsTest, AStopDoesNotStallOtherDevices) {
  watchdog_.Begin("a read of another device while a cancel waits");
  emu::Emulator &scanner = StartScanner(ReadyAfter(1000));
  const HVDevice hDevice = CreateOn(scanner);
  const HVDevice hOther = CreateOn(StartScanner());

  Gate gate;
  std::future<void> held = gate.reached.get_future();
  VTestSetSleepHook(VCallFunction<VTestSleepHook>([](VInt32 milliseconds, void *pContext) {
                      detail::OnSleep(milliseconds, nullptr);  // starts the cancel at the first sleep
                      static_cast<Gate *>(pContext)->Reach();
                    }),
                    &gate);
  CaptureRun run;
  std::thread capture([&] { run = Capture(hDevice, {StopKind::kCancel, ReportKind::kSleep, 1}); });
  held.wait();
  while (VTestGetBlockedWaitCount() == 0) {  // the cancel waits for the capture's end
    std::this_thread::yield();
  }
  EXPECT_EQ(Property(Slots().pGetId, hOther), L"TopLink Pacific BF-2000 0BF12345");
  gate.open.set_value();
  capture.join();
  VTestSetSleepHook(detail::OnSleep, nullptr);
  EXPECT_EQ(run.stopResult, V_OK);
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_EQ(run.statusWhenStopped, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_EQ(run.polls, 1);
}

// An unplug from inside the host's notification of a new device closes the
// device, and creation fails instead of handing out a freed record. The
// host sessions unplug from another thread while the notification is under
// way.
TEST_F(HostCallsTest, AnUnplugWhileTheHostIsToldOfANewDeviceFailsTheCreation) {
  watchdog_.Begin("creation racing an unplug");
  emu::Emulator &scanner = StartScanner();
  module_->SetCallbackAction(vfw::DeviceModule::Event::kAdded, [&](const vfw::DeviceModule::Event &) {
    EXPECT_EQ(module_->Unplug(), V_OK);
    return V_OK;
  });
  HVDevice hDevice = nullptr;
  EXPECT_TRUE(HasLastError(Create(&scanner, &hDevice), V_E_INVALID_OPERATION, L"VdmBlueFin is not plugged"));
  module_->SetCallbackAction(vfw::DeviceModule::Event::kAdded, nullptr);
  EXPECT_EQ(hDevice, nullptr);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
}

// The capture's arguments are checked in order before anything else. A
// capture without a callback never starts, on a real device too: its first
// poll would call through the null pointer.
TEST_F(HostCallsTest, CaptureArgumentsAreCheckedInOrderBeforeAnythingElse) {
  HVImage images[1] = {};
  VInt32 count = 0;
  VBiometricStatus status = 0;
  int notADevice = 0;
  struct Case {
    VBiometricStatus *pStatus;
    HVImage *arhImages;
    VInt32 imagesLength;
    VInt32 *pImageCount;
    VBool automatic;
    VCaptureCallback callback;
    VResult code;
    const wchar_t *message;
  } cases[] = {
      // clang-format off
      {nullptr, nullptr, 0,  nullptr, 0, nullptr,  V_E_ARGUMENT_NULL,  L"pStatus is NULL"},
      {&status, nullptr, 0,  nullptr, 0, nullptr,  V_E_ARGUMENT_NULL,  L"arhImages is NULL"},
      {&status, images,  0,  nullptr, 0, nullptr,  V_E_ARGUMENT,       L"imagesLength is insufficient"},
      {&status, images,  -1, &count,  1, NoReport, V_E_ARGUMENT,       L"imagesLength is insufficient"},
      {&status, images,  1,  nullptr, 0, nullptr,  V_E_ARGUMENT_NULL,  L"pImageCount is NULL"},
      {&status, images,  1,  &count,  0, nullptr,  V_E_NOT_SUPPORTED,  L"Module does not support non-automatic capturing"},
      {&status, images,  1,  &count,  1, nullptr,  V_E_ARGUMENT_NULL,  L"pCaptureCallback is NULL"},
      {&status, images,  1,  &count,  1, NoReport, V_E_ARGUMENT,       L"VdmBlueFin device handle is invalid"},
      // clang-format on
  };
  const auto run = [&](const Case &c, HVDevice hDevice) {
    return Slots().pCapture(hDevice, nullptr, nullptr, nullptr, nullptr, nullptr, c.automatic, nullptr,
                            nullptr, nullptr, c.arhImages, c.imagesLength, c.pImageCount, c.pStatus,
                            c.callback, nullptr);
  };
  for (const Case &c : cases) {
    EXPECT_TRUE(HasLastError(run(c, &notADevice), c.code, c.message)) << vfw::ToUtf8(c.message);
  }
  emu::Emulator &scanner = StartScanner();
  const HVDevice hDevice = CreateOn(scanner);
  scanner.ClearTranscript();
  EXPECT_TRUE(HasLastError(run(cases[6], hDevice), V_E_ARGUMENT_NULL, cases[6].message));
  EXPECT_TRUE(scanner.Transcript().empty());
  // The mode is refused before the module's state is looked at.
  ASSERT_EQ(module_->Uninit(0), V_OK);
  EXPECT_TRUE(HasLastError(run(cases[5], &notADevice), V_E_NOT_SUPPORTED, cases[5].message));
  EXPECT_TRUE(
      HasLastError(run(cases[7], &notADevice), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
}

// Outside init and plug the constant slots answer and the others name the
// missing state. Device creation checks that the module is initialised, as
// the plug guard does, instead of entering a monitor that is not there. An
// uninit with a flag changes nothing; one without it unplugs first.
TEST_F(HostCallsTest, OutsideInitAndPlugSlotsAndCreationNameTheMissingState) {
  emu::Emulator &scanner = StartScanner();
  module_.reset();
  ASSERT_EQ(Load(), V_OK);
  const std::pair<std::function<VResult(VUInt32 *)>, VUInt32> constants[] = {
      {Slots().pGetDeviceTypes, 8},
      {[this](VUInt32 *pValue) { return Slots().pGetDeviceType(nullptr, pValue); }, 8},
      {Slots().pGetDeviceCreationSupport, 1},
  };
  for (const auto &[slot, expected] : constants) {
    VUInt32 value = 0;
    EXPECT_EQ(slot(&value), V_OK);
    EXPECT_EQ(value, expected);
    EXPECT_TRUE(HasLastError(slot(nullptr), V_E_ARGUMENT_NULL, L"pValue is NULL"));
    EXPECT_EQ(vfw::GetLastError().parameterName, L"pValue");
  }
  HVString hValue = nullptr;
  HVParameterDescriptor *descriptors = nullptr;
  VInt32 count = 0;
  int anyDevice = 0;
  const auto expectGuard = [&](const wchar_t *message) {
    EXPECT_TRUE(HasLastError(Slots().pGetId(&anyDevice, &hValue), V_E_INVALID_OPERATION, message));
    EXPECT_TRUE(HasLastError(Slots().pCancel(&anyDevice, nullptr), V_E_INVALID_OPERATION, message));
    EXPECT_TRUE(HasLastError(Slots().pGetParameters(&descriptors, &count), V_E_INVALID_OPERATION, message));
  };
  HVDevice hDevice = nullptr;
  const auto expectUninitialised = [&] {
    expectGuard(L"VdmBlueFin is not initialized");
    EXPECT_TRUE(
        HasLastError(Create(&scanner, &hDevice), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
  };

  expectUninitialised();
  EXPECT_TRUE(HasLastError(module_->Unplug(), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
  ASSERT_EQ(module_->Init(), V_OK);
  expectGuard(L"VdmBlueFin is not plugged");
  ASSERT_EQ(module_->Plug(), V_OK);
  EXPECT_TRUE(HasLastError(Slots().pGetId(&anyDevice, &hValue), V_E_ARGUMENT,
                           L"VdmBlueFin device handle is invalid"));
  EXPECT_TRUE(HasLastError(Slots().pGetId(nullptr, &hValue), V_E_ARGUMENT_NULL, L"hDevice is NULL"));
  EXPECT_EQ(module_->Uninit(1), V_OK);
  ASSERT_EQ(Slots().pGetParameters(&descriptors, &count), V_OK);
  VObjectFreeArray(descriptors, count);
  ASSERT_EQ(module_->Unplug(), V_OK);
  expectGuard(L"VdmBlueFin is not plugged");
  // The make needs no device and no plug.
  vfw::Handle make;
  ASSERT_EQ(Slots().pGetMake(nullptr, make.put()), V_OK);
  EXPECT_EQ(vfw::ToWString(make.get()), L"TopLink Pacific");
  ASSERT_EQ(module_->Plug(), V_OK);
  EXPECT_EQ(module_->Uninit(0), V_OK);
  EXPECT_FALSE(module_->IsPlugged());
  expectUninitialised();
  EXPECT_EQ(hDevice, nullptr);
  EXPECT_EQ(scanner.Snapshot().connections, 0u);
}

// Scanners switched off before the application exits: the host's uninit
// unplugs, closing the devices from the last to the first. A scanner that
// no longer answers cannot be given its key back, but its record is freed
// and the other devices are closed all the same; the unplug has done what
// it is for and succeeds, and the module ends uninitialised and unplugged,
// as the host sees it too.
TEST_F(HostCallsTest, UninitAfterTheScannersStoppedAnswering) {
  std::vector<emu::Emulator *> scanners;
  std::vector<HVDevice> devices;
  for (int i = 0; i < 5; ++i) {
    scanners.push_back(&StartScanner());
    devices.push_back(CreateOn(*scanners.back()));
  }
  scanners[2]->Stop();  // out of range
  EXPECT_EQ(Slots().pRemoveDevice(devices[2], nullptr), V_OK);
  scanners[4]->Stop();
  module_->ClearEvents();
  EXPECT_EQ(module_->Uninit(), V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  EXPECT_FALSE(module_->IsPlugged());
  EXPECT_FALSE(module_->IsInitialised());
  EXPECT_TRUE(module_->Events().empty()) << "an unplug tells nobody";
  std::vector<std::chrono::steady_clock::time_point> restored;
  for (int i : {0, 1, 3}) {
    EXPECT_EQ(scanners[i]->CurrentKey(), emu::kDefaultKey);
    const auto transcript = scanners[i]->Transcript();
    ASSERT_EQ(transcript.back().code, kSetKey);
    restored.push_back(transcript.back().time);
  }
  EXPECT_GT(restored[0], restored[1]);
  EXPECT_GT(restored[1], restored[2]);
  // TearDown checks that nothing of the five records is left.
}

// A stopper may return as soon as the capture signals its end through the
// host's event, and its caller looks at the capture's status at once: the
// outcome must be stored by then. A call hook reads the status as the
// capture thread signals.
TEST_F(HostCallsTest, TheOutcomeIsStoredBeforeTheCaptureSignalsItsEnd) {
  struct Watch {
    std::thread::id thread;
    const VBiometricStatus *pStatus = nullptr;
    VBiometricStatus atLastSignal = -1;
  } watch;
  const VTestCallHook onCall = VCallFunction<VTestCallHook>([](const char *szName, void *pContext) {
    auto *w = static_cast<Watch *>(pContext);
    if (w->pStatus && std::this_thread::get_id() == w->thread && std::strcmp(szName, "VSyncEventSet") == 0) {
      w->atLastSignal = *w->pStatus;
    }
  });
  emu::Emulator &scanner = StartScanner();
  const HVDevice hDevice = CreateOn(scanner);
  VTestSetCallHook(onCall, &watch);
  // A poll report carries the capture's own status; a part report, its own.
  CaptureRun run = Capture(hDevice, {}, nullptr, [&](VBiometricStatus *pStatus, HVImage hPart) {
    if (!hPart) {
      watch.thread = std::this_thread::get_id();
      watch.pStatus = pStatus;
    }
    return V_OK;
  });
  VTestSetCallHook(nullptr, nullptr);
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
  EXPECT_EQ(watch.atLastSignal, run.status);
  run.Collect();
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

}  // namespace
}  // namespace vdm::test
