// The command run as a script runs it (no stdin, stdout and stderr through
// pipes), a scanner in the test process, and the README's outcomes.
#ifndef BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H
#define BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <regex>

#include "emulator/emulator.h"
#include "test_support.h"
#include "tools/json.h"

extern char **environ;

namespace bluefin::tool::test {

// Long enough for a sanitizer build on a busy machine; only a hung child or
// command ever reaches it.
inline constexpr std::chrono::seconds kHangGuard{120};

struct ChildResult {
  int exitStatus = -1;  // the exit code; 128 + n when a signal n ended it
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::string program = BLUEFIN_TOOL_PATH;
  // What the command runs through, as a shell would run it: /usr/bin/env,
  // /usr/bin/prlimit, /bin/sh -c to redirect.
  std::vector<std::string> wrapper{};
  bool closeStdout = false;  // nobody reads stdout: writes to it get EPIPE
};

// The module's two-second poll period a hundred times shorter, for runs that
// wait for a finger.
inline ChildOptions FastPolls(ChildOptions options = {}) {
  options.wrapper.insert(options.wrapper.begin(), {"/usr/bin/env", "VFW_TEST_SLEEP_DIVISOR=100"});
  return options;
}

inline std::vector<std::string> Concat(std::vector<std::string> first, const std::vector<std::string> &rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

class Child {
 public:
  // Starts the command with args. Fails the current test when it cannot.
  explicit Child(const std::vector<std::string> &args, const ChildOptions &options = {}) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2: " << errno;
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    // The test runner's signal mask and dispositions must not leak into the
    // command: it blocks, catches and ignores its signals itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> argv = Concat(options.wrapper, Concat({options.program}, args));
    std::vector<char *> pointers;
    for (std::string &arg : argv) {
      pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    if (options.closeStdout) {
      close(out_);
      out_ = -1;
    }
    if (error != 0) {
      pid_ = -1;
      ADD_FAILURE() << "posix_spawn " << argv[0] << ": " << error;
    }
  }
  ~Child() {  // kills a child still running
    Signal(SIGKILL);
    if (pid_ > 0) {
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // Reads until the stream (&ChildResult::out or ::err) holds text; false
  // if the streams closed or the hang guard ran out first.
  bool WaitFor(std::string ChildResult::*stream, std::string_view text) {
    return ReadUntil([&] { return (result_.*stream).find(text) != std::string::npos; });
  }
  void Signal(int signal) {
    if (pid_ > 0) {
      kill(pid_, signal);
    }
  }
  // Reads both streams to their end and reaps the child.
  ChildResult Finish() {
    if (!ReadUntil([this] { return out_ < 0 && err_ < 0; })) {
      ADD_FAILURE() << "the command did not finish; stderr so far:\n" << result_.err;
      Signal(SIGKILL);
    }
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result_;
  }

 private:
  bool ReadUntil(const std::function<bool()> &done) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};  // a closed stream's -1 is skipped
      const int ready =
          out_ < 0 && err_ < 0 ? 0 : poll(fds, 2, static_cast<int>(std::max<long>(left.count(), 0)));
      if (ready == 0 || (ready < 0 && errno != EINTR)) {
        return false;
      }
      for (int i = 0; ready > 0 && i < 2; ++i) {
        if (fds[i].revents == 0) {
          continue;
        }
        int &fd = i == 0 ? out_ : err_;
        char buffer[4096];
        const ssize_t count = read(fd, buffer, sizeof(buffer));
        if (count > 0) {
          (i == 0 ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(count));
        } else {
          close(fd);
          fd = -1;
        }
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ChildResult result_;
};

inline ChildResult RunBluefin(const std::vector<std::string> &args, const ChildOptions &options = {}) {
  return Child(args, options).Finish();
}

inline std::vector<std::string> EmulatedCommand(const std::string &address, const std::string &command,
                                                const std::vector<std::string> &extra = {}) {
  return Concat({command, "--emulated", "--address", address}, extra);
}

// A run refused before it starts: exit status 1, nothing on stdout, and
// stderr opening with the line, without ever connecting.
struct Refusal {
  std::vector<std::string> args;  // after the command's own
  std::string line;               // after "bluefin: "
};

inline void ExpectRefusals(const std::vector<std::string> &command, const std::vector<Refusal> &rows) {
  for (const Refusal &row : rows) {
    const ChildResult run = RunBluefin(Concat(command, row.args));
    EXPECT_EQ(run.exitStatus, 1) << row.line;
    EXPECT_EQ(run.out, "") << row.line;
    EXPECT_THAT(run.err, StartsWith("bluefin: " + row.line));
    EXPECT_THAT(run.err, Not(HasSubstr("Connecting")));
  }
}

// A scanner in the test process, for runs whose effect on it is the point,
// that answers "ready" after this many polls. It can hold its answer to one
// command until the test lets it go, so that a test knows where in the
// exchange the command is.
class TestScanner {
 public:
  explicit TestScanner(unsigned readyAfterPolls, emu::Options options = {}) : address_(UniqueAddress()) {
    options.address = address_;
    options.readyAfterPolls = readyAfterPolls;
    options.observer = [this](const emu::EmulatorEvent &event) { OnEvent(event); };
    emulator_.emplace(std::move(options));
    std::string why;
    EXPECT_TRUE(emulator_->Start(&why)) << why;
  }
  ~TestScanner() {  // lets a held answer go, then stops
    Release();
    emulator_->Stop();
  }

  const std::string &Address() const { return address_; }
  emu::Emulator &Emulator() { return *emulator_; }
  std::vector<std::string> Command(const std::string &command,
                                   const std::vector<std::string> &extra = {}) const {
    return EmulatedCommand(address_, command, extra);
  }
  bool OnDefaultKey() const { return emulator_->CurrentKey() == emu::kDefaultKey; }
  std::size_t Armings() const {  // the captures started
    const std::vector<emu::TranscriptEntry> transcript = emulator_->Transcript();
    return std::count_if(transcript.begin(), transcript.end(), [](const emu::TranscriptEntry &entry) {
      return Matches(entry, emu::Command::kSetStatus, emu::kStatusArmed);
    });
  }

  // The answer to the occurrence-th command from now with this code and
  // first argument byte waits until Release.
  void HoldAnswerTo(emu::Command command, std::uint8_t argument, unsigned occurrence = 1) {
    std::lock_guard lock(mutex_);
    hold_ = std::make_pair(command, argument);
    holdAfter_ = occurrence - 1;
    holding_ = released_ = false;
  }
  bool WaitUntilHolding() {  // false after the hang guard
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [this] { return holding_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  static bool Matches(const emu::TranscriptEntry &entry, emu::Command command, std::uint8_t argument) {
    return entry.code == emu::Code(command) && !entry.arguments.empty() && entry.arguments[0] == argument;
  }

  void OnEvent(const emu::EmulatorEvent &event) {
    std::unique_lock lock(mutex_);
    if (event.kind != emu::EmulatorEvent::Kind::kCommand || !hold_ ||
        !Matches(*event.command, hold_->first, hold_->second)) {
      return;
    }
    if (holdAfter_ > 0) {
      --holdAfter_;
      return;
    }
    hold_.reset();
    holding_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }

  std::string address_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::pair<emu::Command, std::uint8_t>> hold_;
  unsigned holdAfter_ = 0;  // matching commands to let pass first
  bool holding_ = false;
  bool released_ = false;
  std::optional<emu::Emulator> emulator_;
};

// Parts of the command's JSON objects: the scanner's identity, a saved image.
inline JsonObject Identity(const std::string &model = "BF-2000", const std::string &serial = "0BF12345",
                           const std::string &displayName = "TopLink Pacific Device") {
  JsonObject object;
  object.Add("id", "TopLink Pacific " + model + " " + serial).Add("displayName", displayName);
  object.Add("make", "TopLink Pacific").Add("model", model).Add("serialNumber", serial);
  return object;
}

inline JsonObject SavedImage(const std::string &path) {
  return std::move(
      JsonObject().Add("path", path).Add("width", 256).Add("height", 360).Add("resolution", 508.0));
}

struct Outcome {
  std::string name;
  std::string exitStatus;
  std::string json;
};

// The README's table of outcomes, in its order.
inline const std::vector<Outcome> &DocumentedOutcomes() {
  static const std::vector<Outcome> table = [] {
    std::vector<Outcome> rows;
    std::ifstream readme(BLUEFIN_README_PATH);
    std::string line;
    while (std::getline(readme, line) && line != "| Outcome | Exit status | stdout with `--json` |") {
    }
    std::getline(readme, line);  // the |---| line
    const std::regex row(R"(\| (.+?) \| (.+?) \| (.+) \|)");
    std::smatch cells;
    while (std::getline(readme, line) && std::regex_match(line, cells, row)) {
      std::string name = cells[1];
      std::erase(name, '`');
      rows.push_back({name, cells[2], cells[3]});
    }
    return rows;
  }();
  return table;
}

// Each key with the first value it shows when that is a number, else "".
inline std::map<std::string, std::string> JsonFields(const std::string &json) {
  std::map<std::string, std::string> fields;
  const std::regex field(R"re("([A-Za-z]+)": (-?[0-9]+)?)re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), field); it != std::sregex_iterator(); ++it) {
    fields.emplace((*it)[1], (*it)[2]);
  }
  return fields;
}

// The run exits as the README's row says (for a signal, as for its name),
// and its stdout has the row's keys and numbers, or is empty where the row
// says so.
inline void ExpectDocumented(const std::string &outcome, const ChildResult &run, int signal = 0) {
  const std::vector<Outcome> &table = DocumentedOutcomes();
  const auto row =
      std::find_if(table.begin(), table.end(), [&](const Outcome &o) { return o.name == outcome; });
  ASSERT_NE(row, table.end()) << "the README's table has no row '" << outcome << "'";
  if (signal == 0) {
    EXPECT_EQ(run.exitStatus, std::stoi(row->exitStatus)) << outcome << "\n" << run.err;
  } else {
    EXPECT_EQ(run.exitStatus, 128 + signal) << outcome << "\n" << run.err;
    EXPECT_THAT(row->exitStatus, HasSubstr(std::to_string(128 + signal) + " SIG" + sigabbrev_np(signal)));
  }
  if (row->json.find('{') == std::string::npos) {
    EXPECT_EQ(run.out, "") << outcome;
    return;
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << outcome << ": one line\n" << run.out;
  // The keys the row shows, and the numbers it shows; "…" stands for any value.
  const std::map<std::string, std::string> documented = JsonFields(row->json);
  std::map<std::string, std::string> seen = JsonFields(run.out);
  for (auto &[key, value] : seen) {
    if (documented.contains(key) && documented.at(key).empty()) {
      value.clear();
    }
  }
  EXPECT_EQ(seen, documented) << outcome << "\n" << run.out << "\n" << row->json;
}

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H
