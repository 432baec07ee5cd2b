// VdmBlueFin.so, the build users run, on the fake Bluetooth kernel: the
// BlueZ backend and libbluetooth's SDP client run unmodified against remote
// devices whose SDP servers and RFCOMM channels lead to scanner emulators.
#include <errno.h>

#include <list>
#include <optional>

#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"
#include "tests/radio/radio_host.h"
#include "tests/radio/remote_device.h"

namespace vdm::radio::test {
namespace {

namespace emu = bluefin::emu;
using bluefin::emu::test::UniqueAddress;

constexpr std::uint8_t kChannel = 5;

// A scanner on the air: the emulator, and the remote device that answers
// for its address.
struct Scanner {
  explicit Scanner(const emu::Options &options) : emulator(options), device(options.address) {}
  emu::Emulator emulator;
  RemoteDevice device;
  std::string address() const { return emulator.ListenName().substr(8, 17); }
  // An RFCOMM channel that leads to the emulator.
  void Serve(std::uint8_t channel) { device.Serve(channel, emulator.ListenName()); }
};

class BlueZRadioTest : public RadioHost {
 protected:
  void SetUp() override {
    RadioHost::SetUp();
    LoadAndPlug();
  }
  void TearDown() override {
    // Unplugging gives the scanners their default key back: they go last.
    RadioHost::TearDown();
    scanners_.clear();
  }

  // A scanner without service records or served channels.
  Scanner &AddBareScanner(emu::Options options = {}) {
    options.address = UniqueAddress();
    Scanner &scanner = scanners_.emplace_back(options);
    std::string error;
    EXPECT_TRUE(scanner.emulator.Start(&error)) << error;
    return scanner;
  }

  // A scanner with its Serial Port service on kChannel.
  Scanner &AddScanner(emu::Options options = {}) {
    Scanner &scanner = AddBareScanner(options);
    scanner.device.AddRecord({{kSerialPortClass}, kChannel, "Serial Port"});
    scanner.Serve(kChannel);
    return scanner;
  }

  std::list<Scanner> scanners_;
};

// Create, read, capture, remove; and unplug with a device still open: the
// whole life of a device over the kernel's sockets.
TEST_F(BlueZRadioTest, CreatesCapturesAndRemovesOverTheRadio) {
  Scanner &scanner = AddScanner();
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(scanner.address(), &hDevice, L"Radio scanner"), V_OK) << LastPlatformError();
  EXPECT_EQ(Property(Slots().pGetId, hDevice), L"TopLink Pacific BF-2000 0BF12345");
  EXPECT_EQ(Property(Slots().pGetDisplayName, hDevice), L"Radio scanner");
  EXPECT_EQ(Property(Slots().pGetMake, hDevice), L"TopLink Pacific");
  EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  EXPECT_EQ(Property(Slots().pGetSerialNumber, hDevice), L"0BF12345");

  const CaptureRun run = Capture(hDevice);
  ASSERT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
  EXPECT_EQ(run.parts, 12);
  EXPECT_TRUE(run.image == scanner.emulator.ExpectedImage()) << "the image is not the scanner's";

  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
  EXPECT_EQ(scanner.emulator.CurrentKey(), emu::kDefaultKey);
  // One SDP search, for the class in its 16-bit form, then the channel it found.
  EXPECT_EQ(scanner.device.SearchedUuidBits(), std::vector<int>{16});
  EXPECT_EQ(scanner.device.RfcommConnects(), std::vector<std::uint8_t>{kChannel});

  ASSERT_EQ(Create(scanner.address(), &hDevice), V_OK) << LastPlatformError();
  scanner.emulator.ClearTranscript();
  EXPECT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(scanner.emulator.CurrentKey(), emu::kDefaultKey);
  EXPECT_EQ(scanner.emulator.Transcript().size(), 1u) << "unplug did not restore the key alone";
}

TEST_F(BlueZRadioTest, CancelEndsACaptureOnTheRadio) {
  emu::Options options;
  options.readyAfterPolls = 1u << 30;  // never ready
  Scanner &scanner = AddScanner(options);
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(scanner.address(), &hDevice), V_OK) << LastPlatformError();
  ExpectCancelEndsTheCapture(hDevice);
}

// The channel is the first usable one among the Serial Port records the
// device's SDP server gives, however it gives them; connects interrupted by
// a signal go on.
TEST_F(BlueZRadioTest, FindsTheSerialPortChannelWhereverTheServerHasIt) {
  const auto spp = [](std::optional<std::uint8_t> channel) {
    return ServiceRecord{{kSerialPortClass}, channel, "Serial Port"};
  };
  struct Case {
    const char *what;
    std::vector<ServiceRecord> records;
    std::uint8_t served;
    std::function<void(RemoteDevice &)> tune;
    std::vector<std::uint8_t> connects;
    int sdpConnects = 1;
  } cases[] = {
      {"after other services' records",
       {{{kDialupNetworkingClass}, 1, "Dial-up"}, {{kObexObjectPushClass}, 2, "Push"}, spp(7)},
       7,
       {},
       {7}},
      {"in a record that lists another class first",
       {{{kDialupNetworkingClass, kSerialPortClass}, 9}},
       9,
       {},
       {9}},
      {"past records without a usable channel",
       {{{kSerialPortClass}, 3, "No protocols", false}, spp(std::nullopt), spp(0), spp(31), spp(12), spp(13)},
       12,
       {},
       {12}},
      {"in responses split into continued parts",
       {{{kObexObjectPushClass}, 2}, spp(14), spp(15), spp(16)},
       14,
       [](RemoteDevice &device) { device.SetResponseLimit(16); },
       {14}},
      {"on a server that matches 16-bit UUIDs only",
       {spp(6)},
       6,
       [](RemoteDevice &device) { device.MatchShortUuidsOnly(true); },
       {6}},
      {"after the SDP page found the adapter busy twice",
       {spp(4)},
       4,
       [](RemoteDevice &device) {
         device.Script(Link::kL2cap, {EBUSY});
         device.Script(Link::kL2cap, {EBUSY});
       },
       {4},
       3},
      {"after a signal interrupted the SDP connect",
       {spp(4)},
       4,
       [](RemoteDevice &device) {
         device.Script(Link::kL2cap, {0, true});
       },
       {4},
       2},
      {"when a signal interrupted the RFCOMM connect",
       {spp(8)},
       8,
       [](RemoteDevice &device) {
         device.Script(Link::kRfcomm, {0, true});
       },
       {8}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Scanner &scanner = AddBareScanner();
    for (const ServiceRecord &record : c.records) {
      scanner.device.AddRecord(record);
    }
    scanner.Serve(c.served);
    if (c.tune) {
      c.tune(scanner.device);
    }
    HVDevice hDevice = nullptr;
    EXPECT_EQ(Create(scanner.address(), &hDevice), V_OK) << LastPlatformError();
    EXPECT_EQ(scanner.device.RfcommConnects(), c.connects);
    EXPECT_EQ(scanner.device.SdpConnects(), c.sdpConnects);
    if (hDevice != nullptr) {
      EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
    }
  }
}

// Each way the radio can fail a creation reaches the host as the kernel's
// errno and the call that failed; no device is made.
TEST_F(BlueZRadioTest, RadioFaultsFailCreationWithThePlatformsCode) {
  enum class Start { kNothing, kBare, kSerialPort };  // what answers at the address
  struct Case {
    const char *what;
    Start start;
    int error;
    const wchar_t *at;
    std::function<void(RemoteDevice &)> tune;  // the device's part, where one answers
  } cases[] = {
      // clang-format off
      {"nobody answers the page",                           Start::kNothing,    EHOSTDOWN,    L"   at sdp_connect\r\n",
       nullptr},
      {"the SDP connection times out",                      Start::kSerialPort, ETIMEDOUT,    L"   at sdp_connect\r\n",
       [](RemoteDevice &device) { device.Script(Link::kL2cap, {ETIMEDOUT}); }},
      {"the SDP server has no resources to answer",         Start::kSerialPort, EIO,          L"   at sdp_service_search_attr_req\r\n",
       [](RemoteDevice &device) { device.SetSdpAnswer(SdpAnswer::kInsufficientResources); }},
      {"the SDP server drops the channel",                  Start::kSerialPort, EPROTO,       L"   at sdp_service_search_attr_req\r\n",
       [](RemoteDevice &device) { device.SetSdpAnswer(SdpAnswer::kCloseWithoutAnswer); }},
      {"the device has no Serial Port service",             Start::kBare,       ECONNREFUSED, L"   at connect\r\n",
       [](RemoteDevice &device) { device.AddRecord({{kDialupNetworkingClass}, kChannel}); }},
      {"nothing listens on the record's channel",           Start::kBare,       ECONNREFUSED, L"   at connect\r\n",
       [](RemoteDevice &device) { device.AddRecord({{kSerialPortClass}, kChannel}); }},
      {"the device refuses authentication",                 Start::kSerialPort, EACCES,       L"   at connect\r\n",
       [](RemoteDevice &device) { device.Script(Link::kRfcomm, {EACCES}); }},
      {"the RFCOMM page times out",                         Start::kSerialPort, EHOSTDOWN,    L"   at connect\r\n",
       [](RemoteDevice &device) { device.Script(Link::kRfcomm, {EHOSTDOWN}); }},
      {"the device refuses a connect a signal interrupted", Start::kSerialPort, EACCES,       L"   at connect\r\n",
       [](RemoteDevice &device) { device.Script(Link::kRfcomm, {EACCES, true}); }},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string address = UniqueAddress();
    if (c.start != Start::kNothing) {
      Scanner &scanner = c.start == Start::kSerialPort ? AddScanner() : AddBareScanner();
      c.tune(scanner.device);
      address = scanner.address();
    }
    HVDevice hDevice = nullptr;
    EXPECT_EQ(Create(address, &hDevice), V_E_WIN32);
    EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, c.error, c.at}));
    EXPECT_EQ(hDevice, nullptr);
  }
  EXPECT_TRUE(module_->Events().empty()) << "a failed creation told the host of a device";
}

TEST_F(BlueZRadioTest, AResetDuringTheTransferFailsTheCapture) {
  Scanner &scanner = AddScanner();
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(scanner.address(), &hDevice), V_OK) << LastPlatformError();
  const CaptureRun run = Capture(hDevice, [&](const CaptureRun &sofar) {
    if (sofar.parts == 3) {
      scanner.device.ResetOnNextHostBytes();
    }
  });
  EXPECT_EQ(run.result, V_E_WIN32);
  EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, ECONNRESET, L"   at recv\r\n"}));
  EXPECT_EQ(run.parts, 3);
  EXPECT_TRUE(run.image.empty());
  // The scanner cannot get its key back, but the device goes.
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

}  // namespace
}  // namespace vdm::radio::test
