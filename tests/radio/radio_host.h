// The radio build of the module (VdmBlueFin.so or VdmBlueFin.dll) loaded
// through the framework's device manager as the host loads it, on the
// module suites' fixture (devices, captures, stops and the leak check),
// and the checks both platforms' suites make on it. Each suite puts its
// stand-in for the operating system's Bluetooth underneath, answering for
// the scanners.
#ifndef TESTS_RADIO_RADIO_HOST_H
#define TESTS_RADIO_RADIO_HOST_H

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/module/device_fixture.h"

namespace vdm::radio::test {

namespace emu = bluefin::emu;

// The last error's code, platform code and call stack, as one value to compare.
struct PlatformError {
  VResult code;
  VInt32 platformCode;
  std::wstring callStack;
  bool operator==(const PlatformError &) const = default;
};
std::ostream &operator<<(std::ostream &out, const PlatformError &error);
PlatformError LastPlatformError();

class RadioHost : public vdm::test::DeviceTest {
 protected:
  // The fixture's set-up without its load: the suites load the radio module.
  void SetUp() override;

  // Loads, initialises and plugs the radio module; Prepare runs between the
  // load and the initialisation.
  void LoadAndPlug(const std::function<void()> &prepare = {});

  VResult Create(const std::string &address, HVDevice *phDevice, const wchar_t *displayName = L"Scanner");

  // A device on a scanner that never has an image; its capture, cancelled
  // from another thread at the second poll, ends stopped without an image,
  // and the device is removed.
  void ExpectCancelEndsTheCapture(const std::string &address);
  // A device created on the scanner and its properties read, an image
  // captured pixel for pixel, the device removed; then created again and
  // the module unplugged with it open. The scanner gets its default key
  // back each time, at the unplug in one exchange.
  void ExpectTheWholeLife(emu::Emulator &scanner);
  // Each creation fails with the platform's error at the call, and no
  // device is made or told of. Rows: what, address, error, at.
  using Refusal = std::tuple<const char *, std::string, VInt32, const wchar_t *>;
  void ExpectCreationsFail(const std::vector<Refusal> &refusals);
  // A device on the address whose link reset() resets after the third
  // image part: the capture fails with the platform's error at the call,
  // and the device is removed all the same.
  void ExpectAResetFailsTheCapture(const std::string &address, const std::function<void()> &reset,
                                   VInt32 error, const wchar_t *at);
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_RADIO_HOST_H
