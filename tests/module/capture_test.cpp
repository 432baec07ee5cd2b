// Capture: arming, polling, transfer with progress, the final status, and
// stops from other threads, against the scanner emulator.
#include <condition_variable>
#include <functional>
#include <thread>

#include "device_fixture.h"

namespace vdm::test {
namespace {

constexpr unsigned kNeverReady = 1000000;

struct Report {
  VBiometricStatus status;
  bool withImage;
};

// The capture callback's view: what it was called with, and an optional
// action run on the capture thread.
struct Probe {
  std::function<VResult(VBiometricStatus *status, HVImage image)> action;
  std::vector<Report> reports;
  HVDevice device = nullptr;
  HVObject captureObject = nullptr;
};

VResult V_CALL ProbeCallback(HVDevice hDevice, HVObject hCaptureObject, HVImage *arhImages, VInt32 imageCount,
                             VBiometricStatus *pStatus, void *pParam) {
  auto *probe = static_cast<Probe *>(pParam);
  EXPECT_EQ(imageCount, 1);
  EXPECT_EQ(hDevice, probe->device);
  EXPECT_EQ(hCaptureObject, probe->captureObject);
  probe->reports.push_back({*pStatus, arhImages[0] != nullptr});
  return probe->action ? probe->action(pStatus, arhImages[0]) : V_OK;
}

struct Outcome {
  VResult result = V_OK;
  VBiometricStatus status = -1;
  HVImage image = nullptr;
};

class CaptureTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(VPropertyBagCreate(captureObject_.put()), V_OK);
  }
  void TearDown() override {
    captureObject_.reset();
    DeviceTest::TearDown();
  }

  HVDevice OpenScanner(unsigned readyAfterPolls) {
    emu::Options options;
    options.readyAfterPolls = readyAfterPolls;
    scanner_ = &StartScanner(options);
    return CreateOn(*scanner_);
  }

  Outcome Capture(HVDevice hDevice, Probe &probe) {
    probe.device = hDevice;
    probe.captureObject = captureObject_.get();
    Outcome outcome;
    HVImage images[1] = {reinterpret_cast<HVImage>(&sentinel_)};
    VInt32 imageCount = 0;
    outcome.result =
        Slots().pCapture(hDevice, captureObject_.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                         nullptr, nullptr, images, 1, &imageCount, &outcome.status, ProbeCallback, &probe);
    outcome.image = images[0];
    return outcome;
  }

  bool Unwritten(HVImage image) const { return image == reinterpret_cast<const void *>(&sentinel_); }

  vfw::Handle captureObject_;
  emu::Emulator *scanner_ = nullptr;
  int sentinel_ = 0;
};

// Waits on the capture thread until another thread is blocked waiting for
// the capture to end, so that its stop request is certainly in place.
void AwaitBlockedStopper() {
  while (VTestGetBlockedWaitCount() == 0) {
    std::this_thread::yield();
  }
}

TEST_F(CaptureTest, ArgumentsAreCheckedInOrderBeforeAnythingElse) {
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
    VResult code;
    const wchar_t *message;
  } cases[] = {
      {nullptr, nullptr, 0, nullptr, 0, V_E_ARGUMENT_NULL, L"pStatus is NULL"},
      {&status, nullptr, 0, nullptr, 0, V_E_ARGUMENT_NULL, L"arhImages is NULL"},
      {&status, images, 0, nullptr, 0, V_E_ARGUMENT, L"imagesLength is insufficient"},
      {&status, images, -1, &count, 1, V_E_ARGUMENT, L"imagesLength is insufficient"},
      {&status, images, 1, nullptr, 0, V_E_ARGUMENT_NULL, L"pImageCount is NULL"},
      {&status, images, 1, &count, 0, V_E_NOT_SUPPORTED, L"Module does not support non-automatic capturing"},
      {&status, images, 1, &count, 1, V_E_ARGUMENT, L"VdmBlueFin device handle is invalid"},
  };
  const auto run = [&](const Case &c) {
    return Slots().pCapture(&notADevice, nullptr, nullptr, nullptr, nullptr, nullptr, c.automatic, nullptr,
                            nullptr, nullptr, c.arhImages, c.imagesLength, c.pImageCount, c.pStatus,
                            ProbeCallback, nullptr);
  };
  for (const Case &c : cases) {
    EXPECT_TRUE(HasLastError(run(c), c.code, c.message)) << vfw::ToUtf8(c.message);
  }
  // The mode is refused before the module's state is looked at.
  ASSERT_EQ(module_->Uninit(0), V_OK);
  EXPECT_TRUE(HasLastError(run(cases[5]), V_E_NOT_SUPPORTED, cases[5].message));
  EXPECT_TRUE(HasLastError(run(cases[6]), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
}

TEST_F(CaptureTest, ImageReadyAtTheFirstPollIsFetchedAndHandedOver) {
  const HVDevice hDevice = OpenScanner(0);
  scanner_->ClearTranscript();
  Probe probe;
  const Outcome outcome = Capture(hDevice, probe);
  ASSERT_EQ(outcome.result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  EXPECT_EQ(outcome.status, V_BIOMETRIC_STATUS_OK);
  vfw::Handle image(outcome.image);
  ASSERT_NE(image.get(), nullptr);

  // One poll report without an image, then one per image part with it.
  ASSERT_EQ(probe.reports.size(), 13u);
  EXPECT_EQ(probe.reports[0].status, V_BIOMETRIC_STATUS_NONE);
  EXPECT_FALSE(probe.reports[0].withImage);
  for (size_t i = 1; i < probe.reports.size(); ++i) {
    EXPECT_EQ(probe.reports[i].status, V_BIOMETRIC_STATUS_NONE);
    EXPECT_TRUE(probe.reports[i].withImage);
  }
  EXPECT_TRUE(Sleeps().empty());

  VUInt32 width = 0, height = 0;
  VFloat resolution = 0;
  void *pixels = nullptr;
  ASSERT_EQ(VImageGetWidth(image.get(), &width), V_OK);
  ASSERT_EQ(VImageGetHeight(image.get(), &height), V_OK);
  ASSERT_EQ(VImageGetHorzResolution(image.get(), &resolution), V_OK);
  ASSERT_EQ(VImageGetPixelsPtr(image.get(), &pixels), V_OK);
  EXPECT_EQ(width, 256u);
  EXPECT_EQ(height, 360u);
  EXPECT_EQ(resolution, 508.0f);
  const emu::Image expected = scanner_->ExpectedImage();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), static_cast<const std::uint8_t *>(pixels)));

  VBool cleared = V_TRUE;
  ASSERT_EQ(VObjectGetPropertyPW(captureObject_.get(), L"Fingers.CheckDetectObjectsCleared", VBooleanTypeOf,
                                 &cleared, sizeof(cleared)),
            V_OK);
  EXPECT_EQ(cleared, V_FALSE);

  std::vector<std::uint8_t> expectedCodes = {kSetStatus, kGetStatus};
  expectedCodes.insert(expectedCodes.end(), 12, kImagePart);
  expectedCodes.push_back(kSetStatus);
  const auto transcript = scanner_->Transcript();
  EXPECT_EQ(Codes(transcript), expectedCodes);
  EXPECT_EQ(transcript.front().arguments.at(0), 1);
  EXPECT_EQ(transcript.back().arguments.at(0), 0);
}

TEST_F(CaptureTest, PollsEveryTwoSecondsUntilTheImageIsReady) {
  const HVDevice hDevice = OpenScanner(3);
  Probe probe;
  const Outcome outcome = Capture(hDevice, probe);
  ASSERT_EQ(outcome.result, V_OK);
  EXPECT_EQ(outcome.status, V_BIOMETRIC_STATUS_OK);
  vfw::Handle image(outcome.image);
  std::vector<VBiometricStatus> polls;
  for (const Report &report : probe.reports) {
    if (!report.withImage) {
      polls.push_back(report.status);
    }
  }
  EXPECT_EQ(polls, (std::vector<VBiometricStatus>{22, 22, 22, 0}));
  EXPECT_EQ(Sleeps(), (std::vector<VInt32>{2000, 2000, 2000}));
}

TEST_F(CaptureTest, SecondCaptureIsRefusedWhileTheFirstGoesOn) {
  const HVDevice hDevice = OpenScanner(1);
  Probe probe;
  VResult second = V_OK;
  probe.action = [&](VBiometricStatus *status, HVImage) {
    if (*status == V_BIOMETRIC_STATUS_OBJECT_MISSING) {
      Probe other;
      second = Capture(hDevice, other).result;
      EXPECT_TRUE(HasLastError(second, V_E_INVALID_OPERATION, L"Scanner is already capturing"));
      // Cancelling another capture leaves this one alone.
      EXPECT_EQ(Slots().pCancel(hDevice, &other), V_OK);
    }
    return V_OK;
  };
  const Outcome outcome = Capture(hDevice, probe);
  EXPECT_EQ(second, V_E_INVALID_OPERATION);
  EXPECT_EQ(outcome.result, V_OK);
  EXPECT_EQ(outcome.status, V_BIOMETRIC_STATUS_OK);
  vfw::Handle image(outcome.image);
  EXPECT_NE(image.get(), nullptr);
}

TEST_F(CaptureTest, FailuresEndTheCaptureWithoutWritingTheImageAndLeaveTheDeviceIdle) {
  const HVDevice hDevice = OpenScanner(0);
  struct Case {
    const char *what;
    std::function<void(Probe &)> arrange;
    VResult code;
    VBiometricStatus status;
  } cases[] = {
      {"callback fails a poll",
       [](Probe &probe) { probe.action = [](VBiometricStatus *, HVImage) { return -60; }; }, -60, 0},
      {"callback fails a part",
       [](Probe &probe) {
         probe.action = [](VBiometricStatus *, HVImage image) { return image ? -61 : V_OK; };
       },
       -61, 0},
      {"scanner sends a bad part",
       [this](Probe &) { scanner_->InjectFault(emu::Fault::InvalidImagePart(emu::OnPart(5))); },
       V_E_INVALID_DATA, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Probe probe;
    c.arrange(probe);
    const Outcome outcome = Capture(hDevice, probe);
    EXPECT_EQ(outcome.result, c.code);
    EXPECT_TRUE(Unwritten(outcome.image));
    EXPECT_EQ(outcome.status, c.status);
    // Idle again: the next capture runs to its end.
    Probe again;
    const Outcome next = Capture(hDevice, again);
    EXPECT_EQ(next.result, V_OK);
    vfw::Handle image(next.image);
    EXPECT_EQ(next.status, V_BIOMETRIC_STATUS_OK);
  }
}

TEST_F(CaptureTest, FinalStatusSetByTheCallbackSkipsTheTransfer) {
  const HVDevice hDevice = OpenScanner(0);
  Probe probe;
  probe.action = [](VBiometricStatus *status, HVImage) {
    *status = V_BIOMETRIC_STATUS_CANCELED;
    return V_OK;
  };
  const Outcome outcome = Capture(hDevice, probe);
  EXPECT_EQ(outcome.result, V_OK);
  EXPECT_EQ(outcome.status, V_BIOMETRIC_STATUS_NO_IMAGE);
  EXPECT_EQ(outcome.image, nullptr);
}

// Cancel, removal and unplug from another thread, while the capture polls
// and while it transfers: the capture ends once with status 2 and no image,
// the stopper returns once it has ended, and the scanner keeps or gets back
// its default key as the stop requires.
enum class Stopper { kCancel, kRemove, kUnplug };
enum class Phase { kPolling, kTransfer };

class CaptureStopTest : public CaptureTest,
                        public ::testing::WithParamInterface<std::tuple<Stopper, Phase>> {};

TEST_P(CaptureStopTest, StopEndsTheCaptureWithStatusTwo) {
  const Stopper stopper = std::get<0>(GetParam());
  const Phase phase = std::get<1>(GetParam());
  const HVDevice hDevice = OpenScanner(phase == Phase::kPolling ? kNeverReady : 0);
  Probe probe;
  std::thread stopThread;
  VResult stopped = -1;
  probe.action = [&](VBiometricStatus *, HVImage image) {
    const bool now = phase == Phase::kPolling ? image == nullptr : image != nullptr;
    if (now && !stopThread.joinable()) {
      stopThread = std::thread([&] {
        switch (stopper) {
          case Stopper::kCancel:
            stopped = Slots().pCancel(hDevice, &probe);
            break;
          case Stopper::kRemove:
            stopped = Slots().pRemoveDevice(hDevice, nullptr);
            break;
          case Stopper::kUnplug:
            stopped = module_->Unplug();
            break;
        }
      });
      AwaitBlockedStopper();
    }
    return V_OK;
  };
  const Outcome outcome = Capture(hDevice, probe);
  stopThread.join();
  EXPECT_EQ(stopped, V_OK);
  EXPECT_EQ(outcome.result, V_OK);
  EXPECT_EQ(outcome.status, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_EQ(outcome.image, nullptr);
  if (stopper == Stopper::kCancel) {
    // The device is idle and usable again.
    EXPECT_NE(Property(Slots().pGetId, hDevice), L"");
    if (phase == Phase::kTransfer) {
      Probe again;
      const Outcome next = Capture(hDevice, again);
      vfw::Handle image(next.image);
      EXPECT_EQ(next.status, V_BIOMETRIC_STATUS_OK);
    }
  } else {
    EXPECT_EQ(scanner_->CurrentKey(), emu::kDefaultKey);
  }
}

INSTANTIATE_TEST_SUITE_P(AllStops, CaptureStopTest,
                         ::testing::Combine(::testing::Values(Stopper::kCancel, Stopper::kRemove,
                                                              Stopper::kUnplug),
                                            ::testing::Values(Phase::kPolling, Phase::kTransfer)));

}  // namespace
}  // namespace vdm::test
