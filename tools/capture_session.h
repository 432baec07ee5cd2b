// One capture from start to end as a host does it: load the module, plug
// it, create the device, read its properties, capture, save the image,
// remove the device, unplug and unload. Whatever happens on the way, the
// device is removed (so the scanner gets its default key back) and the
// module is unplugged and unloaded before Run returns.
#ifndef BLUEFIN_TOOLS_CAPTURE_SESSION_H
#define BLUEFIN_TOOLS_CAPTURE_SESSION_H

#include <memory>
#include <optional>

#include "emulator/emulator.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "tools/cancel_watcher.h"
#include "tools/capture_report.h"
#include "tools/commands.h"
#include "tools/failure.h"
#include "tools/image_files.h"
#include "tools/progress.h"

namespace bluefin::tool {

class CaptureSession {
 public:
  CaptureSession(const CaptureOptions &options, ImageFormat format, CancelWatcher *watcher,
                 Progress *progress, CaptureReport *report)
      : options_(options), format_(format), watcher_(watcher), progress_(progress), report_(report) {}

  // True with the image saved and everything released cleanly; otherwise
  // Failure() says what went wrong first.
  bool Run();
  tool::Failure Failure() const { return failure_.value_or(tool::Failure{V_E_FAILED, "Operation failed"}); }
  // A capture was handed to the module (an interrupt then cancelled it).
  bool CaptureStarted() const { return captureStarted_; }
  std::int32_t Status() const { return status_; }
  const SavedImage &Saved() const { return saved_; }

 private:
  bool StartEmbeddedScanner();
  bool LoadModule();
  bool CreateDevice();
  bool ReadProperties();
  bool Capture(vfw::Handle *image);
  bool Save(HVImage image);
  void TearDown();

  // Keep the first failure only: the later ones are its consequences.
  bool Fail(VResult result);
  bool Fail(tool::Failure failure);
  bool Interrupted() const { return watcher_->Interrupted(); }

  const CaptureOptions &options_;
  ImageFormat format_;
  CancelWatcher *watcher_;
  Progress *progress_;
  CaptureReport *report_;

  std::unique_ptr<emu::Emulator> embeddedScanner_;
  std::unique_ptr<vfw::DeviceModule> module_;
  const VDeviceManagerInterface *slots_ = nullptr;
  HVDevice device_ = nullptr;
  bool captureStarted_ = false;
  std::int32_t status_ = 0;
  SavedImage saved_;
  std::optional<tool::Failure> failure_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_CAPTURE_SESSION_H
