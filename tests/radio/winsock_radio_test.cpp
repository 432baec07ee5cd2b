// VdmBlueFin.dll, the build users run, on Windows' Bluetooth sockets faked
// over Wine's Winsock: the DLL's own imports of socket, connect, send and
// the address conversions are patched, everything else is Winsock's.
#include <winsock2.h>
#include <ws2bth.h>

#include <string>

#include "tests/emulator/unique_address.h"
#include "tests/radio/fake_winsock_bluetooth.h"
#include "tests/radio/radio_host.h"

namespace vdm::radio::test {
namespace {

constexpr std::uint8_t kChannel = 5;
constexpr GuidBytes kDialupNetworkingGuid = {0x03, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                             0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

// SOCKADDR_BTH as Windows wants it for a Serial Port connect: family 32,
// the device address least significant byte first, the service class as a
// GUID's bytes in memory, port 0 so that Windows finds the channel.
std::vector<std::uint8_t> SerialPortRecord(const std::string &address) {
  std::vector<std::uint8_t> record(sizeof(SOCKADDR_BTH), 0);
  record[0] = 32;
  for (int i = 0; i < 6; ++i) {
    record[2 + i] = static_cast<std::uint8_t>(std::stoul(address.substr(15 - 3 * i, 2), nullptr, 16));
  }
  std::copy(kSerialPortGuid.begin(), kSerialPortGuid.end(), record.begin() + 10);
  return record;
}

class WinsockRadioTest : public RadioHost {
 protected:
  void SetUp() override {
    RadioHost::SetUp();
    LoadAndPlug([] { ASSERT_EQ(fake_bluetooth::Install(GetModuleHandleW(L"VdmBlueFin.dll")), 5); });
  }
  void TearDown() override {
    RadioHost::TearDown();
    fake_bluetooth::Clear();
  }

  // A scanner emulator, and the device answering at its address, with its
  // Serial Port service on kChannel unless told otherwise.
  emu::Emulator &AddScanner(FakeRadioDevice device = {}, emu::Options options = {}) {
    emu::Emulator &scanner = StartScanner(options);
    if (device.services.empty()) {
      device.services[kSerialPortGuid] = kChannel;
      device.channels[kChannel] = scanner.ListenName();
    }
    fake_bluetooth::AddDevice(AddressOf(scanner), device);
    return scanner;
  }
};

TEST_F(WinsockRadioTest, CreatesCapturesCancelsAndRemovesOverTheRadio) {
  const std::string waiting = AddressOf(AddScanner({}, ReadyAfter(1u << 30)));
  ExpectCancelEndsTheCapture(waiting);
  emu::Emulator &scanner = AddScanner();
  ExpectTheWholeLife(scanner);
  const std::vector<std::uint8_t> ready = SerialPortRecord(AddressOf(scanner));
  EXPECT_EQ(fake_bluetooth::Connects(), (std::vector{SerialPortRecord(waiting), ready, ready}));
}

TEST_F(WinsockRadioTest, RadioFaultsFailCreationWithThePlatformsCode) {
  const auto answering = [this](const FakeRadioDevice &device) { return AddressOf(AddScanner(device)); };
  ExpectCreationsFail({
      // clang-format off
      {"nobody answers the page",                  emu::test::UniqueAddress(),                                  WSAETIMEDOUT,     L"   at connect\r\n"},
      {"the device has no Serial Port service",    answering({{{kDialupNetworkingGuid, kChannel}}, {}, {}}),    WSAEADDRNOTAVAIL, L"   at connect\r\n"},
      {"nothing listens on the service's channel", answering({{{kSerialPortGuid, kChannel}}, {}, {}}),          WSAEHOSTDOWN,     L"   at connect\r\n"},
      {"the device refuses authentication",        answering({{{kSerialPortGuid, kChannel}}, {}, {WSAEACCES}}), WSAEACCES,        L"   at connect\r\n"},
      {"the address text is none",                 "00-11-22-33-44-55",                                         WSAEINVAL,        L"   at WSAStringToAddressW\r\n"},
      // clang-format on
  });
}

TEST_F(WinsockRadioTest, AResetDuringTheTransferFailsTheCapture) {
  ExpectAResetFailsTheCapture(AddressOf(AddScanner()), fake_bluetooth::ResetOnNextSend, WSAECONNRESET,
                              L"   at send\r\n");
}

}  // namespace
}  // namespace vdm::radio::test
