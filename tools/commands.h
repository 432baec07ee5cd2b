// The command's two sub-commands, each run to the end and giving the
// process's exit status.
#ifndef BLUEFIN_TOOLS_COMMANDS_H
#define BLUEFIN_TOOLS_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>

namespace bluefin::tool {

// The scanner the capture uses when no address is given, emulated inside
// the process.
inline constexpr char kEmbeddedScannerAddress[] = "0B:F1:00:00:00:01";
inline constexpr char kDefaultImagePath[] = "finger.png";

struct CaptureOptions {
  std::optional<std::string> address;
  std::optional<std::string> name;
  bool emulated = false;
  std::string out = kDefaultImagePath;
  bool json = false;
  std::optional<std::string> modulePath;
};

struct EmulateOptions {
  std::string address;
  unsigned readyAfter = 1;
  std::optional<std::string> imagePath;
  std::optional<std::string> model;
  std::optional<std::string> serial;  // hexadecimal text, checked by the command
};

// 0 with an image written; 1 on a failure; 128 + the signal when
// interrupted.
int RunCapture(const CaptureOptions &options);
// 0 once stopped by SIGINT or SIGTERM; 1 when the emulator cannot start.
int RunEmulate(const EmulateOptions &options);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_COMMANDS_H
