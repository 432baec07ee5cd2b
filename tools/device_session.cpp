#include "tools/device_session.h"

#include <cstdio>
#include <string>

#include "framework/v_support.h"
#include "tools/module_path.h"
#include "tools/text.h"

namespace bluefin::tool {
namespace {

constexpr char kModuleOfSymbol[] = "VdmBlueFinModuleOf";
constexpr char kRadioModuleFile[] = "VdmBlueFin.so";
constexpr char kEmulatedModuleFile[] = "VdmBlueFinEmulated.so";

// The scanner emulated in the process answers ready after one poll: the
// user sees the waiting line once, and the capture costs one poll period.
constexpr unsigned kEmbeddedReadyAfterPolls = 1;

tool::Failure LastFailure(VResult result) {
  const vfw::LastError last = vfw::GetLastError();
  // A slot that failed has recorded its code first; trust the result only
  // when nothing was recorded.
  const VResult code = last.code != 0 ? last.code : result;
  const std::string callStack = vfw::ToUtf8(last.callStack);
  tool::Failure failure{code, FailureMessage(code, vfw::ToUtf8(last.message), callStack)};
  failure.platformCode = last.platformCode;
  failure.call = FailedCall(callStack);
  return failure;
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
  if (arhImages != nullptr && imageCount >= 1 && arhImages[0] != nullptr) {
    context->watcher->OnCaptureCallback(true);
    context->progress->Part(++context->parts);
  } else {
    const bool ready = pStatus != nullptr && *pStatus == V_BIOMETRIC_STATUS_NONE;
    context->watcher->OnCaptureCallback(ready);
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

Link LinkOf(const DeviceOptions &options) {
  if (!options.address) {
    return Link::kBuiltIn;
  }
  return options.emulated ? Link::kEmulated : Link::kRadio;
}

}  // namespace

DeviceSession::DeviceSession(const DeviceOptions &options, CancelWatcher *watcher, Progress *progress)
    : options_(options), watcher_(watcher), progress_(progress) {
  hintContext_.link = LinkOf(options);
  hintContext_.address = options.address.value_or(kEmbeddedScannerAddress);
}

bool DeviceSession::Open() {
  return StartEmbeddedScanner() && LoadModule() && CreateDevice() && ReadProperties();
}

bool DeviceSession::StartEmbeddedScanner() {
  if (options_.address) {
    return true;
  }
  emu::Options scanner;
  scanner.readyAfterPolls = kEmbeddedReadyAfterPolls;
  std::string why;
  for (unsigned n = 1; n <= kEmbeddedScannerAddresses; ++n) {
    char address[sizeof(kEmbeddedScannerAddress)];
    std::snprintf(address, sizeof(address), "0B:F1:00:00:00:%02X", n);
    scanner.address = address;
    embeddedScanner_ = std::make_unique<emu::Emulator>(scanner);
    if (embeddedScanner_->Start(&why)) {
      hintContext_.address = address;
      return true;
    }
  }
  embeddedScanner_.reset();
  return Fail(tool::Failure{V_E_FAILED, "Cannot start the built-in scanner emulator: " + why});
}

bool DeviceSession::LoadModule() {
  std::string path;
  if (options_.modulePath) {
    path = *options_.modulePath;
  } else {
    path = ModulePath(hintContext_.link == Link::kRadio ? kRadioModuleFile : kEmulatedModuleFile);
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

bool DeviceSession::CreateDevice() {
  if (Interrupted()) {
    return false;
  }
  hintContext_.stage = Stage::kConnecting;
  const std::string &address = hintContext_.address;
  vfw::Handle bag;
  VResult result = VPropertyBagCreate(bag.put());
  if (VSucceeded(result)) {
    result = VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", FromUtf8(address).c_str());
  }
  // Without --name the module's own default display name applies.
  if (VSucceeded(result) && options_.name) {
    result = VPropertyBagSetStringW(bag.get(), L"DisplayName", FromUtf8(*options_.name).c_str());
  }
  if (VFailed(result)) {
    return Fail(result);
  }
  progress_->Connecting(hintContext_.link == Link::kBuiltIn ? address + " (the built-in emulator)" : address);
  watcher_->SetNotice("Cancelling: waiting for the connection to " + address +
                      " to finish, so that the scanner can be given back. A second interrupt quits at once, "
                      "and may leave the scanner needing to be switched off and on.\n");
  result = slots_->pCreateDevice(bag.get(), &device_, nullptr);
  if (VFailed(result)) {
    Fail(result);  // reads the last error before another host call can replace it
  }
  watcher_->SetNotice(std::string());
  return VSucceeded(result) && !Interrupted();
}

bool DeviceSession::ReadProperties() {
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
  properties_ = device;
  return true;
}

CaptureEnd DeviceSession::Capture(std::optional<std::chrono::milliseconds> timeout, vfw::Handle *image) {
  if (Interrupted()) {
    return CaptureEnd::kCancelled;
  }
  hintContext_.stage = Stage::kCapturing;
  // The module needs some host object to hang the capture's properties on.
  vfw::Handle captureObject;
  VResult result = VPropertyBagCreate(captureObject.put());
  if (VFailed(result)) {
    Fail(result);
    return CaptureEnd::kFailed;
  }
  CaptureContext context{watcher_, progress_};
  HVImage images[1] = {nullptr};
  VInt32 imageCount = 0;
  VBiometricStatus status = V_BIOMETRIC_STATUS_NONE;
  std::optional<CancelWatcher::Clock::time_point> deadline;
  if (timeout) {
    deadline = CancelWatcher::Clock::now() + *timeout;
  }
  watcher_->Arm(slots_->pCancel, device_, &context, deadline);
  result = slots_->pCapture(device_, captureObject.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                            nullptr, nullptr, images, 1, &imageCount, &status, OnCapture, &context);
  const bool failed = VFailed(result);
  if (failed) {
    Fail(result);  // reads the last error before another host call can replace it
  }
  watcher_->Disarm();
  progress_->Finish();
  image->reset(images[0]);
  if (failed) {
    return CaptureEnd::kFailed;
  }
  if (Interrupted()) {
    return CaptureEnd::kCancelled;
  }
  if (status == V_BIOMETRIC_STATUS_CANCELED && watcher_->TimedOut()) {
    return CaptureEnd::kTimedOut;
  }
  if (status != V_BIOMETRIC_STATUS_OK) {
    Fail(tool::Failure{V_E_FAILED, StatusText(status)});
    return CaptureEnd::kFailed;
  }
  if (!*image) {
    Fail(tool::Failure{V_E_FAILED, "The capture reported an image but handed none over"});
    return CaptureEnd::kFailed;
  }
  return CaptureEnd::kImage;
}

void DeviceSession::Close() {
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

bool DeviceSession::Fail(VResult result) {
  return Fail(LastFailure(result));
}

bool DeviceSession::Fail(tool::Failure failure) {
  if (!failure_) {
    failure.hint = HintFor(failure, hintContext_);
    failure_ = std::move(failure);
  }
  return false;
}

bool SaveCapturedImage(HVImage image, const std::string &path, ImageFormat format, SavedImage *saved,
                       Failure *failure) {
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
    *failure = LastFailure(result);
    return false;
  }
  if (pixelFormat != V_PIXEL_FORMAT_GRAYSCALE_8U) {
    *failure = tool::Failure{V_E_NOT_SUPPORTED, "The captured image is not 8-bit greyscale"};
    return false;
  }
  view.pixels = static_cast<const std::uint8_t *>(pixels);
  view.horizontalDpi = horizontal;
  view.verticalDpi = vertical;
  if (!WriteImage(path, format, view, failure)) {
    return false;
  }
  *saved = SavedImage{path, view.width, view.height, horizontal};
  return true;
}

}  // namespace bluefin::tool
