// The module driven as real hosts drive it, in seeded random sessions of
// the four kinds below, under a watchdog and the fixture's leak check.
// VDM_PATTERN_SEED sets the first seed and VDM_PATTERN_ITERATIONS the count.
#include <iostream>

#include "device_fixture.h"

namespace vdm::test {
namespace {

class HostPatternsTest : public SeveralDevicesTest {
 public:
  // A gate on a command holds the scanner's answer; it closes once reached.
  void OnCommand(int d, std::uint8_t code) override {
    Gate *gate = gates_[d].load();
    if (gate && gate->code == code && gates_[d].compare_exchange_strong(gate, nullptr)) {
      gate->Reach();
    }
  }

  void CapturesWithStops(std::mt19937 &random);
  void CreationRacingUnplug(std::mt19937 &random);
  void UninitAfterScannersStopped(std::mt19937 &random);
  void NullAndGarbageArguments(std::mt19937 &random);

  std::array<std::atomic<Gate *>, kDevices> gates_{};
  std::atomic<int> reads_{0};
};

// Captures on every device at once. Each callback reads properties of all
// devices; each capture is stopped by another thread or from inside its own
// callback, or stops another device's capture from there.
void HostPatternsTest::CapturesWithStops(std::mt19937 &random) {
  const StopKind kinds[] = {StopKind::kNone, StopKind::kCancel, StopKind::kRemove, StopKind::kUnplug};
  const ReportKind reports[] = {ReportKind::kPoll, ReportKind::kSleep, ReportKind::kPart};
  std::array<StopPlan, kDevices> plans;
  std::array<int, kDevices> crossAt{};  // report at which a callback cancels the next device's capture
  for (int d = 0; d < kDevices; ++d) {
    StopPlan &plan = plans[d];
    plan.kind = kinds[std::discrete_distribution<int>({3, 3, 3, 1})(random)];
    plan.on = reports[Pick(random, 3)];
    plan.at = 1 + Pick(random, plan.on == ReportKind::kPart ? 12 : static_cast<int>(kReadyAfterPolls));
    plan.spins = Pick(random, 3) == 0 ? -1 : Pick(random, 20000);
    plan.fromCallback = Pick(random, 3) == 0;
    crossAt[d] = Pick(random, 3) == 0 ? 1 + Pick(random, 6) : 0;
  }
  // One unplug stops every capture; the other devices then have no stopper
  // of their own, which would find them gone.
  const auto unplugger = std::ranges::find(plans, StopKind::kUnplug, &StopPlan::kind);
  const bool unplugs = unplugger != plans.end();
  for (StopPlan &plan : plans) {
    plan.kind = unplugs && &plan != &*unplugger ? StopKind::kNone : plan.kind;
  }
  std::array<CaptureRun, kDevices> runs = CaptureOnAll(plans, [&](int d) -> ReportAction {
    return [&, d, count = 0](VBiometricStatus *, HVImage) mutable {
      reads_ += ReadEach(devices_);
      if (crossAt[d] != 0 && ++count == crossAt[d]) {
        const HVDevice next = devices_[(d + 1) % kDevices];
        const VResult result = Slots().pCancel(next, ParamOf(next));
        EXPECT_TRUE(result == V_OK || IsRefusal(result)) << result;
      }
      return V_OK;
    };
  });
  for (int d = 0; d < kDevices; ++d) {
    Tally(runs[d], plans[d], d, IsRefusal);
  }
  Restore(!unplugs);
}

// A creation held at one step of its opening (or while the host is told of
// it), the module unplugged or uninitialised meanwhile; or a free race. The
// creation never hands out a closed device, and the scanner gets its
// default key back.
void HostPatternsTest::CreationRacingUnplug(std::mt19937 &random) {
  const int d = Pick(random, kDevices);
  ASSERT_EQ(Slots().pRemoveDevice(devices_[d], nullptr), V_OK);
  module_->ClearEvents();
  // Echo, identity, key, status, the host's notification, or no hold.
  const std::uint8_t steps[] = {kEcho, kIdentity, kSetKey, kSetStatus, 0xFF, 0};
  const std::uint8_t step = steps[Pick(random, 6)];
  Gate gate{step};
  std::future<void> arrived = gate.reached.get_future();
  if (step == 0xFF) {
    module_->SetCallbackAction(vfw::DeviceModule::Event::kAdded, [&](const vfw::DeviceModule::Event &) {
      gate.Reach();
      return V_OK;
    });
  } else if (step != 0) {
    gates_[d].store(&gate);
  }
  HVDevice hDevice = nullptr;
  std::atomic<bool> done{false};
  VResult created = V_OK;
  std::wstring message;
  std::thread creator([&] {
    created = Create(scanners_[d], &hDevice);
    message = vfw::GetLastError().message;
    done.store(true);
  });
  bool held = false;
  if (step != 0) {
    // Until the step is reached, or the creation ended before it got there.
    while (arrived.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready && !done.load()) {
    }
    held = arrived.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    EXPECT_TRUE(held || step != 0xFF) << "the creation failed before the host was told";
  } else {
    const int spins = Pick(random, 200000);
    for (int i = 0; i < spins; ++i) {
      std::atomic_signal_fence(std::memory_order_seq_cst);
    }
  }
  // The host unplugs, or shuts the module down altogether.
  const bool uninit = Pick(random, 3) == 0;
  EXPECT_EQ(uninit ? module_->Uninit() : module_->Unplug(), V_OK);
  gate.open.set_value();
  creator.join();
  gates_[d].store(nullptr);
  module_->SetCallbackAction(vfw::DeviceModule::Event::kAdded, nullptr);
  if (held) {
    EXPECT_EQ(created, V_E_INVALID_OPERATION);
    EXPECT_EQ(message, L"VdmBlueFin is not plugged");
    EXPECT_EQ(hDevice, nullptr);
    // The host heard of the device only when it was held in the telling.
    EXPECT_EQ(module_->Events().size(), step == 0xFF ? 1u : 0u);
  } else {
    EXPECT_TRUE(created == V_OK || created == V_E_INVALID_OPERATION) << created;
  }
  EXPECT_EQ(scanners_[d]->CurrentKey(), emu::kDefaultKey);
  if (uninit) {
    ASSERT_EQ(module_->Init(), V_OK);
  }
  Restore(false);
}

// Scanners switched off or cut off mid-answer before the host exits: the
// host's uninit still ends with the module unplugged and uninitialised.
void HostPatternsTest::UninitAfterScannersStopped(std::mt19937 &random) {
  std::array<bool, kDevices> off{};
  for (int d = 0; d < kDevices; ++d) {
    const int way = Pick(random, 3);  // switched off, cut off, or answering
    if (way == 0) {
      scanners_[d]->Stop();
    } else if (way == 1) {
      scanners_[d]->InjectFault(emu::Fault::CloseMidFrame(emu::On(emu::Command::kSetKey), Pick(random, 30)));
    }
    off[d] = way < 2;
  }
  EXPECT_EQ(module_->Uninit(), V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  EXPECT_FALSE(module_->IsPlugged());
  EXPECT_FALSE(module_->IsInitialised());
  for (int d = 0; d < kDevices; ++d) {
    if (off[d]) {
      scanners_[d]->ClearFaults();
      scanners_[d]->ResetState();  // the power cycle a stranded scanner needs
      if (!scanners_[d]->Running()) {
        std::string error;
        ASSERT_TRUE(scanners_[d]->Start(&error)) << error;
      }
    } else {
      EXPECT_EQ(scanners_[d]->CurrentKey(), emu::kDefaultKey) << "device " << d;
    }
  }
  ASSERT_EQ(module_->Init(), V_OK);
  Restore(false);
}

// Every slot with null out-arguments and device handles the module never
// gave out (a removed one among them): refused with a code, never a crash.
void HostPatternsTest::NullAndGarbageArguments(std::mt19937 &random) {
  int onStack = 0;
  const int removed = Pick(random, kDevices);
  const HVDevice gone = devices_[removed];
  ASSERT_EQ(Slots().pRemoveDevice(gone, nullptr), V_OK);
  const HVDevice garbage[] = {gone, &onStack,
                              reinterpret_cast<HVDevice>(static_cast<std::uintptr_t>(random())),
                              captureObjects_[0].get()};
  const HVDevice live = devices_[(removed + 1) % kDevices];

  EXPECT_EQ(Slots().pGetDeviceTypes(nullptr), V_E_ARGUMENT_NULL);
  EXPECT_EQ(Slots().pGetDeviceCreationSupport(nullptr), V_E_ARGUMENT_NULL);
  EXPECT_EQ(Slots().pGetDeviceType(garbage[1], nullptr), V_E_ARGUMENT_NULL);
  VInt32 count = 0;
  HVParameterDescriptor *descriptors = nullptr;
  EXPECT_EQ(Slots().pGetParameters(nullptr, &count), V_E_ARGUMENT_NULL);
  EXPECT_EQ(Slots().pGetParameters(&descriptors, nullptr), V_E_ARGUMENT_NULL);
  EXPECT_EQ(Slots().pCreateDevice(nullptr, nullptr, nullptr), V_E_ARGUMENT_NULL);
  for (auto slot : {Slots().pGetId, Slots().pGetDisplayName, Slots().pGetMake, Slots().pGetModel,
                    Slots().pGetSerialNumber}) {
    EXPECT_TRUE(VFailed(slot(live, nullptr)));
    EXPECT_TRUE(VFailed(slot(nullptr, nullptr)));
    for (HVDevice hDevice : garbage) {
      HVString value = nullptr;
      const VResult result = slot(hDevice, &value);
      EXPECT_TRUE(slot == Slots().pGetMake ? result == V_OK : result == V_E_ARGUMENT) << result;
      VObjectUnref(value);
    }
  }
  VBiometricStatus status = 0;
  HVImage images[1] = {};
  for (HVDevice hDevice : garbage) {
    EXPECT_EQ(Slots().pCancel(hDevice, nullptr), V_E_ARGUMENT);
    EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_E_ARGUMENT);
    EXPECT_EQ(Slots().pCapture(hDevice, nullptr, nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr, nullptr,
                               nullptr, images, 1, &count, &status, NoReport, nullptr),
              V_E_ARGUMENT);
  }
  EXPECT_EQ(Slots().pCancel(nullptr, nullptr), V_E_ARGUMENT_NULL);
  EXPECT_EQ(Slots().pRemoveDevice(nullptr, nullptr), V_E_ARGUMENT_NULL);
  Restore(true);
}

TEST_F(HostPatternsTest, SeededHostSessions) {
  std::array<int, 4> sessions{};
  const int iterations = Seeded("PATTERN", [&](std::mt19937 &random) {
    constexpr void (HostPatternsTest::*kSessions[])(std::mt19937 &) = {
        &HostPatternsTest::CapturesWithStops, &HostPatternsTest::CreationRacingUnplug,
        &HostPatternsTest::UninitAfterScannersStopped, &HostPatternsTest::NullAndGarbageArguments};
    // Mostly captures: they are where the threads meet.
    const int kind = std::discrete_distribution<int>({12, 4, 1, 1})(random);
    ++sessions[kind];
    (this->*kSessions[kind])(random);
  });
  std::cout << "host patterns: " << iterations << " sessions (" << sessions[0] << " capturing, "
            << sessions[1] << " creating against an unplug or uninit, " << sessions[2]
            << " uninit after dead scanners, " << sessions[3] << " garbage arguments); captures " << stopped_
            << " stopped, " << completed_ << " completed, " << refused_ << " refused; " << reads_.load()
            << " property reads from callbacks\n";
}

}  // namespace
}  // namespace vdm::test
