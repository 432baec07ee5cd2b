// bluefin: capture a fingerprint from a BlueFin scanner through the device
// module, or run an emulated scanner to capture from.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/commands.h"
#include "tools/failure.h"
#include "tools/interrupts.h"

namespace {

// Usage errors are not failures of a run: they exit with 2, as shells and
// scripts expect of a command that was called wrongly.
constexpr int kUsageExitStatus = 2;

}  // namespace

int main(int argc, char **argv) {
  using namespace bluefin::tool;
  // Before any thread exists, so that all of them inherit the mask; one
  // thread unblocks the signals later (see interrupts.h).
  BlockInterrupts();
  std::string why;
  if (!InstallInterruptHandlers(&why)) {
    std::fprintf(stderr, "%s\n", FailureLine(Failure{V_E_WIN32, why}).c_str());
    return 1;
  }

  CLI::App app{"Capture a fingerprint from a BlueFin scanner, or emulate one.", "bluefin"};
  app.require_subcommand(1);

  CaptureOptions capture;
  std::string address;
  std::string name;
  std::string modulePath;
  CLI::App *captureCommand =
      app.add_subcommand("capture", "Capture one fingerprint image and save it as PNG or PGM.");
  CLI::Option *addressOption = captureCommand->add_option(
      "--address", address, "The scanner's Bluetooth address; without it, a scanner emulated in the process");
  CLI::Option *nameOption = captureCommand->add_option("--name", name, "The device's display name");
  captureCommand->add_flag("--emulated", capture.emulated,
                           "Reach the scanner at --address over the emulated link (bluefin emulate)");
  captureCommand->add_option("--out", capture.out, "The image file: .png or .pgm")->capture_default_str();
  captureCommand->add_flag("--json", capture.json, "Print one JSON object on stdout, for scripts");
  CLI::Option *moduleOption = captureCommand->add_option(
      "--module", modulePath, "The device module library to load instead of the built one");

  EmulateOptions emulate;
  std::string imagePath;
  std::string model;
  std::string serial;
  CLI::App *emulateCommand =
      app.add_subcommand("emulate", "Run an emulated scanner in the foreground until Ctrl-C.");
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kUsageExitStatus;
  }

  if (captureCommand->parsed()) {
    if (addressOption->count() > 0) {
      capture.address = address;
    }
    if (nameOption->count() > 0) {
      capture.name = name;
    }
    if (moduleOption->count() > 0) {
      capture.modulePath = modulePath;
    }
    return RunCapture(capture);
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
  return RunEmulate(emulate);
}
