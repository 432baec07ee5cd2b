#include "tools/capture_session.h"

#include <string>

#include "framework/v_support.h"
#include "tools/text.h"

namespace bluefin::tool {
namespace {

constexpr char kModuleOfSymbol[] = "VdmBlueFinModuleOf";

// The scanner emulated in the process answers ready after one poll: the
// user sees the waiting line once, and the capture costs one poll period.
constexpr unsigned kEmbeddedReadyAfterPolls = 1;

tool::Failure LastFailure(VResult result) {
  const vfw::LastError last = vfw::GetLastError();
  // A slot that failed has recorded its code first; trust the result only
  // when nothing was recorded.
  const VResult code = last.code != 0 ? last.code : result;
  return tool::Failure{code, FailureMessage(code, vfw::ToUtf8(last.message), vfw::ToUtf8(last.callStack))};
}

VResult ReadString(VDeviceManagerGetStringProc slot, HVDevice device, std::string *out) {
  vfw::Handle value;
  const VResult result = slot(device, value.put());
  if (VSucceeded(result)) {
    *out = vfw::ToUtf8(vfw::ToWString(value.get()));
  }
  return result;
}

struct CaptureContext {
  CancelWatcher *watcher;
  Progress *progress;
  unsigned polls = 0;
  unsigned parts = 0;
};

// The module calls this once a poll with no image (status 22 while the
// scanner waits, 0 when it has an image ready) and once a part of the
// transfer with the image filled so far.
VResult V_CALL OnCapture(HVDevice, HVObject, HVImage *arhImages, VInt32 imageCount, VBiometricStatus *pStatus,
                         void *pParam) {
  auto *context = static_cast<CaptureContext *>(pParam);
  context->watcher->OnCaptureCallback();
  if (arhImages != nullptr && imageCount >= 1 && arhImages[0] != nullptr) {
    context->progress->Part(++context->parts);
  } else {
    const bool ready = pStatus != nullptr && *pStatus == V_BIOMETRIC_STATUS_NONE;
    context->progress->Poll(++context->polls, ready);
  }
  return V_OK;
}

std::string StatusText(VBiometricStatus status) {
  switch (status) {
    case V_BIOMETRIC_STATUS_CANCELED:
      return "The capture was cancelled (status 2)";
    case V_BIOMETRIC_STATUS_NO_IMAGE:
      return "The capture ended without an image (status 23)";
    default:
      return "The capture ended with status " + std::to_string(status);
  }
}

}  // namespace

bool CaptureSession::Run() {
  bool saved = false;
  if (StartEmbeddedScanner() && LoadModule() && CreateDevice() && ReadProperties()) {
    vfw::Handle image;  // released before the module goes
    saved = Capture(&image) && Save(image.get());
  }
  TearDown();
  return saved && !failure_;
}

bool CaptureSession::StartEmbeddedScanner() {
  if (options_.address) {
    return true;
  }
  emu::Options scanner;
  scanner.address = kEmbeddedScannerAddress;
  scanner.readyAfterPolls = kEmbeddedReadyAfterPolls;
  embeddedScanner_ = std::make_unique<emu::Emulator>(scanner);
  std::string why;
  if (!embeddedScanner_->Start(&why)) {
    embeddedScanner_.reset();
    return Fail(tool::Failure{V_E_FAILED, "Cannot start the built-in scanner emulator: " + why});
  }
  return true;
}

bool CaptureSession::LoadModule() {
  std::string path;
  if (options_.modulePath) {
    path = *options_.modulePath;
  } else if (options_.address && !options_.emulated) {
    path = BLUEFIN_MODULE_PATH;
  } else {
    path = BLUEFIN_EMULATED_MODULE_PATH;
  }
  VResult result = vfw::DeviceModule::Load(path, kModuleOfSymbol, &module_);
  if (VFailed(result) || VFailed(result = module_->Init()) || VFailed(result = module_->Plug())) {
    return Fail(result);
  }
  slots_ = module_->Interface();
  if (slots_ == nullptr || !slots_->pCreateDevice || !slots_->pRemoveDevice || !slots_->pCapture ||
      !slots_->pCancel || !slots_->pGetId || !slots_->pGetDisplayName || !slots_->pGetMake ||
      !slots_->pGetModel || !slots_->pGetSerialNumber) {
    return Fail(tool::Failure{V_E_NOT_SUPPORTED, path + " does not serve the device slots a capture needs"});
  }
  return true;
}

bool CaptureSession::CreateDevice() {
  if (Interrupted()) {
    return false;
  }
  const std::string address = options_.address ? *options_.address : kEmbeddedScannerAddress;
  vfw::Handle bag;
  VResult result = VPropertyBagCreate(bag.put());
  if (VSucceeded(result)) {
    result = VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", FromUtf8(address).c_str());
  }
  // Without --name the module's own default display name applies.
  if (VSucceeded(result) && options_.name) {
    result = VPropertyBagSetStringW(bag.get(), L"DisplayName", FromUtf8(*options_.name).c_str());
  }
  if (VSucceeded(result)) {
    result = slots_->pCreateDevice(bag.get(), &device_, nullptr);
  }
  return VSucceeded(result) || Fail(result);
}

bool CaptureSession::ReadProperties() {
  DeviceProperties device;
  VResult result = ReadString(slots_->pGetId, device_, &device.id);
  if (VSucceeded(result)) {
    result = ReadString(slots_->pGetDisplayName, device_, &device.displayName);
  }
  if (VSucceeded(result)) {
    result = ReadString(slots_->pGetMake, device_, &device.make);
  }
  if (VSucceeded(result)) {
    result = ReadString(slots_->pGetModel, device_, &device.model);
  }
  if (VSucceeded(result)) {
    result = ReadString(slots_->pGetSerialNumber, device_, &device.serialNumber);
  }
  if (VFailed(result)) {
    return Fail(result);
  }
  report_->Device(device);
  return true;
}

bool CaptureSession::Capture(vfw::Handle *image) {
  if (Interrupted()) {
    return false;
  }
  // The module needs some host object to hang the capture's properties on.
  vfw::Handle captureObject;
  VResult result = VPropertyBagCreate(captureObject.put());
  if (VFailed(result)) {
    return Fail(result);
  }
  CaptureContext context{watcher_, progress_};
  HVImage images[1] = {nullptr};
  VInt32 imageCount = 0;
  VBiometricStatus status = V_BIOMETRIC_STATUS_NONE;
  captureStarted_ = true;
  watcher_->Arm(slots_->pCancel, device_, &context);
  result = slots_->pCapture(device_, captureObject.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                            nullptr, nullptr, images, 1, &imageCount, &status, OnCapture, &context);
  const bool failed = VFailed(result);
  if (failed) {
    Fail(result);  // reads the last error before another host call can replace it
  }
  watcher_->Disarm();
  progress_->Finish();
  image->reset(images[0]);
  status_ = status;
  if (failed || Interrupted()) {
    return false;
  }
  if (status != V_BIOMETRIC_STATUS_OK) {
    return Fail(tool::Failure{V_E_FAILED, StatusText(status)});
  }
  if (!*image) {
    return Fail(tool::Failure{V_E_FAILED, "The capture reported an image but handed none over"});
  }
  return true;
}

bool CaptureSession::Save(HVImage image) {
  if (Interrupted()) {
    return false;
  }
  GreyImageView view;
  VUInt32 pixelFormat = 0;
  void *pixels = nullptr;
  VFloat horizontal = 0;
  VFloat vertical = 0;
  VResult result = VImageGetPixelFormat(image, &pixelFormat);
  if (VSucceeded(result)) {
    result = VImageGetWidth(image, &view.width);
  }
  if (VSucceeded(result)) {
    result = VImageGetHeight(image, &view.height);
  }
  if (VSucceeded(result)) {
    result = VImageGetStride(image, &view.stride);
  }
  if (VSucceeded(result)) {
    result = VImageGetPixelsPtr(image, &pixels);
  }
  if (VSucceeded(result)) {
    result = VImageGetHorzResolution(image, &horizontal);
  }
  if (VSucceeded(result)) {
    result = VImageGetVertResolution(image, &vertical);
  }
  if (VFailed(result)) {
    return Fail(result);
  }
  if (pixelFormat != V_PIXEL_FORMAT_GRAYSCALE_8U) {
    return Fail(tool::Failure{V_E_NOT_SUPPORTED, "The captured image is not 8-bit greyscale"});
  }
  view.pixels = static_cast<const std::uint8_t *>(pixels);
  view.horizontalDpi = horizontal;
  view.verticalDpi = vertical;
  tool::Failure failure;
  if (!WriteImage(options_.out, format_, view, &failure)) {
    return Fail(failure);
  }
  saved_ = SavedImage{options_.out, view.width, view.height, horizontal};
  return true;
}

void CaptureSession::TearDown() {
  if (device_ != nullptr) {
    const VResult result = slots_->pRemoveDevice(device_, nullptr);
    device_ = nullptr;
    if (VFailed(result)) {
      Fail(result);
    }
  }
  if (module_) {
    VResult result = V_OK;
    if (module_->IsPlugged() && VFailed(result = module_->Unplug())) {
      Fail(result);
    }
    if (module_->IsInitialised() && VFailed(result = module_->Uninit())) {
      Fail(result);
    }
    if (VFailed(result = module_->Unload())) {
      Fail(result);
    }
    module_.reset();
    slots_ = nullptr;
  }
  if (embeddedScanner_) {
    embeddedScanner_->Stop();
    embeddedScanner_.reset();
  }
}

bool CaptureSession::Fail(VResult result) {
  return Fail(LastFailure(result));
}

bool CaptureSession::Fail(tool::Failure failure) {
  if (!failure_) {
    failure_ = std::move(failure);
  }
  return false;
}

}  // namespace bluefin::tool
