// Runs the bluefin command as a child process, the way a script does: no
// stdin, stdout and stderr read through pipes, and the exit status.
#ifndef BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H
#define BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bluefin::tool::test {

struct ChildResult {
  int exitStatus = -1;  // the exit code; 128 + n when a signal n ended it
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::string program = BLUEFIN_TOOL_PATH;
  std::string cwd{};                         // the test's own when empty
  std::map<std::string, std::string> env{};  // added to the test's environment
  std::optional<std::string> stdoutPath{};   // stdout goes to this file instead of a pipe
  bool closeStdout = false;                  // nobody reads stdout: writes to it get EPIPE
  std::optional<rlim_t> fileSizeLimit{};     // RLIMIT_FSIZE, in bytes
};

// The module's two-second poll period a hundred times shorter, for runs that
// wait for a finger.
ChildOptions FastPolls(ChildOptions options = {});

class Child {
 public:
  enum class Stream { kOut, kErr };

  // Starts the command with args. Fails the current test when it cannot.
  explicit Child(const std::vector<std::string> &args, const ChildOptions &options = {});
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
  // What came so far.
  const ChildResult &Seen() const { return result_; }

 private:
  // Reads until done() holds; false if the streams closed or the hang guard ran out first.
  bool ReadUntil(const std::function<bool()> &done);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ChildResult result_;
};

// Starts, then finishes.
ChildResult RunBluefin(const std::vector<std::string> &args, const ChildOptions &options = {});

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_CHILD_PROCESS_H
