// VdmBlueFin.dll, the build users run, on Windows' Bluetooth sockets faked
// over Wine's Winsock: the DLL's own imports of socket, connect and the
// address conversions are patched, everything else is Winsock's.
#include <winsock2.h>
#include <ws2bth.h>

#include <cstdlib>
#include <list>

#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"
#include "tests/radio/fake_winsock_bluetooth.h"
#include "tests/radio/import_patch.h"
#include "tests/radio/radio_host.h"

namespace vdm::radio::test {
namespace {

namespace emu = bluefin::emu;
using bluefin::emu::test::UniqueAddress;

constexpr std::uint8_t kChannel = 5;
constexpr GuidBytes kDialupNetworkingGuid = {0x03, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                             0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

std::uint64_t DeviceAddress(const std::string &text) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    value = value << 8 | std::strtoull(text.substr(i, 2).c_str(), nullptr, 16);
  }
  return value;
}

// SOCKADDR_BTH as Windows wants it for a Serial Port connect: family 32,
// the device address least significant byte first, the service class as a
// GUID's bytes in memory, port 0 so that Windows finds the channel.
std::vector<std::uint8_t> SerialPortRecord(const std::string &address) {
  std::vector<std::uint8_t> record(sizeof(SOCKADDR_BTH), 0);
  record[0] = 32;
  const std::uint64_t value = DeviceAddress(address);
  for (int i = 0; i < 8; ++i) {
    record[2 + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  std::copy(kSerialPortGuid.begin(), kSerialPortGuid.end(), record.begin() + 10);
  return record;
}

class WinsockRadioTest : public RadioHost {
 protected:
  void SetUp() override {
    RadioHost::SetUp();
    LoadAndPlug([] { ASSERT_EQ(fake_bluetooth::Install(GetModuleHandleW(L"VdmBlueFin.dll")), 4); });
  }
  void TearDown() override {
    // Unplugging gives the scanners their default key back: they go last.
    RadioHost::TearDown();
    scanners_.clear();
    fake_bluetooth::Clear();
  }

  // A scanner emulator, and the device answering at its address, with its
  // Serial Port service on kChannel unless told otherwise.
  emu::Emulator &AddScanner(FakeRadioDevice device = {}, emu::Options options = {}) {
    options.address = UniqueAddress();
    emu::Emulator &scanner = scanners_.emplace_back(options);
    std::string error;
    EXPECT_TRUE(scanner.Start(&error)) << error;
    if (device.services.empty()) {
      device.services[kSerialPortGuid] = kChannel;
      device.channels[kChannel] = scanner.ListenName();
    }
    fake_bluetooth::AddDevice(DeviceAddress(options.address), device);
    return scanner;
  }

  static std::string AddressOf(const emu::Emulator &scanner) { return scanner.ListenName().substr(8, 17); }

  std::list<emu::Emulator> scanners_;
};

TEST_F(WinsockRadioTest, CreatesCapturesAndRemovesOverTheRadio) {
  emu::Emulator &scanner = AddScanner();
  const std::string address = AddressOf(scanner);
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(address, &hDevice, L"Radio scanner"), V_OK) << LastPlatformError();
  EXPECT_EQ(Property(Slots().pGetId, hDevice), L"TopLink Pacific BF-2000 0BF12345");
  EXPECT_EQ(Property(Slots().pGetDisplayName, hDevice), L"Radio scanner");
  EXPECT_EQ(Property(Slots().pGetMake, hDevice), L"TopLink Pacific");
  EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  EXPECT_EQ(Property(Slots().pGetSerialNumber, hDevice), L"0BF12345");
  EXPECT_EQ(fake_bluetooth::Connects(), std::vector<std::vector<std::uint8_t>>{SerialPortRecord(address)});

  const CaptureRun run = Capture(hDevice);
  ASSERT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
  EXPECT_EQ(run.parts, 12);
  EXPECT_TRUE(run.image == scanner.ExpectedImage()) << "the image is not the scanner's";
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);

  ASSERT_EQ(Create(address, &hDevice), V_OK) << LastPlatformError();
  scanner.ClearTranscript();
  EXPECT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
  EXPECT_EQ(scanner.Transcript().size(), 1u) << "unplug did not restore the key alone";
}

TEST_F(WinsockRadioTest, CancelEndsACaptureOnTheRadio) {
  emu::Options options;
  options.readyAfterPolls = 1u << 30;  // never ready
  emu::Emulator &scanner = AddScanner({}, options);
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(AddressOf(scanner), &hDevice), V_OK) << LastPlatformError();
  ExpectCancelEndsTheCapture(hDevice);
}

// The address in either of the forms the platform converts, either case.
TEST_F(WinsockRadioTest, TakesTheAddressTextThePlatformTakes) {
  emu::Emulator &scanner = AddScanner();
  std::string lower = AddressOf(scanner);
  for (char &c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const std::string &text : {"(" + AddressOf(scanner) + ")", lower}) {
    SCOPED_TRACE(text);
    HVDevice hDevice = nullptr;
    ASSERT_EQ(Create(text, &hDevice), V_OK) << LastPlatformError();
    EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
  }
}

TEST_F(WinsockRadioTest, RadioFaultsFailCreationWithThePlatformsCode) {
  enum class Start { kNothing, kDevice };
  struct Case {
    const char *what;
    Start start;
    FakeRadioDevice device;
    int error;
    const wchar_t *at;
    std::string text = "";  // the address text, when not the device's
  } cases[] = {
      // clang-format off
      {"nobody answers the page",                  Start::kNothing, {},                                               WSAETIMEDOUT,     L"   at connect\r\n"},
      {"the device has no Serial Port service",    Start::kDevice,  {{{kDialupNetworkingGuid, kChannel}}, {}, {}},    WSAEADDRNOTAVAIL, L"   at connect\r\n"},
      {"nothing listens on the service's channel", Start::kDevice,  {{{kSerialPortGuid, kChannel}}, {}, {}},          WSAEHOSTDOWN,     L"   at connect\r\n"},
      {"the device refuses authentication",        Start::kDevice,  {{{kSerialPortGuid, kChannel}}, {}, {WSAEACCES}}, WSAEACCES,        L"   at connect\r\n"},
      {"the address text is none",                 Start::kNothing, {},                                               WSAEINVAL,        L"   at WSAStringToAddressW\r\n", "00-11-22-33-44-55"},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string address = c.text.empty() ? UniqueAddress() : c.text;
    if (c.start == Start::kDevice) {
      address = AddressOf(AddScanner(c.device));
    }
    HVDevice hDevice = nullptr;
    EXPECT_EQ(Create(address, &hDevice), V_E_WIN32);
    EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, c.error, c.at}));
    EXPECT_EQ(hDevice, nullptr);
  }
  EXPECT_TRUE(module_->Events().empty()) << "a failed creation told the host of a device";
}

TEST_F(WinsockRadioTest, AResetDuringTheTransferFailsTheCapture) {
  emu::Emulator &scanner = AddScanner();
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(AddressOf(scanner), &hDevice), V_OK) << LastPlatformError();
  const CaptureRun run = Capture(hDevice, [](const CaptureRun &sofar) {
    if (sofar.parts == 3) {
      fake_bluetooth::ResetNow();
    }
  });
  EXPECT_EQ(run.result, V_E_WIN32);
  EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, WSAECONNRESET, L"   at send\r\n"}));
  EXPECT_EQ(run.parts, 3);
  EXPECT_TRUE(run.image.empty());
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

// Winsock's functions are often imported by ordinal; the patch finds them
// all the same. The probe imports socket by ordinal 23.
TEST(ImportPatch, FindsAFunctionImportedByOrdinal) {
  const HMODULE probe = LoadLibraryA(VDM_ORDINAL_PROBE_PATH);
  ASSERT_NE(probe, nullptr);
  EXPECT_TRUE(ImportsByOrdinal(probe, "ws2_32.dll", "socket"));
  EXPECT_EQ(fake_bluetooth::Install(probe), 1);
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  using OpenProc = SOCKET(WINAPI *)();
  const auto open = reinterpret_cast<OpenProc>(GetProcAddress(probe, "ProbeOpenRfcommSocket"));
  ASSERT_NE(open, nullptr);
  const SOCKET socket = open();  // Wine alone has no AF_BTH
  EXPECT_NE(socket, INVALID_SOCKET) << WSAGetLastError();
  closesocket(socket);
  WSACleanup();
  FreeLibrary(probe);
  fake_bluetooth::Clear();
}

}  // namespace
}  // namespace vdm::radio::test
