// A failure of the command as it reaches the user: a host result code and a
// message that reads on its own.
#ifndef BLUEFIN_TOOLS_FAILURE_H
#define BLUEFIN_TOOLS_FAILURE_H

#include <string>
#include <string_view>

#include "v_types.h"

namespace bluefin::tool {

struct Failure {
  VResult code = V_E_FAILED;
  std::string message;
};

// The message for a failure: message itself, then the non-blank lines of the
// external call stack trimmed and joined with blanks, so that a platform
// failure reads "Connection refused at connect". When both are empty, a
// description of the code stands in: some failures carry a bare code.
std::string FailureMessage(VResult code, std::string_view message, std::string_view callStack);

// "bluefin: MESSAGE (code N)", without a line end.
std::string FailureLine(const Failure &failure);

// A failure of a file operation of the command itself (code -90, as the host
// reports platform failures): "Cannot write PATH: strerror text".
Failure FileFailure(std::string_view action, std::string_view path, int error);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_FAILURE_H
