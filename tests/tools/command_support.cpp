#include "command_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <regex>

extern char **environ;

namespace bluefin::tool::test {

Child::Child(const std::vector<std::string> &args, const ChildOptions &options) {
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
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGUSR1}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
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

namespace {

struct Outcome {
  std::string name;
  std::string exitStatus;
  std::string json;
};

// The README's table, in its order.
const std::vector<Outcome> &Table() {
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
std::map<std::string, std::string> Fields(const std::string &json) {
  std::map<std::string, std::string> fields;
  const std::regex field(R"re("([A-Za-z]+)": (-?[0-9]+)?)re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), field); it != std::sregex_iterator(); ++it) {
    fields.emplace((*it)[1], (*it)[2]);
  }
  return fields;
}

}  // namespace

std::vector<std::string> DocumentedOutcomeNames() {
  std::vector<std::string> names;
  for (const Outcome &row : Table()) {
    names.push_back(row.name);
  }
  return names;
}

void ExpectDocumented(const std::string &outcome, const ChildResult &run, int signal) {
  const auto row =
      std::find_if(Table().begin(), Table().end(), [&](const Outcome &o) { return o.name == outcome; });
  ASSERT_NE(row, Table().end()) << "the README's table has no row '" << outcome << "'";
  if (signal == 0) {
    EXPECT_EQ(run.exitStatus, std::stoi(row->exitStatus)) << outcome << "\n" << run.err;
  } else {
    EXPECT_EQ(run.exitStatus, 128 + signal) << outcome << "\n" << run.err;
    EXPECT_NE(row->exitStatus.find(std::to_string(128 + signal) + " SIG" + sigabbrev_np(signal)),
              std::string::npos)
        << outcome << ": " << row->exitStatus;
  }
  if (row->json.find('{') == std::string::npos) {
    EXPECT_EQ(run.out, "") << outcome;
    return;
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << outcome << ": one line\n" << run.out;
  // The keys the row shows, and the numbers it shows; "…" stands for any value.
  const std::map<std::string, std::string> documented = Fields(row->json);
  std::map<std::string, std::string> seen = Fields(run.out);
  for (auto &[key, value] : seen) {
    if (documented.contains(key) && documented.at(key).empty()) {
      value.clear();
    }
  }
  EXPECT_EQ(seen, documented) << outcome << "\n" << run.out << "\n" << row->json;
}

}  // namespace bluefin::tool::test
