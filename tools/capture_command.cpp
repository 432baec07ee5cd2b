// capture and info: the commands that open a device through the module.
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "emulator/link.h"
#include "tools/commands.h"
#include "tools/device_session.h"
#include "tools/interrupts.h"
#include "tools/output_files.h"
#include "tools/streams.h"

namespace bluefin::tool {
namespace {

// What a run came to, whatever it was asked to do.
struct Outcome {
  std::optional<Failure> failure;  // the first one
  bool cutShort = false;           // something asked for was left undone
  bool timedOut = false;
  std::string timeoutText;

  void Fail(const Failure &why) {
    if (!failure) {
      failure = why;
    }
    cutShort = true;
  }
};

// The checks every device command makes before anything starts.
bool CheckDeviceOptions(const DeviceOptions &options, Failure *failure) {
  if (options.address && !emu::NormalizeAddress(*options.address)) {
    *failure =
        Failure{V_E_ARGUMENT, "Scanner address must be XX:XX:XX:XX:XX:XX, not \"" + *options.address + "\""};
    return false;
  }
  if (options.name && options.name->empty()) {
    *failure =
        Failure{V_E_ARGUMENT, "Display name must not be empty; leave --name out for the module's default"};
    return false;
  }
  return true;
}

struct OutputPlan {
  std::vector<std::string> names;
  std::vector<ImageFormat> formats;
};

// Checked before anything connects: a capture whose image cannot be saved
// would only waste the user's finger.
bool PlanOutputs(const CaptureOptions &options, OutputPlan *plan, Failure *failure) {
  std::optional<std::vector<std::string>> names = OutputNames(options.out, options.count, failure);
  if (!names) {
    return false;
  }
  for (const std::string &name : *names) {
    const std::optional<ImageFormat> format = FormatFromPath(name);
    if (!format) {
      *failure = Failure{V_E_ARGUMENT, "Output file " + name + " must end in .png or .pgm"};
      return false;
    }
    if (!CheckOutputPath(name, failure)) {
      return false;
    }
    plan->formats.push_back(*format);
  }
  plan->names = std::move(*names);
  return true;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", seconds);
  return std::string(text) + (seconds == 1 ? " second" : " seconds");
}

// Reports how the run ended and gives its exit status. A signal that came
// before everything asked for was done makes it a cancelled run, whatever
// else went wrong; a failure then still shows on stderr.
int Conclude(Outcome &outcome, DeviceSession &session, Report &report, bool (Report::*success)(Failure *)) {
  session.Close();
  if (!outcome.failure && session.Failure()) {
    outcome.Fail(*session.Failure());
  }
  const int signal = InterruptSignal();
  if (signal != 0 && outcome.cutShort) {
    if (outcome.failure) {
      WriteStderr(FailureText(*outcome.failure));
    }
    Failure unwritten;
    if (!report.Cancelled(signal, &unwritten)) {
      WriteStderr(FailureText(unwritten));
    }
    return InterruptExitStatus(signal);
  }
  if (outcome.failure) {
    report.Fail(*outcome.failure);
    return kExitFailure;
  }
  if (outcome.timedOut) {
    Failure timedOut{V_E_TIMEOUT, outcome.timeoutText};
    report.Fail(timedOut);
    return kExitTimedOut;
  }
  Failure unwritten;
  if (!(report.*success)(&unwritten)) {
    report.Fail(unwritten);
    return kExitFailure;
  }
  return 0;
}

// Opens the device and reports its properties; false when the run cannot
// go on.
bool OpenAndDescribe(DeviceSession &session, Report &report, Outcome &outcome) {
  if (!session.Open()) {
    outcome.cutShort = true;
    if (session.Failure()) {
      outcome.Fail(*session.Failure());
    }
    return false;
  }
  Failure unwritten;
  if (!report.Device(session.Properties(), &unwritten)) {
    outcome.Fail(unwritten);
    return false;
  }
  return true;
}

}  // namespace

int RunCapture(const CaptureOptions &options) {
  Report report(options.device.json, options.count.has_value());
  Failure refused;
  OutputPlan plan;
  if (!CheckDeviceOptions(options.device, &refused) || !PlanOutputs(options, &plan, &refused)) {
    report.Fail(refused);
    return kExitFailure;
  }
  std::optional<std::chrono::milliseconds> timeout;
  if (options.timeoutSeconds) {
    timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(*options.timeoutSeconds * 1000)));
  }
  CancelWatcher watcher;
  std::string why;
  if (!watcher.Start(&why)) {
    report.Fail(Failure{V_E_FAILED, why});
    return kExitFailure;
  }
  // Progress goes to stderr, so that is the stream whose terminal decides
  // between redrawing in place and plain lines.
  Progress progress(stderr, isatty(STDERR_FILENO) != 0, options.device.quiet);
  DeviceSession session(options.device, &watcher, &progress);
  Outcome outcome;
  if (OpenAndDescribe(session, report, outcome)) {
    for (std::size_t i = 0; i < plan.names.size(); ++i) {
      vfw::Handle image;  // released before the module goes
      const CaptureEnd end = session.Capture(timeout, &image);
      if (end == CaptureEnd::kTimedOut) {
        outcome.cutShort = true;
        outcome.timedOut = true;
        outcome.timeoutText = "No finger on the scanner within " + SecondsText(*options.timeoutSeconds) +
                              "; the capture was cancelled";
        break;
      }
      if (end != CaptureEnd::kImage || session.Interrupted()) {
        outcome.cutShort = true;
        if (end == CaptureEnd::kFailed && session.Failure()) {
          outcome.Fail(*session.Failure());
        }
        break;
      }
      SavedImage saved;
      Failure failure;
      if (!SaveCapturedImage(image.get(), plan.names[i], plan.formats[i], &saved, &failure) ||
          !report.Saved(saved, &failure)) {
        outcome.Fail(failure);
        break;
      }
    }
  }
  progress.Finish();
  return Conclude(outcome, session, report, &Report::Captured);
}

int RunInfo(const DeviceOptions &options) {
  Report report(options.json);
  Failure refused;
  if (!CheckDeviceOptions(options, &refused)) {
    report.Fail(refused);
    return kExitFailure;
  }
  CancelWatcher watcher;
  std::string why;
  if (!watcher.Start(&why)) {
    report.Fail(Failure{V_E_FAILED, why});
    return kExitFailure;
  }
  Progress progress(stderr, isatty(STDERR_FILENO) != 0, options.quiet);
  DeviceSession session(options, &watcher, &progress);
  Outcome outcome;
  OpenAndDescribe(session, report, outcome);
  return Conclude(outcome, session, report, &Report::Identified);
}

}  // namespace bluefin::tool
