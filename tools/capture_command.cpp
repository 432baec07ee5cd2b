#include <unistd.h>

#include "tools/capture_session.h"
#include "tools/commands.h"
#include "tools/interrupts.h"

namespace bluefin::tool {

int RunCapture(const CaptureOptions &options) {
  CaptureReport report(options.json);
  // Checked before anything starts: a capture whose image cannot be saved
  // would only waste the user's finger.
  const std::optional<ImageFormat> format = FormatFromPath(options.out);
  if (!format) {
    report.Fail(Failure{V_E_ARGUMENT, "Output file " + options.out + " must end in .png or .pgm"});
    return 1;
  }
  CancelWatcher watcher;
  std::string why;
  if (!watcher.Start(&why)) {
    report.Fail(Failure{V_E_FAILED, why});
    return 1;
  }
  // Progress goes to stderr, so that is the stream whose terminal decides
  // between redrawing in place and plain lines.
  Progress progress(stderr, isatty(STDERR_FILENO) != 0);
  CaptureSession session(options, *format, &watcher, &progress, &report);
  const bool captured = session.Run();
  progress.Finish();
  if (watcher.Interrupted()) {
    report.Fail(Failure{V_E_FAILED, session.CaptureStarted() ? "Interrupted: the capture was cancelled"
                                                             : "Interrupted before the capture started"});
    return InterruptExitStatus(InterruptSignal());
  }
  if (!captured) {
    report.Fail(session.Failure());
    return 1;
  }
  report.Success(session.Status(), session.Saved());
  return 0;
}

}  // namespace bluefin::tool
