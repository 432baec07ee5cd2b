// A whole device session through the device manager: create, read the
// properties, capture (once or twice), then remove or unplug. The input
// chooses how many polls the scanner wants, the scanner's faults, what the
// capture callback does, and at which transport call a cancel, removal or
// unplug comes in from another thread. Whatever happens: a capture that
// reports an image hands out exactly the scanner's image, and once the
// device is gone no socket, object, allocation or event is left.
#include <v_biometrics.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "emulator/fault.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seam_peer.h"

using namespace vdm::fuzz;

namespace {

enum class Interrupt : unsigned { kNone, kCancel, kRemove, kUnplug };
enum class CallbackAction : unsigned { kGoOn, kFail, kFinal, kGoOnToo };

constexpr emu::Command kCommands[] = {emu::Command::kEcho,      emu::Command::kIdentity,
                                      emu::Command::kSetKey,    emu::Command::kGetStatus,
                                      emu::Command::kSetStatus, emu::Command::kImagePart};

// More than a transfer's twelve progress reports and the polls of any
// scanner configuration.
constexpr unsigned kMostCallbacks = 40;

// One scanner for each number of polls it wants, coded once; gives its image.
const emu::Image &ConfigureScanner(unsigned readyAfterPolls) {
  static const std::vector<emu::Scanner> scanners = [] {
    SeamPeer::Instance().Install();
    // A plain ramp codes fast and still makes every delta appear.
    emu::ScannerConfig config;
    config.image = emu::Image(emu::kImagePixels);
    for (std::size_t i = 0; i < config.image->size(); ++i) {
      (*config.image)[i] = static_cast<std::uint8_t>(i * 7 + i / 256 * 13);
    }
    std::vector<emu::Scanner> made;
    for (unsigned polls = 0; polls < 4; ++polls) {
      config.readyAfterPolls = polls;
      made.emplace_back(config);
    }
    return made;
  }();
  SeamPeer::Instance().Use(scanners.at(readyAfterPolls));
  return scanners.at(readyAfterPolls).image().reconstruction;
}

void AddFaults(FuzzInput &input) {
  for (int count = 0; count < 8 && !input.Empty(); ++count) {
    emu::Fault fault;
    fault.kind = static_cast<emu::FaultKind>(input.Below(12));
    const emu::Command command = kCommands[input.Below(std::size(kCommands))];
    const unsigned part = input.Below(13);
    fault.target = command == emu::Command::kImagePart && part < 12
                       ? emu::OnPart(static_cast<std::uint8_t>(part), input.Below(3))
                       : emu::On(command, input.Below(3));
    fault.value = input.Word();
    // A declined part whose valid flag still says 1 carries no pixels: no
    // reader could tell it from a real part, and the image check would not
    // hold. Such a scanner lies; it does not break the protocol.
    const bool declines = fault.kind == emu::FaultKind::kRefuseKey ||
                          fault.kind == emu::FaultKind::kWrongStatusEcho ||
                          fault.kind == emu::FaultKind::kInvalidImagePart;
    if (declines && command == emu::Command::kImagePart && fault.value == 1) {
      fault.value = 0;
    }
    fault.key.fill(static_cast<std::uint8_t>(fault.value));
    SeamPeer::Instance().InjectFault(fault);  // out-of-range values are refused
  }
}

struct Session {
  vfw::DeviceModule &module;
  const emu::Image &expected;
  const VDeviceManagerInterface &slots = *module.Interface();
  HVDevice hDevice = nullptr;
  bool deviceGone = false;
  Interrupt interrupt = Interrupt::kNone;
  std::uint64_t interruptAt = 0;
  CallbackAction action = CallbackAction::kGoOn;
  unsigned actionAt = 0;
  unsigned callbacks = 0;
  std::thread stopper{};
  std::atomic<bool> stopperDone{false};
};

VResult V_CALL OnCapture(HVDevice, HVObject, HVImage *, VInt32, VBiometricStatus *pStatus, void *pParam) {
  auto *session = static_cast<Session *>(pParam);
  // A scanner that never gets ready is polled for ever: the host gives up.
  if (session->callbacks > kMostCallbacks) {
    return VErrorSetLastW(V_E_TIMEOUT, L"The host gave up waiting", nullptr, nullptr, nullptr, nullptr);
  }
  const bool acts = session->callbacks++ == session->actionAt;
  if (acts && session->action == CallbackAction::kFail) {
    return VErrorSetLastW(V_E_FAILED, L"Refused by the host", nullptr, nullptr, nullptr, nullptr);
  }
  if (acts && session->action == CallbackAction::kFinal) {
    *pStatus = V_BIOMETRIC_STATUS_NO_IMAGE;
  }
  return V_OK;
}

// From another thread, at the chosen transport call: the stopper runs until
// it parks on the capture's end (or is done), so the capture goes on with
// the stop request already set, the same way on every run.
void StartStopper(Session &session) {
  const VInt64 parkedBefore = VTestGetBlockedWaitCount();
  session.stopper = std::thread([&session] {
    if (session.interrupt == Interrupt::kCancel) {
      (void)session.slots.pCancel(session.hDevice, &session);
    } else if (session.interrupt == Interrupt::kRemove) {
      session.deviceGone = VSucceeded(session.slots.pRemoveDevice(session.hDevice, nullptr));
    } else {
      (void)session.module.Unplug();
      session.deviceGone = true;
    }
    session.stopperDone = true;
  });
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!session.stopperDone && VTestGetBlockedWaitCount() == parkedBefore &&
         std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::yield();
  }
}

void Capture(Session &session, vfw::Handle &captureObject) {
  SeamPeer &peer = SeamPeer::Instance();
  if (session.interrupt != Interrupt::kNone) {
    peer.SetCallHook([&session](std::uint64_t call) {
      if (call == session.interruptAt && !session.stopper.joinable()) {
        StartStopper(session);
      }
    });
  }
  HVImage images[1] = {nullptr};
  VInt32 imageCount = 0;
  VBiometricStatus status = -1;
  const VResult result =
      session.slots.pCapture(session.hDevice, captureObject.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE,
                             nullptr, nullptr, nullptr, images, 1, &imageCount, &status, OnCapture, &session);
  peer.SetCallHook(nullptr);
  if (session.stopper.joinable()) {
    session.stopper.join();
  }
  ExpectRecorded(result);
  vfw::Handle image(images[0]);
  // An image goes out exactly with status OK: a stopped capture hands out
  // none, even when the stop came after the last part.
  Expect(VFailed(result) || (status == V_BIOMETRIC_STATUS_OK) == (image.get() != nullptr),
         "an image without status OK, or none with it");
  if (VSucceeded(result) && image.get() != nullptr) {
    void *pPixels = nullptr;
    Expect(VSucceeded(VImageGetPixelsPtr(image.get(), &pPixels)), "no pixels");
    Expect(std::equal(session.expected.begin(), session.expected.end(),
                      static_cast<const std::uint8_t *>(pPixels)),
           "a capture handed out a wrong image");
  }
}

void RunSession(Session &session, bool captureTwice, bool leaveForUnplug) {
  vfw::Handle captureObject, bag;
  Expect(VSucceeded(VPropertyBagCreate(captureObject.put())) && VSucceeded(VPropertyBagCreate(bag.put())),
         "no property bag");
  VPropertyBagSetStringW(bag.get(), L"DisplayName", L"Scanner");
  VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", L"00:11:22:33:44:55");
  const VResult created = session.slots.pCreateDevice(bag.get(), &session.hDevice, nullptr);
  ExpectRecorded(created);
  if (VFailed(created)) {
    return;
  }
  for (VDeviceManagerGetStringProc read :
       {session.slots.pGetId, session.slots.pGetDisplayName, session.slots.pGetMake, session.slots.pGetModel,
        session.slots.pGetSerialNumber}) {
    vfw::Handle value;
    ExpectRecorded(read(session.hDevice, reinterpret_cast<HVString *>(value.put())));
  }
  Capture(session, captureObject);
  if (!session.deviceGone && captureTwice) {
    session.interrupt = Interrupt::kNone;
    session.callbacks = 0;
    Capture(session, captureObject);
  }
  if (!session.deviceGone && !leaveForUnplug) {
    ExpectRecorded(session.slots.pRemoveDevice(session.hDevice, nullptr));
  }
}

// The module, linked into this program, registers itself at start-up; the
// device manager takes it from the program itself, so that the module uses
// the seam this target fills. A first session makes what the module keeps
// for good (parameter descriptors, object types) before any footprint.
vfw::DeviceModule &Module() {
  static vfw::DeviceModule *module = [] {
    std::unique_ptr<vfw::DeviceModule> loaded;
    Expect(VSucceeded(vfw::DeviceModule::Load("", "VdmBlueFinModuleOf", &loaded)), "the module did not load");
    Expect(VSucceeded(loaded->Init()), "the module did not initialise");
    VTestSetSleepHook([](VInt32, void *) {}, nullptr);
    Session warmUp{*loaded, ConfigureScanner(0)};
    Expect(VSucceeded(loaded->Plug()), "the module did not plug");
    RunSession(warmUp, false, false);
    Expect(VSucceeded(loaded->Unplug()), "unplug failed");
    return loaded.release();
  }();
  return *module;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const unsigned flags = input.Byte();
  vfw::DeviceModule &module = Module();
  Session session{module, ConfigureScanner(flags & 3)};
  session.interrupt = static_cast<Interrupt>(input.Below(4));
  session.interruptAt = input.Word() % 160;
  const unsigned callback = input.Byte();
  session.action = static_cast<CallbackAction>(callback >> 4 & 3);
  session.actionAt = callback & 7;

  SeamPeer &peer = SeamPeer::Instance();
  peer.Behave({.connectFails = (flags & 0xC0) == 0xC0});
  AddFaults(input);
  module.ClearEvents();
  // Taken unplugged: plugging makes the device list, unplugging frees it.
  const Footprint before;
  Expect(VSucceeded(module.Plug()), "the module did not plug");
  RunSession(session, (flags & 0x10) != 0, (flags & 0x20) != 0);
  // An unplug frees every device even when a scanner cannot be given its
  // key back; it reports that failure all the same.
  if (module.IsPlugged()) {
    ExpectRecorded(module.Unplug());
  }
  Expect(peer.OpenSockets() == 0, "a device left its socket open");
  Expect(Footprint{} == before, "the session left host objects behind");
  return 0;
}
