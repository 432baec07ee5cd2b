// Cancel, removal and unplug from other threads, racing captures on several
// devices at every step (each poll, each sleep, each part, the final
// status) while another thread reads properties. Seeded, so a failing
// iteration can be replayed: VDM_RACE_SEED sets the first seed and
// VDM_RACE_ITERATIONS the count.
#include <cstdlib>
#include <iostream>
#include <random>

#include "device_fixture.h"
#include "watchdog.h"

namespace vdm::test {
namespace {

constexpr int kDevices = 3;
constexpr int kDefaultIterations = 1000;
constexpr unsigned kReadyAfterPolls = 2;  // polls 1 and 2 wait, 3 is ready

int EnvironmentNumber(const char *name, int fallback) {
  const char *text = std::getenv(name);
  return text ? std::atoi(text) : fallback;
}

class StopRaceTest : public DeviceTest {
 protected:
  // Reads every device's properties until told to stop; a device removed
  // or unplugged meanwhile is refused, never read.
  void ReadProperties(const std::atomic<bool> &stop, int *reads) {
    while (!stop.load()) {
      for (HVDevice hDevice : devices_) {
        for (auto slot : {Slots().pGetId, Slots().pGetDisplayName, Slots().pGetSerialNumber}) {
          HVString value = nullptr;
          const VResult result = slot(hDevice, &value);
          EXPECT_TRUE(result == V_OK || result == V_E_ARGUMENT || result == V_E_INVALID_OPERATION) << result;
          VObjectUnref(value);
          ++*reads;
        }
      }
      std::this_thread::yield();  // two cores: leave the captures room
    }
  }

  std::array<emu::Emulator *, kDevices> scanners_{};
  std::array<HVDevice, kDevices> devices_{};
};

TEST_F(StopRaceTest, StopsRaceCapturesOnSeveralDevices) {
  const int iterations = EnvironmentNumber("VDM_RACE_ITERATIONS", kDefaultIterations);
  const unsigned firstSeed = static_cast<unsigned>(EnvironmentNumber("VDM_RACE_SEED", 1));
  emu::Options options;
  options.readyAfterPolls = kReadyAfterPolls;
  options.image = emu::Emulator().ExpectedImage();
  std::array<vfw::Handle, kDevices> captureObjects;
  for (int d = 0; d < kDevices; ++d) {
    scanners_[d] = &StartScanner(options);
    devices_[d] = CreateOn(*scanners_[d]);
    ASSERT_EQ(VPropertyBagCreate(captureObjects[d].put()), V_OK);
  }

  // Every step of a capture a stop can land at: three polls, the two sleeps
  // between them, twelve parts, and after the last part the final status.
  std::vector<StopPlan> steps;
  const int ready = static_cast<int>(kReadyAfterPolls);
  for (const auto &[on, count] :
       {std::pair{ReportKind::kPoll, ready + 1}, std::pair{ReportKind::kSleep, ready},
        std::pair{ReportKind::kPart, static_cast<int>(emu::kImageParts)}}) {
    for (int at = 1; at <= count; ++at) {
      steps.push_back({StopKind::kNone, on, at});
    }
  }

  Watchdog watchdog;
  int stopped = 0, completed = 0, refused = 0, reads = 0;
  for (int i = 0; i < iterations; ++i) {
    const unsigned seed = firstSeed + static_cast<unsigned>(i);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    watchdog.Begin("stop race iteration with seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };

    // One unplug for all devices, or a cancel or removal on each.
    const bool unplug = pick(4) == 0;
    const int unplugger = pick(kDevices);
    std::array<StopPlan, kDevices> plans;
    for (int d = 0; d < kDevices; ++d) {
      plans[d] = steps[pick(static_cast<int>(steps.size()))];
      plans[d].kind = pick(2) == 0 ? StopKind::kCancel : StopKind::kRemove;
      if (unplug) {
        plans[d].kind = d == unplugger ? StopKind::kUnplug : StopKind::kNone;
      }
      plans[d].spins = pick(20000);
    }

    std::array<CaptureRun, kDevices> runs;
    std::atomic<bool> readersStop{false};
    std::thread reader([&] { ReadProperties(readersStop, &reads); });
    std::vector<std::thread> captures;
    for (int d = 0; d < kDevices; ++d) {
      captures.emplace_back([&, d] { runs[d] = Capture(devices_[d], plans[d], captureObjects[d].get()); });
    }
    for (std::thread &capture : captures) {
      capture.join();
    }
    readersStop.store(true);
    reader.join();

    for (int d = 0; d < kDevices; ++d) {
      CaptureRun &run = runs[d];
      run.Collect();
      // The capture ended with its image or stopped, and the stopper
      // returned once the capture's outcome was stored.
      EXPECT_EQ(run.stopResult, V_OK) << "device " << d;
      if (plans[d].kind != StopKind::kNone && run.statusWhenStopped != -1) {
        EXPECT_EQ(run.statusWhenStopped, run.status) << "device " << d;
      }
      if (unplug && run.result == V_E_INVALID_OPERATION && run.polls == 0) {
        ++refused;  // began after the unplug: refused, never started
      } else if (run.status == V_BIOMETRIC_STATUS_CANCELED) {
        EXPECT_EQ(run.result, V_OK) << "device " << d;
        EXPECT_FALSE(run.image.has_value());
        ++stopped;
      } else {
        EXPECT_EQ(run.result, V_OK) << "device " << d;
        EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK) << "device " << d;
        EXPECT_TRUE(run.image == scanners_[d]->ExpectedImage()) << "device " << d;
        ++completed;
      }
      if (plans[d].kind == StopKind::kRemove || unplug) {
        EXPECT_EQ(scanners_[d]->CurrentKey(), emu::kDefaultKey) << "device " << d;
      }
    }
    if (HasFailure()) {
      break;
    }
    if (unplug) {
      ASSERT_EQ(module_->Plug(), V_OK);
    }
    for (int d = 0; d < kDevices; ++d) {
      if (unplug || plans[d].kind == StopKind::kRemove) {
        devices_[d] = CreateOn(*scanners_[d]);
      }
    }
  }
  std::cout << "stop races: " << iterations << " iterations x " << kDevices << " devices, " << stopped
            << " captures stopped, " << completed << " completed, " << refused << " refused after an unplug, "
            << reads << " property reads\n";
}

}  // namespace
}  // namespace vdm::test
