// The command's sub-commands, each run to the end and giving the process's
// exit status.
#ifndef BLUEFIN_TOOLS_COMMANDS_H
#define BLUEFIN_TOOLS_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bluefin::tool {

// The scanner the capture uses when no address is given, emulated inside
// the process. Its listening name is machine-wide, so a second command
// running at the same time takes the next address, up to the last one.
inline constexpr char kEmbeddedScannerAddress[] = "0B:F1:00:00:00:01";
inline constexpr unsigned kEmbeddedScannerAddresses = 64;
inline constexpr char kDefaultImagePath[] = "finger.png";

// Exit statuses besides 0; a command ended by a signal exits 128 + its
// number (see interrupts.h).
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// As timeout(1) does when the time runs out.
inline constexpr int kExitTimedOut = 124;

// What every command that opens a device takes.
struct DeviceOptions {
  std::optional<std::string> address;
  std::optional<std::string> name;
  bool emulated = false;
  std::optional<std::string> modulePath;
  bool json = false;
  bool quiet = false;
};

struct CaptureOptions {
  DeviceOptions device;
  std::string out = kDefaultImagePath;
  std::optional<unsigned> count;
  std::optional<double> timeoutSeconds;
};

struct DevicesOptions {
  bool all = false;  // also the devices without the Serial Port service
  bool json = false;
};

struct EmulateOptions {
  std::string address;
  unsigned readyAfter = 1;
  std::optional<std::string> imagePath;
  std::optional<std::string> model;
  std::optional<std::string> serial;  // hexadecimal text, checked by the command
  std::vector<std::string> faults;    // KIND[=VALUE][@WHERE], checked by the command
  std::optional<std::uint64_t> linkBitsPerSecond;
  std::optional<double> roundTripMilliseconds;
  bool newImagePerCapture = false;
  bool quiet = false;
};

// 0 with every image written; 1 on a failure; 124 when --timeout ran out
// before a finger was on the scanner; 128 + the signal when interrupted.
int RunCapture(const CaptureOptions &options);
// 0 with the identity printed; otherwise as RunCapture.
int RunInfo(const DeviceOptions &options);
// 0 with the list printed (empty included); 1 when BlueZ cannot be asked.
int RunDevices(const DevicesOptions &options);
// 0 once stopped by SIGINT, SIGTERM, SIGHUP or SIGQUIT; 1 when the emulator
// cannot start.
int RunEmulate(const EmulateOptions &options);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_COMMANDS_H
