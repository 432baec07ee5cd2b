#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>

extern char **environ;

namespace bluefin::tool::test {
namespace {

// Long enough for a sanitizer build on a busy machine; only a hung child
// ever reaches it.
constexpr std::chrono::seconds kHangGuard{120};

}  // namespace

ChildOptions FastPolls(ChildOptions options) {
  options.env["VFW_TEST_SLEEP_DIVISOR"] = "100";
  return options;
}

Child::Child(const std::vector<std::string> &args, const ChildOptions &options) {
  int outPipe[2] = {-1, -1};
  int errPipe[2];
  if ((!options.stdoutPath && pipe2(outPipe, O_CLOEXEC) != 0) || pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << errno;
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (options.stdoutPath) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.stdoutPath->c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  } else {
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  if (!options.cwd.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  }
  // The test runner's signal mask and dispositions must not leak into the
  // command: it blocks, catches and ignores its signals itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGUSR1}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argv = {options.program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> pointers;
  for (std::string &arg : argv) {
    pointers.push_back(arg.data());
  }
  pointers.push_back(nullptr);
  std::vector<std::string> environment;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!options.env.contains(std::string(text.substr(0, text.find('='))))) {
      environment.emplace_back(text);
    }
  }
  for (const auto &[name, value] : options.env) {
    environment.push_back(name + "=" + value);
  }
  std::vector<char *> environmentPointers;
  for (std::string &entry : environment) {
    environmentPointers.push_back(entry.data());
  }
  environmentPointers.push_back(nullptr);

  // The limit is inherited at the spawn; only the test's main thread
  // spawns, and it writes no file while the limit is down.
  rlimit savedLimit{};
  if (options.fileSizeLimit) {
    getrlimit(RLIMIT_FSIZE, &savedLimit);
    const rlimit limit{*options.fileSizeLimit, savedLimit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  const int error = posix_spawn(&pid_, options.program.c_str(), &actions, &attributes, pointers.data(),
                                environmentPointers.data());
  if (options.fileSizeLimit) {
    setrlimit(RLIMIT_FSIZE, &savedLimit);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (outPipe[1] >= 0) {
    close(outPipe[1]);
  }
  close(errPipe[1]);
  out_ = outPipe[0];
  err_ = errPipe[0];
  if (options.closeStdout && out_ >= 0) {
    close(out_);
    out_ = -1;
  }
  if (error != 0) {
    pid_ = -1;
    ADD_FAILURE() << "posix_spawn " << options.program << ": " << error;
  }
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {out_, err_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool Child::ReadUntil(const std::function<bool()> &done) {
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

bool Child::WaitFor(Stream stream, std::string_view text) {
  const std::string &seen = stream == Stream::kOut ? result_.out : result_.err;
  return ReadUntil([&] { return seen.find(text) != std::string::npos; });
}

void Child::Signal(int signal) {
  if (pid_ > 0) {
    kill(pid_, signal);
  }
}

ChildResult Child::Finish() {
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

ChildResult RunBluefin(const std::vector<std::string> &args, const ChildOptions &options) {
  Child child(args, options);
  return child.Finish();
}

}  // namespace bluefin::tool::test
