// What a failure means for the person at the keyboard: for the failures a
// user meets while setting a scanner up (no Bluetooth, not paired, out of
// range, the wrong device, no emulator listening, a scanner left on another
// program's key), one sentence saying what it means and what to do. The
// host's message and code stay as they are; the hint comes after them.
#ifndef BLUEFIN_TOOLS_HINTS_H
#define BLUEFIN_TOOLS_HINTS_H

#include <string>

#include "tools/failure.h"

namespace bluefin::tool {

// How the command reaches the scanner.
enum class Link { kBuiltIn, kEmulated, kRadio };

// What the command was doing when it failed.
enum class Stage { kConnecting, kCapturing };

struct HintContext {
  Link link = Link::kRadio;
  Stage stage = Stage::kConnecting;
  std::string address;  // as the user gave it
};

// The hint for a failure (its code, platform code and failed call), or
// empty when the command has nothing to add.
std::string HintFor(const Failure &failure, const HintContext &context);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_HINTS_H
