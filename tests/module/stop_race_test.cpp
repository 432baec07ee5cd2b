// Cancel, removal and unplug from other threads, racing captures on several
// devices at every step (each poll, each sleep, each part, the final
// status) while another thread reads properties. Seeded, so a failing
// iteration can be replayed: VDM_RACE_SEED sets the first seed and
// VDM_RACE_ITERATIONS the count.
#include <iostream>

#include "device_fixture.h"

namespace vdm::test {
namespace {

using StopRaceTest = SeveralDevicesTest;

TEST_F(StopRaceTest, StopsRaceCapturesOnSeveralDevices) {
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
  int reads = 0;
  const int iterations = Seeded("RACE", [&](std::mt19937 &random) {
    // One unplug for all devices, or a cancel or removal on each.
    const bool unplug = Pick(random, 4) == 0;
    const int unplugger = Pick(random, kDevices);
    std::array<StopPlan, kDevices> plans;
    for (int d = 0; d < kDevices; ++d) {
      plans[d] = steps[Pick(random, static_cast<int>(steps.size()))];
      plans[d].kind = Pick(random, 2) == 0 ? StopKind::kCancel : StopKind::kRemove;
      if (unplug) {
        plans[d].kind = d == unplugger ? StopKind::kUnplug : StopKind::kNone;
      }
      plans[d].spins = Pick(random, 20000);
    }

    std::atomic<bool> readersStop{false};
    std::thread reader([&] {
      while (!readersStop.load()) {
        reads += ReadEach(devices_);
        std::this_thread::yield();  // two cores: leave the captures room
      }
    });
    std::array<CaptureRun, kDevices> runs = CaptureOnAll(plans);
    readersStop.store(true);
    reader.join();

    // Only a capture that began after the unplug may be refused.
    const auto notPlugged = [](VResult result) { return result == V_E_INVALID_OPERATION; };
    for (int d = 0; d < kDevices; ++d) {
      Tally(runs[d], plans[d], d, unplug ? +notPlugged : nullptr);
    }
    Restore(!unplug);
  });
  std::cout << "stop races: " << iterations << " iterations x " << kDevices << " devices, " << stopped_
            << " captures stopped, " << completed_ << " completed, " << refused_
            << " refused after an unplug, " << reads << " property reads\n";
}

}  // namespace
}  // namespace vdm::test
