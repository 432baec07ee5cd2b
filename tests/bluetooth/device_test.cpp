// VBluetoothDevice: address text both ways, the order of its checks, and
// equality of the address record.
#include <functional>

#include "bluetooth/platform/emulated_link.h"
#include "test_support.h"

namespace vdm::test {
namespace {

constexpr wchar_t kAtStringToAddress[] = L"   at WSAStringToAddressW\r\n";

class DeviceTest : public TransportTest {
 protected:
  VResult Create(const wchar_t *szAddress, const wchar_t *szName, Handle *pDevice) {
    Handle name = szName ? MakeString(szName) : Handle();
    Handle address = szAddress ? MakeString(szAddress) : Handle();
    return VBluetoothDeviceCreateFromString(name.get(), address.get(), pDevice->put());
  }

  std::wstring Text(HVBluetoothDevice hDevice) {
    Handle text;
    EXPECT_EQ(VBluetoothDeviceToString(hDevice, text.put()), V_OK);
    return TextOf(text.get());
  }
};

TEST_F(DeviceTest, AcceptedTextsComeBackUpperCaseWithTheName) {
  const struct {
    const wchar_t *szText;
    const wchar_t *szExpected;
  } cases[] = {
      {L"00:11:22:33:44:55", L"00:11:22:33:44:55"},
      {L"0a:bc:De:f0:12:34", L"0A:BC:DE:F0:12:34"},
      {L"ff:ff:ff:ff:ff:ff", L"FF:FF:FF:FF:FF:FF"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "text " << testing::PrintToString(std::wstring(c.szText)));
    Handle device;
    ASSERT_EQ(Create(c.szText, L"Scanner", &device), V_OK);
    Handle name;
    ASSERT_EQ(VBluetoothDeviceGetName(device.get(), name.put()), V_OK);
    EXPECT_EQ(TextOf(name.get()), L"Scanner");
    EXPECT_EQ(Text(device.get()), c.szExpected);
  }
}

// The address is converted before the name is looked at: every refused text
// fails on the conversion although the name is empty too.
TEST_F(DeviceTest, RefusedTextsFailOnTheConversionBeforeTheName) {
  const wchar_t *const texts[] = {
      nullptr,  // no address string at all
      L"",
      L"00:11:22:33:44",
      L"00:11:22:33:44:55:66",
      L"00:11:22:33:44:55 ",
      L" 00:11:22:33:44:55",
      L"00-11-22-33-44-55",
      L"001122334455",
      L"0:11:22:33:44:55:",
      L"00:11:22:33:44:5g",
      L"00:11:22:33:44:+5",
      L"(00:11:22:33:44:55)",
  };
  for (const wchar_t *szText : texts) {
    SCOPED_TRACE(testing::Message() << "text "
                                    << testing::PrintToString(std::wstring(szText ? szText : L"<null>")));
    Handle device;
    EXPECT_EQ(Create(szText, L"", &device), V_E_WIN32);
    EXPECT_EQ(device.get(), nullptr);
    const LastError error = GetLastError();
    EXPECT_EQ(error.platformCode, EINVAL);
    EXPECT_EQ(error.callStack, kAtStringToAddress);
  }
}

TEST_F(DeviceTest, ArgumentsAreCheckedInParameterOrder) {
  Handle device;
  ASSERT_EQ(Create(L"00:11:22:33:44:55", L"Scanner", &device), V_OK);
  Handle name = MakeString(L"Scanner");
  const VBluetoothSocketAddress address{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0};
  const HVObject d = device.get();
  const VUInt8 *uuid = kVBluetoothSerialPortServiceClass;
  const struct {
    const char *szCall;
    std::function<VResult()> call;
    VResult code;
    const wchar_t *szMessage;
    const wchar_t *szParameter;
  } cases[] = {
      {"empty name", [&] { return Create(L"00:11:22:33:44:55", L"", &device); }, V_E_ARGUMENT,
       L"hName is NULL or an empty string", L"hName"},
      {"null name", [&] { return Create(L"00:11:22:33:44:55", nullptr, &device); }, V_E_ARGUMENT,
       L"hName is NULL or an empty string", L"hName"},
      {"create, all null", [&] { return VBluetoothDeviceCreate(nullptr, nullptr, nullptr); }, V_E_ARGUMENT,
       L"hName is NULL or an empty string", L"hName"},
      {"create, no address", [&] { return VBluetoothDeviceCreate(name.get(), nullptr, nullptr); },
       V_E_ARGUMENT_NULL, L"pAddress is NULL", L"pAddress"},
      {"create, no out", [&] { return VBluetoothDeviceCreate(name.get(), &address, nullptr); },
       V_E_ARGUMENT_NULL, L"phBluetoothDevice is NULL", L"phBluetoothDevice"},
      {"name of null", [&] { return VBluetoothDeviceGetName(nullptr, nullptr); }, V_E_ARGUMENT_NULL,
       L"hBluetoothDevice is NULL", L"hBluetoothDevice"},
      {"text of null", [&] { return VBluetoothDeviceToString(nullptr, nullptr); }, V_E_ARGUMENT_NULL,
       L"hBluetoothDevice is NULL", L"hBluetoothDevice"},
      {"connect, all null", [&] { return VBluetoothDeviceConnect(nullptr, nullptr, nullptr); },
       V_E_ARGUMENT_NULL, L"hBluetoothDevice is NULL", L"hBluetoothDevice"},
      {"connect, no uuid", [&] { return VBluetoothDeviceConnect(d, nullptr, nullptr); }, V_E_ARGUMENT_NULL,
       L"pUuid is NULL", L"pUuid"},
      {"connect, no out", [&] { return VBluetoothDeviceConnect(d, uuid, nullptr); }, V_E_ARGUMENT_NULL,
       L"phSocket is NULL", L"phSocket"},
      {"compare null", [&] { return VBluetoothDeviceCompare(nullptr, d, nullptr); }, V_E_ARGUMENT_NULL,
       L"hObject is NULL", L"hObject"},
      {"compare, no result", [&] { return VBluetoothDeviceCompare(d, nullptr, nullptr); }, V_E_ARGUMENT_NULL,
       L"pResult is NULL", L"pResult"},
      {"dispose null", [&] { return VBluetoothDeviceDispose(nullptr); }, V_E_ARGUMENT_NULL,
       L"hObject is NULL", L"hObject"},
      {"device type init", [&] { return VBluetoothDeviceTypeInit(nullptr); }, V_E_ARGUMENT_NULL,
       L"ppType is NULL", L"ppType"},
      {"socket connect, all null", [&] { return VBluetoothSocketConnect(nullptr, nullptr); },
       V_E_ARGUMENT_NULL, L"pAddr is NULL", L"pAddr"},
      {"socket connect, no out", [&] { return VBluetoothSocketConnect(&address, nullptr); },
       V_E_ARGUMENT_NULL, L"phBluetoothSocket is NULL", L"phBluetoothSocket"},
      {"receive on null", [&] { return VBluetoothSocketReceive(nullptr, nullptr, 0x80000000u, 0); },
       V_E_ARGUMENT_NULL, L"hBluetoothSocket is NULL", L"hBluetoothSocket"},
      {"send on null", [&] { return VBluetoothSocketSend(nullptr, nullptr, 0x80000000u, 0); },
       V_E_ARGUMENT_NULL, L"hBluetoothSocket is NULL", L"hBluetoothSocket"},
      {"shutdown null", [&] { return VBluetoothSocketShutdown(nullptr); }, V_E_ARGUMENT_NULL,
       L"hBluetoothSocket is NULL", L"hBluetoothSocket"},
      {"socket dispose null", [&] { return VBluetoothSocketDispose(nullptr); }, V_E_ARGUMENT_NULL,
       L"hObject is NULL", L"hObject"},
      {"socket type init", [&] { return VBluetoothSocketTypeInit(nullptr); }, V_E_ARGUMENT_NULL,
       L"ppType is NULL", L"ppType"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCall);
    VErrorClearLast();
    EXPECT_EQ(c.call(), c.code);
    const LastError error = GetLastError();
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.message, c.szMessage);
    EXPECT_EQ(error.parameter, c.szParameter);
  }
}

// Equality is the 30-byte record's alone, through the type's compare.
TEST_F(DeviceTest, EqualityIgnoresNamesAndFollowsTheRecord) {
  const struct {
    const wchar_t *szFirst;
    const wchar_t *szFirstName;
    const wchar_t *szSecond;
    const wchar_t *szSecondName;
    VBool equal;
  } cases[] = {
      {L"00:11:22:33:44:55", L"Scanner", L"00:11:22:33:44:55", L"Other", V_TRUE},
      {L"00:11:22:33:44:55", L"Scanner", L"00:11:22:33:44:55", L"Scanner", V_TRUE},
      {L"aa:bb:cc:dd:ee:ff", L"Scanner", L"AA:BB:CC:DD:EE:FF", L"Scanner", V_TRUE},
      {L"00:11:22:33:44:55", L"Scanner", L"00:11:22:33:44:56", L"Scanner", V_FALSE},
      {L"00:11:22:33:44:55", L"Scanner", L"80:11:22:33:44:55", L"Scanner", V_FALSE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.szFirst)) << " vs "
                                    << testing::PrintToString(std::wstring(c.szSecond)));
    Handle first, second;
    ASSERT_EQ(Create(c.szFirst, c.szFirstName, &first), V_OK);
    ASSERT_EQ(Create(c.szSecond, c.szSecondName, &second), V_OK);
    VBool equal = 2;
    EXPECT_EQ(VObjectEquals(first.get(), second.get(), &equal), V_OK);
    EXPECT_EQ(equal, c.equal);
  }
}

TEST_F(DeviceTest, ComparesWithItselfNullAndOtherTypes) {
  Handle device;
  ASSERT_EQ(Create(L"00:11:22:33:44:55", L"Scanner", &device), V_OK);
  Handle notADevice = MakeString(L"00:11:22:33:44:55");
  const struct {
    const char *szOther;
    HVObject hOther;
    VBool equal;
  } cases[] = {
      {"itself", device.get(), V_TRUE},
      {"null", nullptr, V_FALSE},
      {"a string", notADevice.get(), V_FALSE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szOther);
    VBool equal = 2;
    EXPECT_EQ(VBluetoothDeviceCompare(device.get(), c.hOther, &equal), V_OK);
    EXPECT_EQ(equal, c.equal);
  }
}

// Records the platform could not have converted from text are refused when
// formatted, not written as something else.
TEST_F(DeviceTest, RecordsWithoutATextFormFailToFormat) {
  Handle name = MakeString(L"Scanner");
  const VBluetoothSocketAddress records[] = {
      {31, 0x001122334455, {}, 0},                              // another address family
      {V_BLUETOOTH_ADDRESS_FAMILY, 0x1000000000000ull, {}, 0},  // more than 48 bits
  };
  for (const VBluetoothSocketAddress &record : records) {
    Handle device, text;
    ASSERT_EQ(VBluetoothDeviceCreate(name.get(), &record, device.put()), V_OK);
    EXPECT_EQ(VBluetoothDeviceToString(device.get(), text.put()), V_E_WIN32);
    EXPECT_EQ(text.get(), nullptr);
    const LastError error = GetLastError();
    EXPECT_EQ(error.platformCode, EINVAL);
    EXPECT_EQ(error.callStack, L"   at WSAAddressToStringW\r\n");
  }
}

// The platform may write the address in brackets; only that exact form is
// unwrapped, anything else is passed on as written.
TEST_F(DeviceTest, BracketedPlatformTextIsUnwrapped) {
  Handle device;
  ASSERT_EQ(Create(L"00:11:22:33:44:55", L"Scanner", &device), V_OK);
  const struct {
    const wchar_t *szWritten;
    VUInt32 length;
    const wchar_t *szExpected;
  } cases[] = {
      {L"(00:11:22:33:44:55)", 38, L"00:11:22:33:44:55"},
      {L"(00:11:22:33:44:55):5", 38, L"00:11:22:33:44:55"},
      {L"(00:11:22:33:44:55)", 20, L"(00:11:22:33:44:55)"},
      {L"00:11:22:33:44:55", 38, L"00:11:22:33:44:55"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.szWritten)));
    FakePlatform::Get().Install(platform::PlatformDefault());
    FakePlatform::Get().addressText = c.szWritten;
    FakePlatform::Get().addressTextLength = c.length;
    EXPECT_EQ(Text(device.get()), c.szExpected);
  }
}

TEST(EmulatedLinkName, FollowsThePublishedRule) {
  EXPECT_EQ(EmulatedLinkName("00:11:22:33:44:55", kVBluetoothSerialPortServiceClass),
            "bluefin/00:11:22:33:44:55/00001101-0000-1000-8000-00805f9b34fb");
  const VUInt8 guid[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                           0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(EmulatedLinkName("AA:BB:CC:DD:EE:FF", guid),
            "bluefin/AA:BB:CC:DD:EE:FF/12345678-9abc-def0-0123-456789abcdef");
}

}  // namespace
}  // namespace vdm::test
