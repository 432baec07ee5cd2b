// VBluetoothDevice: address text both ways, the order of its checks, and
// equality of the address record; every transport call's null arguments.
#include <cwchar>
#include <functional>

#include "bluetooth/platform/emulated_link.h"
#include "framework/v_test_controls.h"
#include "test_support.h"

namespace vdm::test {
namespace {

using DeviceTest = TransportTest;

constexpr wchar_t kNoName[] = L"hName is NULL or an empty string";

VResult Create(const wchar_t *szAddress, const wchar_t *szName, Handle *pDevice) {
  Handle name = szName ? MakeString(szName) : Handle();
  Handle address = szAddress ? MakeString(szAddress) : Handle();
  return VBluetoothDeviceCreateFromString(name.get(), address.get(), pDevice->put());
}

// The address is converted before the name is looked at: every refused text
// fails on the conversion although the name is empty too.
TEST_F(DeviceTest, AddressTextIsConvertedFirstAndComesBackUpperCase) {
  const std::pair<const wchar_t *, const wchar_t *> cases[] = {
      // the text, as shown (null: refused)
      // clang-format off
      {L"00:11:22:33:44:55", L"00:11:22:33:44:55"},
      {L"0a:bc:De:f0:12:34", L"0A:BC:DE:F0:12:34"},
      {L"ff:ff:ff:ff:ff:ff", L"FF:FF:FF:FF:FF:FF"},
      {nullptr,                 nullptr},
      {L"",                     nullptr},
      {L"00:11:22:33:44",       nullptr},
      {L"00:11:22:33:44:55:66", nullptr},
      {L"00:11:22:33:44:55 ",   nullptr},
      {L" 00:11:22:33:44:55",   nullptr},
      {L"00-11-22-33-44-55",    nullptr},
      {L"001122334455",         nullptr},
      {L"0:11:22:33:44:55:",    nullptr},
      {L"00:11:22:33:44:5g",    nullptr},
      {L"00:11:22:33:44:+5",    nullptr},
      {L"(00:11:22:33:44:55)",  nullptr},
      // clang-format on
  };
  for (const auto &[szText, szShown] : cases) {
    SCOPED_TRACE(szText ? vfw::ToUtf8(szText) : "no address string");
    Handle device, name, text;
    ASSERT_EQ(Create(szText, szShown ? L"Scanner" : L"", &device), szShown ? V_OK : V_E_WIN32);
    if (szShown == nullptr) {
      EXPECT_EQ(device.get(), nullptr);
      ExpectPlatformError(kInvalid, L"   at WSAStringToAddressW\r\n");
      continue;
    }
    ASSERT_EQ(VBluetoothDeviceGetName(device.get(), name.put()), V_OK);
    ASSERT_EQ(VBluetoothDeviceToString(device.get(), text.put()), V_OK);
    EXPECT_EQ(ToWString(name.get()), L"Scanner");
    EXPECT_EQ(ToWString(text.get()), szShown);
  }
}

// A record the platform cannot show fails with the conversion's name; the
// bracketed form some platforms give comes back without its brackets.
TEST_F(DeviceTest, RecordsTheTextCannotShowFailAndBracketsAreDropped) {
  Handle name = MakeString(L"Scanner");
  for (const VBluetoothSocketAddress &address :
       {VBluetoothSocketAddress{0, 0x001122334455, {}, 0},
        VBluetoothSocketAddress{V_BLUETOOTH_ADDRESS_FAMILY, 0x1000000000000, {}, 0}}) {
    Handle device, text;
    ASSERT_EQ(VBluetoothDeviceCreate(name.get(), &address, device.put()), V_OK);
    EXPECT_EQ(VBluetoothDeviceToString(device.get(), text.put()), V_E_WIN32);
    EXPECT_EQ(text.get(), nullptr);
    ExpectPlatformError(kInvalid, L"   at WSAAddressToStringW\r\n");
  }
  platform::PlatformCalls bracketing = FakePlatform::AlwaysSucceeds();
  bracketing.addressToString = [](const VBluetoothSocketAddress *, wchar_t *szText, VUInt32 *pLength,
                                  platform::Failure *) {
    std::wcscpy(szText, L"(0A:11:22:33:44:55)");
    return *pLength = 38, true;
  };
  Seam().Install(bracketing);
  Handle device = MakeDevice("0A:11:22:33:44:55"), text;
  ASSERT_EQ(VBluetoothDeviceToString(device.get(), text.put()), V_OK);
  EXPECT_EQ(ToWString(text.get()), L"0A:11:22:33:44:55");
}

// Once the text converted, the name is checked first; then every operation
// refuses a null argument, in parameter order, before it touches anything:
// the message and parameter name say which one.
TEST_F(DeviceTest, OperationsRefuseMissingArgumentsInOrder) {
  Handle device = MakeDevice("00:11:22:33:44:55"), made, name = MakeString(L"Scanner");
  HVString hString = nullptr;
  HVBluetoothSocket hSocket = nullptr;
  VBool equal = V_FALSE;
  VUInt8 byte = 0;
  const VUInt8 *pUuid = kVBluetoothSerialPortServiceClass;
  const VBluetoothSocketAddress address{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0};
  const struct {
    std::function<VResult()> call;
    const wchar_t *szParameter;
    VResult code = V_E_ARGUMENT_NULL;
    const wchar_t *szMessage = nullptr;  // null: "<parameter> is NULL"
  } cases[] = {
      // clang-format off
      {[&] { return Create(L"00:11:22:33:44:55", L"", &made); },                     L"hName", V_E_ARGUMENT, kNoName},
      {[&] { return Create(L"00:11:22:33:44:55", nullptr, &made); },                 L"hName", V_E_ARGUMENT, kNoName},
      {[&] { return VBluetoothDeviceCreate(nullptr, nullptr, nullptr); },            L"hName", V_E_ARGUMENT, kNoName},
      {[&] { return VBluetoothDeviceCreate(name.get(), nullptr, nullptr); },         L"pAddress"},
      {[&] { return VBluetoothDeviceCreate(name.get(), &address, nullptr); },        L"phBluetoothDevice"},
      {[&] { return VBluetoothDeviceGetName(nullptr, &hString); },                   L"hBluetoothDevice"},
      {[&] { return VBluetoothDeviceGetName(device.get(), nullptr); },               L"phName"},
      {[&] { return VBluetoothDeviceToString(nullptr, &hString); },                  L"hBluetoothDevice"},
      {[&] { return VBluetoothDeviceToString(device.get(), nullptr); },              L"phString"},
      {[&] { return VBluetoothDeviceConnect(nullptr, pUuid, &hSocket); },            L"hBluetoothDevice"},
      {[&] { return VBluetoothDeviceConnect(device.get(), nullptr, &hSocket); },     L"pUuid"},
      {[&] { return VBluetoothDeviceConnect(device.get(), pUuid, nullptr); },        L"phSocket"},
      {[&] { return VBluetoothDeviceCompare(nullptr, device.get(), &equal); },       L"hObject"},
      {[&] { return VBluetoothDeviceCompare(device.get(), device.get(), nullptr); }, L"pResult"},
      {[&] { return VBluetoothDeviceDispose(nullptr); },                             L"hObject"},
      {[&] { return VBluetoothDeviceTypeOf(nullptr); },                              L"phType"},
      {[&] { return VBluetoothDeviceTypeInit(nullptr); },                            L"ppType"},
      {[&] { return VBluetoothSocketConnect(nullptr, &hSocket); },                   L"pAddr"},
      {[&] { return VBluetoothSocketConnect(&address, nullptr); },                   L"phBluetoothSocket"},
      {[&] { return VBluetoothSocketReceive(nullptr, &byte, 1, 0); },                L"hBluetoothSocket"},
      {[&] { return VBluetoothSocketSend(nullptr, &byte, 1, 0); },                   L"hBluetoothSocket"},
      {[&] { return VBluetoothSocketShutdown(nullptr); },                            L"hBluetoothSocket"},
      {[&] { return VBluetoothSocketClose(nullptr); },                               L"hBluetoothSocket"},
      {[&] { return VBluetoothSocketDispose(nullptr); },                             L"hObject"},
      // clang-format on
  };
  for (const auto &c : cases) {
    const std::wstring message = c.szMessage ? c.szMessage : std::wstring(c.szParameter) + L" is NULL";
    EXPECT_TRUE(Gave(c.call(), c.code, message.c_str(), c.szParameter)) << vfw::ToUtf8(message);
  }
  EXPECT_EQ(made.get(), nullptr);
  EXPECT_EQ(hString, nullptr);
  EXPECT_EQ(hSocket, nullptr);
}

// Equality is the 30-byte record's alone; names play no part. A failing
// type check or comparison is the caller's result.
TEST_F(DeviceTest, EqualityFollowsTheRecordAlone) {
  Handle device = MakeDevice("00:11:22:33:44:55");
  // A socket's instance is shorter than a device's: reading an address
  // record out of it would run past its end.
  Seam().Install(FakePlatform::AlwaysSucceeds());
  Handle socket, string = MakeString(L"00:11:22:33:44:55");
  ASSERT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()), V_OK);
  Handle renamed = MakeDevice("00:11:22:33:44:55", L"Other");
  Handle lastByte = MakeDevice("00:11:22:33:44:56"), firstByte = MakeDevice("80:11:22:33:44:55");
  const struct {
    const char *szOther;
    HVObject hOther;
    VBool equal;
    const char *szFailing = nullptr;
  } cases[] = {
      // clang-format off
      {"same text, another name", renamed.get(),   V_TRUE},
      {"last byte differs",       lastByte.get(),  V_FALSE},
      {"first byte differs",      firstByte.get(), V_FALSE},
      {"itself",                  device.get(),    V_TRUE},
      {"null",                    nullptr,         V_FALSE},
      {"a socket",                socket.get(),    V_FALSE},
      {"a string",                string.get(),    V_FALSE},
      {"type check fails",        renamed.get(),   2, "VObjectIsInstanceOfP"},
      {"comparison fails",        renamed.get(),   2, "VCompare"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szOther);
    VBool equal = 2;
    if (c.szFailing)
      VTestFailFunction(c.szFailing, 1, -77, V_FALSE);
    EXPECT_EQ(VBluetoothDeviceCompare(device.get(), c.hOther, &equal), c.szFailing ? -77 : V_OK);
    VTestClearFailures();
    EXPECT_EQ(equal, c.equal);
  }
  VBool equal = 2;  // through the type, as the host compares
  EXPECT_EQ(VObjectEquals(renamed.get(), device.get(), &equal), V_OK);
  EXPECT_EQ(equal, V_TRUE);
}

// The link's name and loopback port follow the published rule; the port is
// 49152 + FNV-1a(name) mod 16384, checked on the published FNV-1a vectors.
TEST(EmulatedLink, NameAndPortFollowThePublishedRule) {
  EXPECT_EQ(EmulatedLinkName("00:11:22:33:44:55", kVBluetoothSerialPortServiceClass),
            "bluefin/00:11:22:33:44:55/00001101-0000-1000-8000-00805f9b34fb");
  const VUInt8 guid[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                           0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(EmulatedLinkName("AA:BB:CC:DD:EE:FF", guid),
            "bluefin/AA:BB:CC:DD:EE:FF/12345678-9abc-def0-0123-456789abcdef");
  for (const auto &[name, fnv1a] :
       {std::pair<const char *, VUInt32>{"", 0x811c9dc5u}, {"a", 0xe40c292cu}, {"foobar", 0xbf9cf968u}}) {
    EXPECT_EQ(EmulatedLinkPort(name), 49152u + fnv1a % 16384u) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace vdm::test
