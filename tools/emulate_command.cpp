// emulate: a scanner on the emulated link in the foreground, for trying the
// command and a host out without a scanner. It logs every connection and
// command on stderr, and SIGUSR1 switches it off and on, which clears a key
// a host left it on, as the power switch does on a real scanner.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "emulator/emulator.h"
#include "tools/commands.h"
#include "tools/fault_spelling.h"
#include "tools/image_files.h"
#include "tools/streams.h"

namespace bluefin::tool {
namespace {

constexpr std::uint32_t kScannerWidth = 256;
constexpr std::uint32_t kScannerHeight = 360;
constexpr char kLogPrefix[] = "bluefin emulate: ";

int Fail(const Failure &failure) {
  WriteStderr(FailureText(failure));
  return kExitFailure;
}

// One to eight hexadecimal digits, with or without "0x".
std::optional<std::uint32_t> ParseSerial(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 8) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value << 4 | digit;
  }
  return value;
}

const char *KeyName(const emu::Key &key) {
  return key == emu::kDefaultKey ? "the default key" : "a session key";
}

const char *CaptureStateText(emu::CaptureState state) {
  switch (state) {
    case emu::CaptureState::kWaiting:
      return "waiting for a finger";
    case emu::CaptureState::kReady:
      return "finger on, image ready";
    case emu::CaptureState::kIdle:
      break;
  }
  return "idle";
}

// What a command did, as a log line shows it: the command, the key it came
// under, and what it changed.
std::string CommandText(const emu::TranscriptEntry &entry, const emu::ScannerSnapshot &scanner) {
  const std::string argument =
      entry.arguments.empty() ? std::string("?") : std::to_string(entry.arguments[0]);
  std::string name;
  std::string result;
  switch (static_cast<emu::Command>(entry.code)) {
    case emu::Command::kEcho:
      name = "echo";
      break;
    case emu::Command::kIdentity:
      name = "identity";
      break;
    case emu::Command::kSetKey:
      name = "set key";
      result = std::string("now on ") + KeyName(scanner.key);
      break;
    case emu::Command::kSetStatus:
      name = "set status " + argument;
      break;
    case emu::Command::kGetStatus:
      name = "status";
      result = CaptureStateText(scanner.capture);
      break;
    case emu::Command::kImagePart:
      name = "image part " + argument;
      break;
    default: {
      // A host on another key than the scanner's sends what decrypts to this.
      char code[8];
      std::snprintf(code, sizeof(code), "0x%02X", entry.code);
      name = std::string("unknown command ") + code;
      break;
    }
  }
  return name + " under " + KeyName(entry.key) + (result.empty() ? "" : "; " + result);
}

void Log(const emu::EmulatorEvent &event) {
  const std::string connection = "connection " + std::to_string(event.connection);
  switch (event.kind) {
    case emu::EmulatorEvent::Kind::kConnected:
      WriteStderr(kLogPrefix + connection + " opened\n");
      return;
    case emu::EmulatorEvent::Kind::kCommand:
      WriteStderr(kLogPrefix + connection + ": " + CommandText(*event.command, event.scanner) + "\n");
      return;
    case emu::EmulatorEvent::Kind::kDisconnected:
      WriteStderr(kLogPrefix + connection + " closed; the scanner is on " + KeyName(event.scanner.key) +
                  "\n");
      return;
  }
}

sigset_t EmulateSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) {
    sigaddset(&set, signal);
  }
  return set;
}

// The options turned into the emulator's; false after reporting why not.
bool Configure(const EmulateOptions &options, emu::Options *scanner, std::vector<emu::Fault> *faults,
               Failure *failure) {
  scanner->address = options.address;
  scanner->readyAfterPolls = options.readyAfter;
  scanner->freshImagePerCapture = options.newImagePerCapture;
  if (options.model) {
    scanner->model = *options.model;
  }
  if (options.serial) {
    const std::optional<std::uint32_t> serial = ParseSerial(*options.serial);
    if (!serial) {
      *failure =
          Failure{V_E_ARGUMENT, "Serial number must be 1 to 8 hexadecimal digits, not " + *options.serial};
      return false;
    }
    scanner->serial = *serial;
  }
  if (options.imagePath) {
    if (options.newImagePerCapture) {
      *failure = Failure{V_E_ARGUMENT, "--new-image-per-capture serves synthetic fingers; leave out --image"};
      return false;
    }
    std::optional<GreyImage> image = ReadImage(*options.imagePath, failure);
    if (!image) {
      return false;
    }
    if (image->width != kScannerWidth || image->height != kScannerHeight) {
      *failure = Failure{V_E_ARGUMENT, "Image " + *options.imagePath + " is " + std::to_string(image->width) +
                                           " x " + std::to_string(image->height) +
                                           " pixels; the scanner's images are 256 x 360"};
      return false;
    }
    scanner->image = std::move(image->pixels);
  }
  if (options.linkBitsPerSecond) {
    scanner->shaping.bitsPerSecond = *options.linkBitsPerSecond;
  }
  if (options.roundTripMilliseconds) {
    scanner->shaping.latency =
        std::chrono::microseconds(static_cast<std::int64_t>(*options.roundTripMilliseconds * 1000 / 2));
  }
  for (const std::string &spelling : options.faults) {
    const std::optional<emu::Fault> fault = ParseFault(spelling, failure);
    if (!fault) {
      return false;
    }
    faults->push_back(*fault);
  }
  if (!options.quiet) {
    scanner->observer = Log;
  }
  return true;
}

}  // namespace

int RunEmulate(const EmulateOptions &options) {
  emu::Options scanner;
  std::vector<emu::Fault> faults;
  Failure failure;
  if (!Configure(options, &scanner, &faults, &failure)) {
    return Fail(failure);
  }
  // Every signal the emulator answers is taken here, by sigwaitinfo, so it
  // must be blocked before the emulator's thread inherits the mask.
  const sigset_t signals = EmulateSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  emu::Emulator emulator(scanner);
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (!emulator.InjectFault(faults[i])) {
      return Fail(Failure{V_E_ARGUMENT, "Fault \"" + options.faults[i] + "\": the value is out of range"});
    }
  }
  std::string why;
  if (!emulator.Start(&why)) {
    return Fail(Failure{V_E_FAILED, "Cannot start the scanner emulator: " + why});
  }
  std::string banner = "Emulating a BlueFin scanner at " + options.address + ": model " + scanner.model;
  char serial[16];
  std::snprintf(serial, sizeof(serial), "%08X", scanner.serial);
  banner += std::string(", serial ") + serial + ", ready after " + std::to_string(scanner.readyAfterPolls) +
            (scanner.readyAfterPolls == 1 ? " poll\n" : " polls\n");
  if (scanner.shaping.Enabled()) {
    char shaping[96];
    std::snprintf(shaping, sizeof(shaping), "Link paced like a radio: %llu bit/s, %g ms round trip\n",
                  static_cast<unsigned long long>(scanner.shaping.bitsPerSecond),
                  options.roundTripMilliseconds.value_or(0));
    banner += shaping;
  }
  for (const std::string &spelling : options.faults) {
    banner += "Fault armed: " + spelling + "\n";
  }
  banner += "Listening on @" + emulator.ListenName() +
            "; capture with: bluefin capture --emulated --address " + options.address + "\n";
  banner += "Switch it off and on with: kill -USR1 " + std::to_string(getpid()) + "\n";
  banner += "Press Ctrl-C to stop.\n";
  // The banner is for a person; a closed stdout does not stop the scanner.
  if (!WriteStdout(banner, &failure)) {
    WriteStderr(FailureText(failure));
  }
  for (;;) {
    const int signal = sigwaitinfo(&signals, nullptr);
    if (signal == SIGUSR1) {
      emulator.ResetState();
      if (!options.quiet) {
        WriteStderr(std::string(kLogPrefix) + "switched off and on: the default key, idle\n");
      }
      continue;
    }
    if (signal > 0) {
      break;
    }
  }
  emulator.Stop();
  Failure unwritten;
  WriteStdout("Stopped.\n", &unwritten);
  std::clearerr(stdout);  // nobody reading the banner is no failure of the scanner
  return 0;
}

}  // namespace bluefin::tool
