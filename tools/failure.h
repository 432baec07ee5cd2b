// A failure of the command as it reaches the user: a host result code and a
// message that reads on its own, and, where the command can tell what it
// means for the user, a hint saying what to do.
#ifndef BLUEFIN_TOOLS_FAILURE_H
#define BLUEFIN_TOOLS_FAILURE_H

#include <string>
#include <string_view>
#include <utility>

#include "v_types.h"

namespace bluefin::tool {

struct Failure {
  Failure() = default;
  Failure(VResult code, std::string message) : code(code), message(std::move(message)) {}

  VResult code = V_E_FAILED;
  std::string message;
  // The platform's own code (errno on Linux) behind a code -90, and the
  // call it came from ("connect"); 0 and empty when there is none.
  int platformCode = 0;
  std::string call;
  std::string hint;  // one sentence, or empty
};

// The message for a failure: message itself, then the non-blank lines of the
// external call stack trimmed and joined with blanks, so that a platform
// failure reads "Connection refused at connect". When both are empty, a
// description of the code stands in: some failures carry a bare code.
std::string FailureMessage(VResult code, std::string_view message, std::string_view callStack);

// The call a platform failure names: the word after "at" on the call stack's
// first line ("   at connect\r\n" gives "connect"); empty without one.
std::string FailedCall(std::string_view callStack);

// "bluefin: MESSAGE (code N)", without a line end.
std::string FailureLine(const Failure &failure);

// The failure line, then "bluefin: hint: HINT" when there is a hint, each
// with its line end: what stderr shows for a failure.
std::string FailureText(const Failure &failure);

// A failure of a file operation of the command itself (code -90, as the host
// reports platform failures): "Cannot write PATH: strerror text".
Failure FileFailure(std::string_view action, std::string_view path, int error);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_FAILURE_H
