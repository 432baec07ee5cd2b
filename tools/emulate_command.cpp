#include <poll.h>

#include <cstdio>

#include "emulator/emulator.h"
#include "tools/commands.h"
#include "tools/image_files.h"
#include "tools/interrupts.h"

namespace bluefin::tool {
namespace {

constexpr std::uint32_t kScannerWidth = 256;
constexpr std::uint32_t kScannerHeight = 360;

int Fail(const Failure &failure) {
  std::fprintf(stderr, "%s\n", FailureLine(failure).c_str());
  return 1;
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

void WaitForInterrupt() {
  UnblockInterrupts();
  pollfd interrupt{InterruptFd(), POLLIN, 0};
  while (poll(&interrupt, 1, -1) <= 0) {
    // EINTR: the handler ran on this thread; the pipe is readable now.
  }
}

}  // namespace

int RunEmulate(const EmulateOptions &options) {
  emu::Options scanner;
  scanner.address = options.address;
  scanner.readyAfterPolls = options.readyAfter;
  if (options.model) {
    scanner.model = *options.model;
  }
  if (options.serial) {
    const std::optional<std::uint32_t> serial = ParseSerial(*options.serial);
    if (!serial) {
      return Fail(
          Failure{V_E_ARGUMENT, "Serial number must be 1 to 8 hexadecimal digits, not " + *options.serial});
    }
    scanner.serial = *serial;
  }
  if (options.imagePath) {
    Failure failure;
    std::optional<GreyImage> image = ReadImage(*options.imagePath, &failure);
    if (!image) {
      return Fail(failure);
    }
    if (image->width != kScannerWidth || image->height != kScannerHeight) {
      return Fail(Failure{V_E_ARGUMENT,
                          "Image " + *options.imagePath + " is " + std::to_string(image->width) + " x " +
                              std::to_string(image->height) + " pixels; the scanner's images are 256 x 360"});
    }
    scanner.image = std::move(image->pixels);
  }
  // Started while the interrupt signals are still blocked here, so that the
  // emulator's thread never takes them.
  emu::Emulator emulator(scanner);
  std::string why;
  if (!emulator.Start(&why)) {
    return Fail(Failure{V_E_FAILED, "Cannot start the scanner emulator: " + why});
  }
  std::printf("Emulating a BlueFin scanner at %s: model %s, serial %08X, ready after %u poll%s\n",
              options.address.c_str(), scanner.model.c_str(), scanner.serial, scanner.readyAfterPolls,
              scanner.readyAfterPolls == 1 ? "" : "s");
  std::printf("Listening on @%s; capture with: bluefin capture --emulated --address %s\n",
              emulator.ListenName().c_str(), options.address.c_str());
  std::printf("Press Ctrl-C to stop.\n");
  std::fflush(stdout);
  WaitForInterrupt();
  emulator.Stop();
  std::printf("Stopped.\n");
  return 0;
}

}  // namespace bluefin::tool
