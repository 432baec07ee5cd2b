// bluefin: capture fingerprints from a BlueFin scanner through the device
// module, show a scanner's identity, list the scanners BlueZ knows, or run
// an emulated scanner to capture from.
#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tools/commands.h"
#include "tools/failure.h"
#include "tools/interrupts.h"
#include "tools/streams.h"

namespace {

using namespace bluefin::tool;

constexpr std::array<std::string_view, 4> kCommands = {"capture", "info", "devices", "emulate"};
constexpr char kTryHelp[] = "Try 'bluefin --help' for more information.\n";

// Usage errors are not failures of a run: they exit with 2, as shells and
// scripts expect of a command that was called wrongly, and say so on stderr
// with the command's name in front.
int UsageError(const std::string &what) {
  WriteStderr("bluefin: " + what + "\n" + kTryHelp);
  return kExitUsage;
}

// Edits between two short words, for "did you mean".
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first argument names the command; CLI11 alone would call a misspelt
// one "not expected" or ask for a subcommand.
std::optional<int> CheckCommandWord(int argc, char **argv) {
  if (argc < 2) {
    return UsageError("a command is required: capture, info, devices or emulate");
  }
  const std::string_view word = argv[1];
  if (word.empty() || word[0] == '-' ||
      std::find(kCommands.begin(), kCommands.end(), word) != kCommands.end()) {
    return std::nullopt;
  }
  std::string message = "unknown command '" + std::string(word) + "'";
  for (std::string_view command : kCommands) {
    if (Distance(word, command) <= 2) {
      message += " (did you mean '" + std::string(command) + "'?)";
      break;
    }
  }
  return UsageError(message);
}

// The options of the commands that open a device, and where they land.
struct DeviceArguments {
  std::string address;
  std::string name;
  std::string modulePath;
  CLI::Option *addressOption = nullptr;
  CLI::Option *nameOption = nullptr;
  CLI::Option *moduleOption = nullptr;

  void AddTo(CLI::App *command, DeviceOptions *options) {
    addressOption =
        command->add_option("--address", address,
                            "The scanner's Bluetooth address; without it, a scanner emulated in the process");
    nameOption = command->add_option("--name", name, "The device's display name");
    command->add_flag("--emulated", options->emulated,
                      "Reach the scanner at --address over the emulated link (bluefin emulate)");
    command->add_flag("--json", options->json, "Print one JSON object on stdout, for scripts");
    command->add_flag("-q,--quiet", options->quiet, "Show no progress on stderr");
    moduleOption = command->add_option("--module", modulePath,
                                       "The device module library to load instead of the installed one");
  }

  void Fill(DeviceOptions *options) const {
    if (addressOption->count() > 0) {
      options->address = address;
    }
    if (nameOption->count() > 0) {
      options->name = name;
    }
    if (moduleOption->count() > 0) {
      options->modulePath = modulePath;
    }
  }
};

int Main(int argc, char **argv) {
  if (const std::optional<int> refused = CheckCommandWord(argc, argv)) {
    return *refused;
  }

  CLI::App app{"Capture fingerprints from a BlueFin scanner, or emulate one.", "bluefin"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "bluefin " BLUEFIN_VERSION);
  app.failure_message([](const CLI::App *, const CLI::Error &error) {
    return "bluefin: " + std::string(error.what()) + "\n" + kTryHelp;
  });

  CaptureOptions capture;
  DeviceArguments captureArguments;
  unsigned count = 0;
  double timeout = 0;
  CLI::App *captureCommand =
      app.add_subcommand("capture", "Capture fingerprint images and save them as PNG or PGM.");
  captureArguments.AddTo(captureCommand, &capture.device);
  captureCommand->add_option("--out", capture.out, "The image file, .png or .pgm; with --count a pattern")
      ->capture_default_str();
  CLI::Option *countOption =
      captureCommand
          ->add_option("--count", count, "Capture N images, named by the --out pattern (finger-%02d.png)")
          ->check(CLI::Range(1u, 100000u));
  CLI::Option *timeoutOption =
      captureCommand
          ->add_option("--timeout", timeout,
                       "Cancel a capture that has no finger on the scanner after SECONDS (exit status 124)")
          ->check(CLI::Range(0.001, 604800.0));

  DeviceOptions info;
  DeviceArguments infoArguments;
  CLI::App *infoCommand = app.add_subcommand(
      "info", "Connect to the scanner, show its identity and release it, without capturing.");
  infoArguments.AddTo(infoCommand, &info);

  DevicesOptions devices;
  CLI::App *devicesCommand = app.add_subcommand(
      "devices",
      "List the Bluetooth devices BlueZ knows that offer the Serial Port service, as scanners do.");
  devicesCommand->add_flag("--all", devices.all, "List every device BlueZ knows");
  devicesCommand->add_flag("--json", devices.json, "Print one JSON object on stdout, for scripts");

  EmulateOptions emulate;
  std::string imagePath;
  std::string model;
  std::string serial;
  std::uint64_t linkRate = 0;
  double roundTrip = 0;
  CLI::App *emulateCommand = app.add_subcommand(
      "emulate", "Run an emulated scanner in the foreground until Ctrl-C; SIGUSR1 switches it off and on.");
  emulateCommand->add_option("--address", emulate.address, "The emulated scanner's Bluetooth address")
      ->required();
  emulateCommand
      ->add_option("--ready-after", emulate.readyAfter, "Polls answered 'waiting' before the finger is 'on'")
      ->capture_default_str();
  CLI::Option *imageOption =
      emulateCommand->add_option("--image", imagePath, "A 256 x 360 greyscale PNG or PGM to serve");
  CLI::Option *modelOption = emulateCommand->add_option("--model", model, "Model text, up to 7 characters");
  CLI::Option *serialOption =
      emulateCommand->add_option("--serial", serial, "Serial number, up to 8 hexadecimal digits");
  emulateCommand
      ->add_option("--fault", emulate.faults,
                   "Inject a fault, KIND[=VALUE][@WHERE]; repeatable (see bluefin(1))")
      ->allow_extra_args(false);
  CLI::Option *linkRateOption =
      emulateCommand->add_option("--link-rate", linkRate, "Pace the link to BITS per second")
          ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000000}));
  CLI::Option *roundTripOption =
      emulateCommand->add_option("--round-trip", roundTrip, "Add MILLISECONDS of round-trip latency")
          ->check(CLI::Range(0.0, 60000.0));
  emulateCommand->add_flag("--new-image-per-capture", emulate.newImagePerCapture,
                           "Serve a new synthetic finger at every capture");
  emulateCommand->add_flag("-q,--quiet", emulate.quiet, "Log no connections and commands on stderr");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kExitUsage;
  }

  if (captureCommand->parsed()) {
    captureArguments.Fill(&capture.device);
    if (countOption->count() > 0) {
      capture.count = count;
    }
    if (timeoutOption->count() > 0) {
      capture.timeoutSeconds = timeout;
    }
    return RunCapture(capture);
  }
  if (infoCommand->parsed()) {
    infoArguments.Fill(&info);
    return RunInfo(info);
  }
  if (devicesCommand->parsed()) {
    return RunDevices(devices);
  }
  if (imageOption->count() > 0) {
    emulate.imagePath = imagePath;
  }
  if (modelOption->count() > 0) {
    emulate.model = model;
  }
  if (serialOption->count() > 0) {
    emulate.serial = serial;
  }
  if (linkRateOption->count() > 0) {
    emulate.linkBitsPerSecond = linkRate;
  }
  if (roundTripOption->count() > 0) {
    emulate.roundTripMilliseconds = roundTrip;
  }
  return RunEmulate(emulate);
}

}  // namespace

int main(int argc, char **argv) {
  // Before any thread exists, so that all of them inherit the mask; one
  // thread unblocks the signals later (see interrupts.h).
  BlockInterrupts();
  std::string why;
  if (!InstallInterruptHandlers(&why)) {
    WriteStderr(FailureText(Failure{V_E_WIN32, why}));
    return kExitFailure;
  }
  int status = Main(argc, argv);
  // What went to stdout without a check of its own (help, the version)
  // must have arrived too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const int error = errno != 0 ? errno : EIO;
    if (status == 0) {
      WriteStderr(FailureText(
          Failure{V_E_WIN32, std::string("Cannot write to standard output: ") + std::strerror(error)}));
      status = kExitFailure;
    }
  }
  const int signal = InterruptSignal();
  if (signal != 0 && status == InterruptExitStatus(signal)) {
    EndBySignal(signal);
  }
  return status;
}
