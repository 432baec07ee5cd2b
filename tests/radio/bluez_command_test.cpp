// `bluefin capture --address` without --emulated, the way a user captures
// from a real scanner: the command and VdmBlueFin.so in a child process on
// the fake Bluetooth kernel (LD_PRELOAD), the scanner in this one.
#include <cstdlib>
#include <optional>
#include <string>

#include "tests/radio/radio_host.h"
#include "tests/radio/remote_device.h"
#include "tests/tools/command_support.h"

namespace vdm::radio::test {
namespace {

using bluefin::tool::test::ChildOptions;
using bluefin::tool::test::FileText;
using bluefin::tool::test::ScratchDir;

using BluefinCommandOnTheRadio = RadioHost;  // the module runs in the child

// The scanner's image saved; or, without a working link, the host's
// message and code, then one sentence that says what it means and what to
// do, and no file.

TEST_F(BluefinCommandOnTheRadio, CapturesOrSaysWhatToDo) {
  // The fake kernel goes ahead of any library already preloaded.
  const char *preloaded = std::getenv("LD_PRELOAD");
  const ChildOptions onTheFakeKernel{
      .wrapper = {"/usr/bin/env",
                  "LD_PRELOAD=" VDM_FAKE_KERNEL_PATH + (preloaded ? ":" + std::string(preloaded) : "")}};
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
    emu::Emulator &emulator = StartScanner(ReadyAfter(0));  // no two-second poll wait in the child
    const std::string address = AddressOf(emulator);
    std::optional<RemoteDevice> device;
    if (c.answers) {
      device.emplace(address, DeviceSetup{.records = {{{c.serviceClass}, 3}},
                                          .served = 3,
                                          .listenName = emulator.ListenName(),
                                          .rfcommPages = c.rfcommPages});
    }
    ScratchDir dir;
    const std::string image = dir / "finger.pgm";
    const auto run =
        bluefin::tool::test::RunBluefin({"capture", "--address", address, "--out", image}, onTheFakeKernel);
    if (c.says == nullptr) {
      EXPECT_EQ(run.exitStatus, 0) << run.err;
      const emu::Image pixels = emulator.ExpectedImage();
      EXPECT_TRUE(FileText(image) == "P5\n256 360\n255\n" + std::string(pixels.begin(), pixels.end()))
          << "the saved image is not the scanner's";
      EXPECT_EQ(device->RfcommConnects(), std::vector<std::uint8_t>{3});
    } else {
      EXPECT_EQ(run.exitStatus, 1) << run.err;
      EXPECT_NE(run.err.find("(code -90)"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
      EXPECT_FALSE(std::filesystem::exists(image));
    }
  }
}

}  // namespace
}  // namespace vdm::radio::test
