// Capture: arguments, arming, polling, transfer with progress, the final
// status and early ends, against the scanner emulator. Stops from other
// threads are the host-failure sweep's stop scenarios and the stop races.
#include "device_fixture.h"

namespace vdm::test {
namespace {

class CaptureTest : public DeviceTest {
 protected:
  HVDevice OpenScanner(unsigned readyAfterPolls) {
    emu::Options options;
    options.readyAfterPolls = readyAfterPolls;
    scanner_ = &StartScanner(options);
    return CreateOn(*scanner_);
  }

  emu::Emulator *scanner_ = nullptr;
};

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
  // A capture without a callback never starts, on a real device too: its
  // first poll would call through the null pointer.
  const HVDevice hDevice = OpenScanner(0);
  scanner_->ClearTranscript();
  EXPECT_TRUE(HasLastError(run(cases[6], hDevice), V_E_ARGUMENT_NULL, cases[6].message));
  EXPECT_TRUE(scanner_->Transcript().empty());
  // The mode is refused before the module's state is looked at.
  ASSERT_EQ(module_->Uninit(0), V_OK);
  EXPECT_TRUE(HasLastError(run(cases[5], &notADevice), V_E_NOT_SUPPORTED, cases[5].message));
  EXPECT_TRUE(
      HasLastError(run(cases[7], &notADevice), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
}

// Armed, polled every two seconds until the image is ready, one report per
// image part, disarmed; the image handed over is the scanner's.
TEST_F(CaptureTest, PollsUntilReadyThenHandsOverTheImage) {
  for (unsigned ready : {0u, 3u}) {
    SCOPED_TRACE(testing::Message() << "ready after " << ready << " polls");
    const HVDevice hDevice = OpenScanner(ready);
    scanner_->ClearTranscript();
    const CaptureRun run = Capture(hDevice);
    ASSERT_EQ(run.result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
    vfw::Handle image(run.handle);
    ASSERT_NE(image.get(), nullptr);

    std::vector<CaptureRun::Report> reports(ready, {V_BIOMETRIC_STATUS_OBJECT_MISSING, false});
    reports.push_back({V_BIOMETRIC_STATUS_NONE, false});
    reports.insert(reports.end(), emu::kImageParts, {V_BIOMETRIC_STATUS_NONE, true});
    EXPECT_TRUE(run.reports == reports);
    EXPECT_EQ(run.sleeps, std::vector<VInt32>(ready, 2000));

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

    std::vector<std::uint8_t> expectedCodes(ready + 2, kGetStatus);
    expectedCodes.front() = kSetStatus;
    expectedCodes.insert(expectedCodes.end(), emu::kImageParts, kImagePart);
    expectedCodes.push_back(kSetStatus);
    const auto transcript = scanner_->Transcript();
    EXPECT_EQ(Codes(transcript), expectedCodes);
    EXPECT_EQ(transcript.front().arguments.at(0), 1);
    EXPECT_EQ(transcript.back().arguments.at(0), 0);
  }
}

TEST_F(CaptureTest, SecondCaptureIsRefusedWhileTheFirstGoesOn) {
  const HVDevice hDevice = OpenScanner(1);
  VResult second = V_OK;
  CaptureRun run = Capture(hDevice, {}, nullptr, [&](VBiometricStatus *status, HVImage) {
    if (*status == V_BIOMETRIC_STATUS_OBJECT_MISSING) {
      second = Capture(hDevice).result;
      EXPECT_TRUE(HasLastError(second, V_E_INVALID_OPERATION, L"Scanner is already capturing"));
      // Cancelling another capture leaves this one alone.
      EXPECT_EQ(Slots().pCancel(hDevice, &second), V_OK);
    }
    return V_OK;
  });
  run.Collect();
  EXPECT_EQ(second, V_E_INVALID_OPERATION);
  EXPECT_EQ(run.result, V_OK);
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
  EXPECT_TRUE(run.image == scanner_->ExpectedImage());
}

// A failure ends the capture without writing the image; a final status set
// by the callback skips the transfer. Either way the device is idle after.
TEST_F(CaptureTest, CallbackAndScannerEndTheCaptureEarly) {
  const HVDevice hDevice = OpenScanner(0);
  const ReportAction failsAPoll = [](VBiometricStatus *, HVImage) { return -60; };
  const ReportAction failsAPart = [](VBiometricStatus *, HVImage image) { return image ? -61 : V_OK; };
  const ReportAction setsAFinalStatus = [](VBiometricStatus *status, HVImage) {
    *status = V_BIOMETRIC_STATUS_CANCELED;
    return V_OK;
  };
  const struct {
    const char *what;
    ReportAction action;
    bool badPart;
    VResult code;
    VBiometricStatus status;
    bool written;  // with no image
  } cases[] = {
      // clang-format off
      {"callback fails a poll",        failsAPoll,       false, -60,              0,                           false},
      {"callback fails a part",        failsAPart,       false, -61,              0,                           false},
      {"scanner sends a bad part",     nullptr,          true,  V_E_INVALID_DATA, 0,                           false},
      {"callback sets a final status", setsAFinalStatus, false, V_OK,             V_BIOMETRIC_STATUS_NO_IMAGE, true},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.badPart) {
      scanner_->InjectFault(emu::Fault::InvalidImagePart(emu::OnPart(5)));
    }
    const CaptureRun run = Capture(hDevice, {}, nullptr, c.action);
    EXPECT_EQ(run.result, c.code);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.written, c.written);
    EXPECT_EQ(run.handle, nullptr);
    // Idle again: the next capture runs to its end.
    CaptureRun next = Capture(hDevice);
    next.Collect();
    EXPECT_EQ(next.status, V_BIOMETRIC_STATUS_OK);
    EXPECT_TRUE(next.image == scanner_->ExpectedImage());
  }
}

}  // namespace
}  // namespace vdm::test
