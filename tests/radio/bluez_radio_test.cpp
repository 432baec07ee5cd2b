// VdmBlueFin.so, the build users run, on the fake Bluetooth kernel: the
// BlueZ backend and libbluetooth's SDP client run unmodified against remote
// devices whose SDP servers and RFCOMM channels lead to scanner emulators.
#include <errno.h>

#include <list>

#include "tests/emulator/unique_address.h"
#include "tests/radio/radio_host.h"
#include "tests/radio/remote_device.h"

namespace vdm::radio::test {
namespace {

constexpr std::uint8_t kChannel = 5;

ServiceRecord SerialPort(std::optional<std::uint8_t> channel = kChannel) {
  return {{kSerialPortClass}, channel};
}

const DeviceSetup kSerialPortDevice{.records = {SerialPort()}, .served = kChannel};

// A scanner on the air: the emulator, and the remote device that answers
// for its address.
struct Scanner {
  emu::Emulator &emulator;
  RemoteDevice &device;
  std::string address;
};

class BlueZRadioTest : public RadioHost {
 protected:
  void SetUp() override {
    RadioHost::SetUp();
    LoadAndPlug();
  }

  // The served channel leads to the scanner.
  Scanner AddScanner(DeviceSetup setup = kSerialPortDevice, emu::Options options = {}) {
    emu::Emulator &emulator = StartScanner(options);
    setup.listenName = emulator.ListenName();
    return {emulator, devices_.emplace_back(AddressOf(emulator), setup), AddressOf(emulator)};
  }

  std::list<RemoteDevice> devices_;
};

TEST_F(BlueZRadioTest, CreatesCapturesCancelsAndRemovesOverTheRadio) {
  ExpectCancelEndsTheCapture(AddScanner(kSerialPortDevice, ReadyAfter(1u << 30)).address);
  const Scanner scanner = AddScanner();
  ExpectTheWholeLife(scanner.emulator);
  // An SDP search before each connect, then the channel it found.
  EXPECT_EQ(scanner.device.SdpConnects(), 2);
  EXPECT_EQ(scanner.device.RfcommConnects(), (std::vector<std::uint8_t>{kChannel, kChannel}));
}

// The channel is the first usable one among the Serial Port records the
// device's SDP server gives, however it gives them; connects interrupted by
// a signal go on.
TEST_F(BlueZRadioTest, FindsTheSerialPortChannelWhereverTheServerHasIt) {
  const ServiceRecord noProtocols{{kSerialPortClass}, 3, false};
  struct Case {
    const char *what;
    DeviceSetup setup;  // the served channel is the one to find
    int sdpConnects;
  } cases[] = {
      // clang-format off
      {"after other services' records",                   {.records = {{{kDialupNetworkingClass}, 1}, {{kObexObjectPushClass}, 2}, SerialPort(7)}, .served = 7}, 1},
      {"in a record that lists another class first",      {.records = {{{kDialupNetworkingClass, kSerialPortClass}, 9}}, .served = 9}, 1},
      {"past records without a usable channel",           {.records = {noProtocols, SerialPort(std::nullopt), SerialPort(0), SerialPort(31), SerialPort(12), SerialPort(13)}, .served = 12}, 1},
      {"in responses split into continued parts",         {.records = {{{kObexObjectPushClass}, 2}, SerialPort(14), SerialPort(15), SerialPort(16)}, .served = 14, .responseLimit = 16}, 1},
      {"on a server that matches 16-bit UUIDs only",      {.records = {SerialPort(6)}, .served = 6, .matchShortUuidsOnly = true}, 1},
      {"after the SDP page found the adapter busy twice", {.records = {SerialPort(4)}, .served = 4, .sdpPages = {{EBUSY}, {EBUSY}}}, 3},
      {"after a signal interrupted the SDP connect",      {.records = {SerialPort(4)}, .served = 4, .sdpPages = {{0, true}}}, 2},
      {"when a signal interrupted the RFCOMM connect",    {.records = {SerialPort(8)}, .served = 8, .rfcommPages = {{0, true}}}, 1},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Scanner scanner = AddScanner(c.setup);
    HVDevice hDevice = nullptr;
    EXPECT_EQ(Create(scanner.address, &hDevice), V_OK) << LastPlatformError();
    EXPECT_EQ(scanner.device.RfcommConnects(), std::vector<std::uint8_t>{c.setup.served});
    EXPECT_EQ(scanner.device.SdpConnects(), c.sdpConnects);
    if (hDevice != nullptr) {
      EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
    }
  }
}

// Each way the radio can fail a creation reaches the host as the kernel's
// errno and the call that failed.
TEST_F(BlueZRadioTest, RadioFaultsFailCreationWithThePlatformsCode) {
  const auto answering = [this](const DeviceSetup &setup) { return AddScanner(setup).address; };
  ExpectCreationsFail({
      // clang-format off
      {"nobody answers the page",                           emu::test::UniqueAddress(),                                                                  EHOSTDOWN,    L"   at sdp_connect\r\n"},
      {"the SDP server has no resources to answer",         answering({.records = {SerialPort()}, .answer = SdpAnswer::kInsufficientResources}),         EIO,          L"   at sdp_service_search_attr_req\r\n"},
      {"the SDP server drops the channel",                  answering({.records = {SerialPort()}, .answer = SdpAnswer::kCloseWithoutAnswer}),            EPROTO,       L"   at sdp_service_search_attr_req\r\n"},
      {"the device has no Serial Port service",             answering({.records = {{{kDialupNetworkingClass}, kChannel}}, .served = kChannel}),          ECONNREFUSED, L"   at connect\r\n"},
      {"nothing listens on the record's channel",           answering({.records = {SerialPort()}}),                                                      ECONNREFUSED, L"   at connect\r\n"},
      {"the device refuses authentication",                 answering({.records = {SerialPort()}, .served = kChannel, .rfcommPages = {{EACCES}}}),       EACCES,       L"   at connect\r\n"},
      {"the device refuses a connect a signal interrupted", answering({.records = {SerialPort()}, .served = kChannel, .rfcommPages = {{EACCES, true}}}), EACCES,       L"   at connect\r\n"},
      // clang-format on
  });
}

TEST_F(BlueZRadioTest, AResetDuringTheTransferFailsTheCapture) {
  const Scanner scanner = AddScanner();
  ExpectAResetFailsTheCapture(
      scanner.address, [&] { scanner.device.ResetOnNextHostBytes(); }, ECONNRESET, L"   at recv\r\n");
}

}  // namespace
}  // namespace vdm::radio::test
