// `bluefin capture --address` without --emulated, the way a user captures
// from a real scanner: the command and VdmBlueFin.so in a child process on
// the fake Bluetooth kernel (LD_PRELOAD), the scanner in this one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"
#include "tests/radio/remote_device.h"

namespace vdm::radio::test {
namespace {

namespace emu = bluefin::emu;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The scanner's image saved; or, without a working link, the host's
// message and code, then one sentence that says what it means and what to
// do, and no file.
TEST(BluefinCommandOnTheRadio, CapturesOrSaysWhatToDo) {
  struct Case {
    const char *what;
    bool answers;  // a device answers at the address
    std::uint16_t serviceClass;
    std::vector<Verdict> rfcommPages;
    const char *says;  // nullptr: the capture succeeds
  } cases[] = {
      // clang-format off
      {"a paired scanner", true,  kSerialPortClass,     {},         nullptr},
      {"not paired",       true,  kSerialPortClass,     {{EACCES}}, "not paired with this computer"},
      {"out of range",     false, kSerialPortClass,     {},         "check that it is switched on and within a few metres"},
      {"no Serial Port",   true,  kObexObjectPushClass, {},         "offers no Serial Port service"},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    emu::Options options;
    options.address = emu::test::UniqueAddress();
    options.readyAfterPolls = 0;  // no two-second poll wait in the child
    emu::Emulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.Start(&error)) << error;
    std::optional<RemoteDevice> device;
    if (c.answers) {
      device.emplace(options.address, DeviceSetup{.records = {{{c.serviceClass}, 3}},
                                                  .served = 3,
                                                  .listenName = emulator.ListenName(),
                                                  .rfcommPages = c.rfcommPages});
    }
    char directory[] = "/tmp/vdm-radio-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const fs::path image = fs::path(directory) / "finger.pgm",
                   stderrText = fs::path(directory) / "stderr.txt";
    // The fake kernel goes ahead of any library already preloaded.
    const std::string command = "LD_PRELOAD='" VDM_FAKE_KERNEL_PATH
                                "'${LD_PRELOAD:+:$LD_PRELOAD} '" BLUEFIN_TOOL_PATH "' capture --address " +
                                options.address + " --out '" + image.string() +
                                "' </dev/null >/dev/null 2>'" + stderrText.string() + "'";
    const int waited = std::system(command.c_str());
    const int status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
    const std::string said = ReadFile(stderrText);
    if (c.says == nullptr) {
      EXPECT_EQ(status, 0) << said;
      const emu::Image pixels = emulator.ExpectedImage();
      EXPECT_TRUE(ReadFile(image) == "P5\n256 360\n255\n" + std::string(pixels.begin(), pixels.end()))
          << "the saved image is not the scanner's";
      EXPECT_EQ(device->RfcommConnects(), std::vector<std::uint8_t>{3});
    } else {
      EXPECT_EQ(status, 1) << said;
      EXPECT_NE(said.find("(code -90)"), std::string::npos) << said;
      EXPECT_NE(said.find(c.says), std::string::npos) << said;
      EXPECT_FALSE(fs::exists(image));
    }
    fs::remove_all(directory);
  }
}

}  // namespace
}  // namespace vdm::radio::test
