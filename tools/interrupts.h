// The signals that end a command, as events on a pipe. The handler only
// records the signal and writes one byte to the pipe; whatever the command
// does about it runs on an ordinary thread that waits for the pipe to become
// readable.
//
// SIGINT (Ctrl-C), SIGTERM, SIGHUP (the terminal went away) and SIGQUIT
// (Ctrl-\) all ask for the same thing: cancel, give the scanner back, end.
// The command blocks them at start, before it makes any thread, so that
// every thread it makes (the embedded emulator's, the cancel watcher)
// inherits the mask; exactly one thread unblocks them and takes the handler.
// No other thread, and none of the module's blocking calls, ever sees EINTR.
//
// SIGPIPE and SIGXFSZ are ignored: a reader that went away (`| head`) or a
// file size limit must show as a failed write, which the command reports
// after giving the scanner back, not end the process with the scanner
// still on its session key.
#ifndef BLUEFIN_TOOLS_INTERRUPTS_H
#define BLUEFIN_TOOLS_INTERRUPTS_H

#include <string>

namespace bluefin::tool {

// Installs the handlers and ignores the write signals; false with the
// reason when the pipe cannot be made. A second signal, once one has been
// seen, is not caught any more: it ends the process the default way, for a
// user who does not want to wait.
bool InstallInterruptHandlers(std::string *error);

// The pipe's read end. It stays readable once a signal came (nothing
// drains it), so a waiter stops watching it after the first wake-up.
int InterruptFd();

// The first signal caught, 0 before any.
int InterruptSignal();

// The signals above blocked, or unblocked, in the calling thread.
void BlockInterrupts();
void UnblockInterrupts();

// The exit status of a command ended by the signal: 128 + its number.
int InterruptExitStatus(int signal);

// Ends the process for the signal once the command has cleaned up, so that
// the parent sees what it expects: killed by SIGINT, SIGTERM or SIGHUP (a
// shell stops its loop on that, and shows 128 + n), and exit status 131
// after SIGQUIT, whose default action would dump core.
[[noreturn]] void EndBySignal(int signal);

// "SIGINT" and the like, for messages.
const char *SignalName(int signal);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_INTERRUPTS_H
