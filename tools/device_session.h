// One device from start to end as a host uses it: load the module, plug it,
// create the device, read its properties, capture as often as asked, remove
// the device, unplug and unload. Whatever happens on the way, Close removes
// the device (so the scanner gets its default key back) and unplugs and
// unloads the module.
//
// Creating the device opens the link and runs the opening exchange, which
// cannot be cancelled: the module may already have switched the scanner to
// a session key when an interrupt comes. So an interrupt then is answered
// with a notice at once, the creation is waited for, and the device it made
// is removed straight away, which gives the scanner its key back. Quitting
// before the creation returned could leave the scanner on a key nobody
// knows.
#ifndef BLUEFIN_TOOLS_DEVICE_SESSION_H
#define BLUEFIN_TOOLS_DEVICE_SESSION_H

#include <chrono>
#include <memory>
#include <optional>

#include "emulator/emulator.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "tools/cancel_watcher.h"
#include "tools/commands.h"
#include "tools/failure.h"
#include "tools/hints.h"
#include "tools/image_files.h"
#include "tools/progress.h"
#include "tools/report.h"

namespace bluefin::tool {

// How one capture ended.
enum class CaptureEnd {
  kImage,      // status 1 and an image
  kCancelled,  // an interrupt cancelled it
  kTimedOut,   // the deadline came before a finger did
  kFailed,     // see DeviceSession::Failure
};

class DeviceSession {
 public:
  DeviceSession(const DeviceOptions &options, CancelWatcher *watcher, Progress *progress);
  ~DeviceSession() { Close(); }
  DeviceSession(const DeviceSession &) = delete;
  DeviceSession &operator=(const DeviceSession &) = delete;

  // Starts the built-in scanner when there is no address, loads and plugs
  // the module, creates the device and reads its properties. False after a
  // failure, or when an interrupt came first.
  bool Open();
  const DeviceProperties &Properties() const { return properties_; }

  // One capture. With a timeout, a capture whose scanner has not seen a
  // finger by then is cancelled. *image holds the image with kImage.
  CaptureEnd Capture(std::optional<std::chrono::milliseconds> timeout, vfw::Handle *image);

  // Removes the device, unplugs and unloads the module, stops the built-in
  // scanner; a failure on the way is kept like any other. Idempotent.
  void Close();

  // The first failure, with its hint; later ones are its consequences.
  std::optional<tool::Failure> Failure() const { return failure_; }
  bool Interrupted() const { return watcher_->Interrupted(); }

 private:
  bool StartEmbeddedScanner();
  bool LoadModule();
  bool CreateDevice();
  bool ReadProperties();

  bool Fail(VResult result);
  bool Fail(tool::Failure failure);

  const DeviceOptions &options_;
  CancelWatcher *watcher_;
  Progress *progress_;
  HintContext hintContext_;

  std::unique_ptr<emu::Emulator> embeddedScanner_;
  std::unique_ptr<vfw::DeviceModule> module_;
  const VDeviceManagerInterface *slots_ = nullptr;
  HVDevice device_ = nullptr;
  DeviceProperties properties_;
  std::optional<tool::Failure> failure_;
};

// Saves a captured image as path in format; on success says what was saved.
bool SaveCapturedImage(HVImage image, const std::string &path, ImageFormat format, SavedImage *saved,
                       Failure *failure);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_DEVICE_SESSION_H
