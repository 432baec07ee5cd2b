// The emulated-link module loaded as a host loads it, with a leak check at
// the end; devices on scanner emulators, captures driven from their
// callback with a stopper started at a chosen report; several devices at
// once for seeded sessions.
#ifndef TESTS_MODULE_DEVICE_FIXTURE_H
#define TESTS_MODULE_DEVICE_FIXTURE_H

#include <gtest/gtest.h>
#include <v_devices.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/emulator.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "tests/emulator/unique_address.h"
#include "tests/host_footprint.h"

namespace vdm::test {

inline constexpr char kModuleOf[] = "VdmBlueFinModuleOf";
inline constexpr wchar_t kOpeningExchangeFailed[] = L"The scanner did not complete the opening exchange";

class ModuleTest : public ::testing::Test {
 public:
  void SetUp() override {
    VTestClearFailures();
    baseline_ = HostFootprint{};
  }

  void TearDown() override {
    VTestClearFailures();
    module_.reset();
    EXPECT_EQ(HostFootprint{}, baseline_) << "the module left host objects behind";
  }

  VResult Load() { return vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, kModuleOf, &module_); }

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

inline bool IsRefusal(VResult result) {
  return result == V_E_ARGUMENT || result == V_E_INVALID_OPERATION;
}

inline VResult V_CALL NoReport(HVDevice, HVObject, HVImage *, VInt32, VBiometricStatus *, void *) {
  return V_OK;
}

namespace emu = bluefin::emu;

inline constexpr std::uint8_t kEcho = 0x01, kIdentity = 0x03, kSetKey = 0x05, kGetStatus = 0x09,
                              kSetStatus = 0x0C, kImagePart = 0x11;

inline std::vector<std::uint8_t> Codes(const std::vector<emu::TranscriptEntry> &transcript) {
  std::vector<std::uint8_t> codes(transcript.size());
  std::ranges::transform(transcript, codes.begin(), &emu::TranscriptEntry::code);
  return codes;
}

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
  VResult result = V_OK;
  VResult stopResult = V_OK;
  VBiometricStatus status = -1;
  // The capture's status as the stopper found it when the stop returned: a
  // stop that waited for the capture's end sees its final status.
  VBiometricStatus statusWhenStopped = -1;
  bool written = false;                                    // the capture wrote its image slot
  HVImage handle = nullptr;                                // the image handed over, until collected
  std::optional<emu::Image> image;                         // its pixels, once collected
  std::vector<std::pair<VBiometricStatus, bool>> reports;  // each with whether it brought a part
  std::vector<VInt32> sleeps;                              // between polls, in milliseconds
  int polls = 0;
  int parts = 0;

  // Copies the pixels and releases the image; call with no failure armed.
  void Collect() {
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
};

// Where a step on the module's way waits until the test has acted: the
// first arrival tells the test and every arrival waits until opened. The
// code names the step, for those that tell steps apart.
struct Gate {
  void Reach() {
    std::call_once(reachedOnce, [this] { reached.set_value(); });
    opened.wait();
  }

  const std::uint8_t code = 0;
  std::promise<void> reached{};
  std::promise<void> open{};
  std::shared_future<void> opened = open.get_future().share();
  std::once_flag reachedOnce{};
};

namespace detail {

struct CaptureContext {
  HVDevice device;
  HVObject captureObject;
  std::function<VResult()> stop;
  StopPlan plan;
  ReportAction action;
  CaptureRun *run;
  std::thread stopper;
  std::atomic<bool> stopperRunning{false};
  std::atomic<bool> stopperDone{false};
};

// Until the stopper is parked on the capture's end or has given up. A
// stopper whose host wait failed waits for the capture without the host,
// where no counter sees it: that case is let go after a while, counted
// from when the stopper runs, since on a loaded machine a new thread may
// wait long for a core.
inline void AwaitStopper(const CaptureContext &context) {
  while (!context.stopperRunning.load()) {
    std::this_thread::yield();
  }
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (VTestGetBlockedWaitCount() == 0 && !context.stopperDone.load() &&
         std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::yield();
  }
}

// The capture running on this thread, for the sleep hook.
inline thread_local CaptureContext *currentCapture = nullptr;

inline void ArriveAt(CaptureContext *context, ReportKind kind, int count) {
  const StopPlan &plan = context->plan;
  if (plan.kind == StopKind::kNone || kind != plan.on || count != plan.at || context->stopper.joinable() ||
      context->stopperDone.load()) {
    return;
  }
  const auto stop = [context] {
    context->stopperRunning.store(true);
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

inline VResult V_CALL OnReport(HVDevice hDevice, HVObject hCaptureObject, HVImage *arhImages,
                               VInt32 imageCount, VBiometricStatus *pStatus, void *pParam) {
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

inline void V_CALL OnSleep(VInt32 milliseconds, void *) {
  if (currentCapture) {
    currentCapture->run->sleeps.push_back(milliseconds);
    ArriveAt(currentCapture, ReportKind::kSleep, static_cast<int>(currentCapture->run->sleeps.size()));
  }
}

}  // namespace detail

class DeviceTest : public ModuleTest {
 public:
  void SetUp() override {
    ModuleTest::SetUp();
    VTestSetSleepHook(detail::OnSleep, nullptr);
    LoadAndPlug();
    ASSERT_EQ(VPropertyBagCreate(captureObject_.put()), V_OK);
  }

  void TearDown() override {
    VTestClearFailures();
    captureObject_.reset();
    // Unplugging gives every scanner its default key back, so the scanners
    // go after the module.
    module_.reset();
    emulators_.clear();
    VTestSetSleepHook(nullptr, nullptr);
    ModuleTest::TearDown();
  }

  static std::string AddressOf(const emu::Emulator &scanner) {
    const std::string name = scanner.ListenName();
    return name.substr(name.find('/') + 1, 17);
  }

  static emu::Options ReadyAfter(unsigned polls) {
    emu::Options options;
    options.readyAfterPolls = polls;
    return options;
  }

  // On an address no other test process uses at the same time: abstract
  // socket names are shared by the whole machine.
  emu::Emulator &StartScanner(emu::Options options = {}) {
    options.address = emu::test::UniqueAddress();
    auto &scanner = emulators_.emplace_back(options);
    std::string error;
    EXPECT_TRUE(scanner.Start(&error)) << error;
    return scanner;
  }

  // Slot 39 with the scanner's address and the display name; a null one
  // leaves it out.
  VResult Create(const emu::Emulator *scanner, HVDevice *phDevice, const wchar_t *displayName = L"Scanner",
                 void *hostParam = nullptr) {
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

  HVDevice CreateOn(const emu::Emulator &scanner, const wchar_t *displayName = L"Scanner") {
    HVDevice hDevice = nullptr;
    const VResult result = Create(&scanner, &hDevice, displayName);
    EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    return hDevice;
  }

  std::wstring Property(VDeviceManagerGetStringProc slot, HVDevice hDevice) {
    vfw::Handle value;
    const VResult result = slot(hDevice, value.put());
    EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    return vfw::ToWString(value.get());
  }

  // Reads three properties of each device, each read or refused (the device
  // may be gone meanwhile), never a crash or a hang; gives the count.
  int ReadEach(std::span<const HVDevice> devices) {
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

  VResult Stop(StopKind kind, HVDevice hDevice, void *captureParam) {
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

  // Captures on hDevice with the fixture's capture object unless given one;
  // several threads capture at once each with its own.
  CaptureRun Capture(HVDevice hDevice, const StopPlan &plan = {}, HVObject hCaptureObject = nullptr,
                     ReportAction action = nullptr) {
    CaptureRun run;
    const HVObject captureObject = hCaptureObject ? hCaptureObject : captureObject_.get();
    detail::CaptureContext context{hDevice, captureObject, {}, plan, std::move(action), &run, {}, {}};
    context.stop = [this, &plan, hDevice, &context] { return Stop(plan.kind, hDevice, &context); };
    detail::CaptureContext *const outer =
        std::exchange(detail::currentCapture, &context);  // a capture from a callback
    // A slot the capture must leave alone unless it succeeds.
    const HVImage unwritten = reinterpret_cast<HVImage>(&context);
    HVImage images[1] = {unwritten};
    VInt32 imageCount = 0;
    {
      std::lock_guard lock(paramsMutex_);
      params_[hDevice] = &context;
    }
    run.result =
        Slots().pCapture(hDevice, captureObject, nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr, nullptr,
                         nullptr, images, 1, &imageCount, &run.status, detail::OnReport, &context);
    detail::currentCapture = outer;
    if (context.stopper.joinable()) {
      context.stopper.join();
    }
    run.written = images[0] != unwritten;
    if (run.written) {
      run.handle = images[0];
    }
    return run;
  }

  // The parameter that names the latest capture on hDevice for a cancel.
  void *ParamOf(HVDevice hDevice) {
    std::lock_guard lock(paramsMutex_);
    return params_[hDevice];
  }

  std::list<emu::Emulator> emulators_;  // stable addresses
  vfw::Handle captureObject_;
  std::mutex paramsMutex_;
  std::map<HVDevice, void *> params_;
};

// A deadlock fails the suite instead of hanging it: the watchdog aborts the
// process, naming what did not end, when a watched step outlives its limit.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(60)) : limit_(limit) {}

  // Starts the time of the next step; what names it in the abort message.
  void Begin(std::string what) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what);
    ++step_;
    changed_.notify_all();
  }

 private:
  void Watch(const std::stop_token &stop) {
    std::unique_lock lock(mutex_);
    for (std::uint64_t step = step_; !stop.stop_requested(); step = step_) {
      if (!changed_.wait_for(lock, stop, limit_, [&] { return step_ != step; }) && !stop.stop_requested()) {
        std::fprintf(stderr, "watchdog: %s did not end in %lld s: deadlock\n", what_.c_str(),
                     static_cast<long long>(limit_.count()));
        std::abort();  // stderr is unbuffered
      }
    }
  }

  const std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::string what_ = "the test";
  std::uint64_t step_ = 0;
  std::jthread thread_{[this](std::stop_token stop) { Watch(stop); }};  // last: the rest is ready
};

// Devices on scanners whose image is ready at the third poll, each with a
// capture object of its own, for seeded sessions of captures and stops.
class SeveralDevicesTest : public DeviceTest {
 protected:
  static constexpr int kDevices = 3;
  static constexpr unsigned kReadyAfterPolls = 2;

  void SetUp() override {
    DeviceTest::SetUp();
    emu::Options options = ReadyAfter(kReadyAfterPolls);
    options.image = emu::Emulator().ExpectedImage();  // drawn once for all
    for (int d = 0; d < kDevices; ++d) {
      options.observer = [this, d](const emu::EmulatorEvent &event) {
        if (event.kind == emu::EmulatorEvent::Kind::kCommand) {
          OnCommand(d, event.command->code);
        }
      };
      scanners_[d] = &StartScanner(options);
      devices_[d] = CreateOn(*scanners_[d]);
      ASSERT_EQ(VPropertyBagCreate(captureObjects_[d].put()), V_OK);
    }
  }

  void TearDown() override {
    captureObjects_ = {};
    DeviceTest::TearDown();
  }

  // On the scanner's thread when a command reaches scanner d, before its
  // answer goes out.
  virtual void OnCommand(int /*d*/, std::uint8_t /*code*/) {}

  static int Pick(std::mt19937 &random, int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(random);
  }

  // Runs `session` with each seed in turn under a watchdog, until a
  // failure: VDM_<name>_SEED sets the first seed, VDM_<name>_ITERATIONS the
  // count, which it gives.
  int Seeded(const std::string &name, const std::function<void(std::mt19937 &)> &session) {
    const auto number = [&name](const char *what, int fallback) {
      const char *text = std::getenv(("VDM_" + name + what).c_str());
      return text ? std::atoi(text) : fallback;
    };
    const int iterations = number("_ITERATIONS", 1000);
    const auto firstSeed = static_cast<unsigned>(number("_SEED", 1));
    Watchdog watchdog;
    for (int i = 0; i < iterations && !HasFailure(); ++i) {
      const unsigned seed = firstSeed + static_cast<unsigned>(i);
      SCOPED_TRACE(testing::Message() << "seed " << seed);
      watchdog.Begin(name + " session with seed " + std::to_string(seed));
      std::mt19937 random(seed);
      session(random);
    }
    return iterations;
  }

  // A capture on every device at once, each on a thread of its own.
  std::array<CaptureRun, kDevices> CaptureOnAll(
      const std::array<StopPlan, kDevices> &plans,
      const std::function<ReportAction(int d)> &actionOf = nullptr) {
    std::array<CaptureRun, kDevices> runs;
    std::vector<std::thread> threads;
    for (int d = 0; d < kDevices; ++d) {
      threads.emplace_back([&, d] {
        runs[d] = Capture(devices_[d], plans[d], captureObjects_[d].get(), actionOf ? actionOf(d) : nullptr);
      });
    }
    for (std::thread &thread : threads) {
      thread.join();
    }
    return runs;
  }

  // Checks and counts a run as refused (a capture that never polled, ended
  // with a result `refusal` accepts), stopped or completed.
  void Tally(CaptureRun &run, const StopPlan &plan, int d, bool (*refusal)(VResult)) {
    SCOPED_TRACE(testing::Message() << "device " << d);
    run.Collect();
    EXPECT_EQ(run.stopResult, V_OK);
    // A stopper that waited returned once the capture's outcome was stored;
    // one on the capture's own thread ran before it was.
    if (plan.kind != StopKind::kNone && !plan.fromCallback && run.statusWhenStopped != -1) {
      EXPECT_EQ(run.statusWhenStopped, run.status);
    }
    if (refusal && refusal(run.result) && run.polls == 0) {
      ++refused_;  // began after its device was removed or unplugged
    } else if (run.status == V_BIOMETRIC_STATUS_CANCELED) {
      EXPECT_EQ(run.result, V_OK);
      EXPECT_FALSE(run.image.has_value());
      ++stopped_;
    } else {
      EXPECT_EQ(run.result, V_OK);
      EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
      EXPECT_TRUE(run.image == scanners_[d]->ExpectedImage());
      ++completed_;
    }
  }

  // Every device open again on a plugged module, each scanner on its
  // default key: what the next session starts from.
  void Restore(bool plugged) {
    if (!plugged) {
      ASSERT_EQ(module_->Plug(), V_OK);
    }
    for (int d = 0; d < kDevices; ++d) {
      // A closed device's handle may name a newer device's record at the
      // same address: only a handle no other entry has is still its own.
      const auto same = std::count(devices_.begin(), devices_.end(), devices_[d]);
      HVString id = nullptr;
      if (same == 1 && Slots().pGetId(devices_[d], &id) == V_OK) {
        VObjectUnref(id);
        continue;
      }
      EXPECT_EQ(scanners_[d]->CurrentKey(), emu::kDefaultKey) << "device " << d;
      devices_[d] = CreateOn(*scanners_[d]);
    }
  }

  std::array<emu::Emulator *, kDevices> scanners_{};
  std::array<HVDevice, kDevices> devices_{};
  std::array<vfw::Handle, kDevices> captureObjects_;
  int stopped_ = 0, completed_ = 0, refused_ = 0;
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_DEVICE_FIXTURE_H
