// SIGINT and SIGTERM as events on a pipe. The handler only records the
// signal and writes one byte to the pipe; whatever the command does about it
// runs on an ordinary thread that waits for the pipe to become readable.
//
// The command blocks both signals at start, before it makes any thread, so
// that every thread it makes (the embedded emulator's, the cancel watcher)
// inherits the mask; exactly one thread unblocks them and takes the
// handler. No other thread, and none of the module's blocking calls, ever
// sees EINTR.
#ifndef BLUEFIN_TOOLS_INTERRUPTS_H
#define BLUEFIN_TOOLS_INTERRUPTS_H

#include <string>

namespace bluefin::tool {

// Installs the handlers; false with the reason when the pipe cannot be made.
// A second signal, once one has been seen, is not caught any more: it ends
// the process the default way, for a user who does not want to wait.
bool InstallInterruptHandlers(std::string *error);

// The pipe's read end. It stays readable once a signal came (nothing
// drains it), so a waiter stops watching it after the first wake-up.
int InterruptFd();

// The first signal caught, 0 before any.
int InterruptSignal();

// SIGINT and SIGTERM blocked, or unblocked, in the calling thread.
void BlockInterrupts();
void UnblockInterrupts();

// The exit status of a command ended by the signal: 128 + its number.
int InterruptExitStatus(int signal);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_INTERRUPTS_H
