// The emulator's faults as `bluefin emulate --fault` spells them:
// KIND[=VALUE][@WHERE], for example "silence@key", "close-mid-frame=10@part3"
// or "stray-frames=2@status:every".
//
// KIND is one of the emulator's fault kinds in lower case with hyphens
// (stray-frames, bad-data-checksum, bad-header-checksum, payload-length,
// declared-length, wrong-echo, refuse-key, wrong-status-echo,
// invalid-image-part, silence, close-mid-frame, foreign-key). VALUE is the
// kind's number where it takes one. WHERE names the command the fault hits:
// echo, identity, key, status, set-status, part (any image part) or part0
// to part11, then optionally ":N" for its N-th occurrence (1 without) or
// ":every" for all of them. The kinds made for one command (wrong-echo,
// refuse-key, wrong-status-echo, invalid-image-part) hit it without WHERE.
#ifndef BLUEFIN_TOOLS_FAULT_SPELLING_H
#define BLUEFIN_TOOLS_FAULT_SPELLING_H

#include <optional>
#include <string_view>

#include "emulator/fault.h"
#include "tools/failure.h"

namespace bluefin::tool {

std::optional<emu::Fault> ParseFault(std::string_view spelling, Failure *failure);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_FAULT_SPELLING_H
