// `bluefin capture --address` without --emulated, the way a user captures
// from a real scanner: the command and VdmBlueFin.so in a child process on
// the fake Bluetooth kernel (LD_PRELOAD), the scanner in this one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"
#include "tests/radio/remote_device.h"

extern char **environ;

namespace vdm::radio::test {
namespace {

namespace emu = bluefin::emu;
namespace fs = std::filesystem;

// The exit status of the command run with the fake kernel preloaded; its
// stderr goes to errPath.
int RunOnTheFakeKernel(const std::vector<std::string> &args, const std::string &errPath) {
  std::vector<std::string> environment;
  std::string preload = "LD_PRELOAD=" VDM_FAKE_KERNEL_PATH;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (variable.rfind("LD_PRELOAD=", 0) == 0) {
      preload += ":" + variable.substr(11);
    } else {
      environment.push_back(variable);
    }
  }
  environment.push_back(preload);
  std::vector<char *> envp;
  for (std::string &variable : environment) {
    envp.push_back(variable.data());
  }
  envp.push_back(nullptr);
  std::vector<std::string> argsCopy = args;
  std::vector<char *> argv;
  for (std::string &arg : argsCopy) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The pixels of a binary PGM, or nothing when the file is not one.
std::vector<std::uint8_t> PgmPixels(const std::string &file) {
  std::istringstream in(file);
  std::string magic;
  std::size_t width = 0, height = 0, maxValue = 0;
  in >> magic >> width >> height >> maxValue;
  if (!in || magic != "P5" || maxValue != 255 || in.get() == EOF) {
    return {};
  }
  const auto start = static_cast<std::size_t>(in.tellg());
  if (file.size() - start != width * height) {
    return {};
  }
  return std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(start), file.end());
}

TEST(BluefinCommandOnTheRadio, CapturesFromAScannerOverBluetooth) {
  emu::Options options;
  options.address = bluefin::emu::test::UniqueAddress();
  options.readyAfterPolls = 0;  // no two-second poll wait in the child
  emu::Emulator emulator(options);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  RemoteDevice device(options.address);
  device.AddRecord({{kSerialPortClass}, 3, "Serial Port"});
  device.Serve(3, emulator.ListenName());

  char directory[] = "/tmp/vdm-radio-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const fs::path image = fs::path(directory) / "finger.pgm";
  const fs::path errors = fs::path(directory) / "stderr.txt";
  const int status = RunOnTheFakeKernel(
      {BLUEFIN_TOOL_PATH, "capture", "--address", options.address, "--out", image}, errors);
  EXPECT_EQ(status, 0) << ReadFile(errors);
  EXPECT_TRUE(PgmPixels(ReadFile(image)) == emulator.ExpectedImage())
      << "the saved image is not the scanner's";
  EXPECT_EQ(device.RfcommConnects(), std::vector<std::uint8_t>{3});
  fs::remove_all(directory);
}

// What a user meets without a working link: the host's message and code,
// then one sentence that says what it means and what to do.
TEST(BluefinCommandOnTheRadio, ARadioFailureSaysWhatToDo) {
  struct Case {
    const char *what;
    bool serialPort;  // the device offers the Serial Port service
    Link link;
    int error;
    const char *says;
  } cases[] = {
      // clang-format off
      {"not paired",      true,  Link::kRfcomm, EACCES,    "not paired with this computer"},
      {"out of range",    true,  Link::kL2cap,  EHOSTDOWN, "check that it is switched on and within a few metres"},
      {"page time-out",   true,  Link::kL2cap,  ETIMEDOUT, "check that it is switched on and within a few metres"},
      {"no Serial Port",  false, Link::kL2cap,  0,         "offers no Serial Port service"},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string address = bluefin::emu::test::UniqueAddress();
    RemoteDevice device(address);
    device.AddRecord({{c.serialPort ? kSerialPortClass : kObexObjectPushClass}, 3, "Service"});
    if (c.error != 0) {
      device.Script(c.link, {c.error, false});
    }
    char directory[] = "/tmp/vdm-radio-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const fs::path errors = fs::path(directory) / "stderr.txt";
    const int status = RunOnTheFakeKernel(
        {BLUEFIN_TOOL_PATH, "capture", "--address", address, "--out", fs::path(directory) / "finger.png"},
        errors);
    const std::string said = ReadFile(errors);
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("(code -90)"), std::string::npos) << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(fs::path(directory) / "finger.png"));
    fs::remove_all(directory);
  }
}

}  // namespace
}  // namespace vdm::radio::test
