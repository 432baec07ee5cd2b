// Runs the bluefin command as a child process, the way a script does: no
// stdin, stdout and stderr read through pipes, and the exit status.
#ifndef BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H
#define BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bluefin::tool::test {

struct ChildResult {
  int exitStatus = -1;  // the exit code; 128 + n when a signal n ended it
  std::string out;
  std::string err;
};

class Child {
 public:
  enum class Stream { kOut, kErr };

  // Starts the built bluefin command with args, in directory cwd when not
  // empty. Fails the current test when it cannot.
  Child(const std::vector<std::string> &args, const std::string &cwd = {});
  ~Child();  // kills a child still running
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // Reads until the stream holds text; false if the child closed its
  // streams, or nothing came within a generous deadline (a hang guard, not
  // a timing check).
  bool WaitFor(Stream stream, std::string_view text);
  void Signal(int signal);
  // Reads both streams to their end and reaps the child.
  ChildResult Finish();

 private:
  // Reads until done() holds; false if the streams closed or the hang guard ran out first.
  bool ReadUntil(const std::function<bool()> &done);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ChildResult result_;
};

// Starts, then finishes.
ChildResult RunBluefin(const std::vector<std::string> &args, const std::string &cwd = {});

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H
