// The command's writes to stdout and stderr. What goes to stdout is the
// result a script reads, so a write that fails there (a reader that went
// away, a full disk) is a failure of the command; stderr is where failures
// are told, so nothing is left to tell a failure there to.
#ifndef BLUEFIN_TOOLS_STREAMS_H
#define BLUEFIN_TOOLS_STREAMS_H

#include <string_view>

#include "tools/failure.h"

namespace bluefin::tool {

// All of text, flushed at once; false with "Cannot write to standard
// output: REASON" (code -90) when stdout did not take it.
bool WriteStdout(std::string_view text, Failure *failure);

// Best effort, flushed at once.
void WriteStderr(std::string_view text);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_STREAMS_H
