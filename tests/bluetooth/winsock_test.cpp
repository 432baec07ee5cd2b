// The Winsock backend under Wine, which has neither a Bluetooth stack nor
// Bluetooth address conversion: every call fails cleanly with Winsock's own
// code and the failed call's name. On a Windows with a radio the same calls
// may succeed or fail further on; both are accepted.
#include <winsock2.h>
// After winsock2.h, which it needs.
#include <ws2bth.h>

#include <cstring>

#include "test_support.h"

namespace vdm::test {
namespace {

using WinsockTest = TransportTest;

constexpr VBluetoothSocketAddress kAddress{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0};

// The platform converts the text both ways where it can; a connect fails
// without Bluetooth, or with no scanner in reach.
TEST_F(WinsockTest, EveryCallSucceedsOrFailsCleanly) {
  ASSERT_EQ(VBluetoothSocketStartup(), V_OK);
  Handle name = MakeString(L"Scanner"), text = MakeString(L"00:11:22:33:44:55"), device;
  const VResult created = VBluetoothDeviceCreateFromString(name.get(), text.get(), device.put());
  if (VFailed(created)) {
    EXPECT_EQ(created, V_E_WIN32);
    EXPECT_EQ(device.get(), nullptr);
    EXPECT_EQ(GetLastError().callStack, L"   at WSAStringToAddressW\r\n");
    EXPECT_NE(GetLastError().platformCode, 0);
  }

  device.reset();
  ASSERT_EQ(VBluetoothDeviceCreate(name.get(), &kAddress, device.put()), V_OK);
  Handle shown, socket;
  const VResult formatted = VBluetoothDeviceToString(device.get(), shown.put());
  if (VSucceeded(formatted)) {
    // Whatever brackets the platform adds are gone.
    EXPECT_EQ(vfw::ToWString(shown.get()), L"00:11:22:33:44:55");
  } else {
    EXPECT_EQ(formatted, V_E_WIN32);
    EXPECT_EQ(shown.get(), nullptr);
    EXPECT_EQ(GetLastError().callStack, L"   at WSAAddressToStringW\r\n");
    EXPECT_NE(GetLastError().platformCode, 0);
  }

  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()),
            V_E_WIN32);
  EXPECT_EQ(socket.get(), nullptr);
  const vfw::LastError error = GetLastError();
  if (error.callStack == L"   at socket\r\n") {
    // Wine: no Bluetooth address family or no RFCOMM protocol.
    EXPECT_TRUE(error.platformCode == WSAEAFNOSUPPORT || error.platformCode == WSAEPROTONOSUPPORT ||
                error.platformCode == WSAESOCKTNOSUPPORT)
        << error.platformCode;
  } else {
    EXPECT_EQ(error.callStack, L"   at connect\r\n");
    EXPECT_NE(error.platformCode, 0);
  }
  EXPECT_EQ(VBluetoothSocketCleanup(), V_OK);
}

// The module hands its address record to Winsock as a SOCKADDR_BTH: the
// same 30 bytes as one Winsock fills through its own field names.
TEST(WinsockRecord, AddressRecordIsWinsocksOwn) {
  SOCKADDR_BTH winsock;
  std::memset(&winsock, 0xCC, sizeof(winsock));
  winsock.addressFamily = AF_BTH;
  winsock.btAddr = 0x0000A1B2C3D4E5F6;
  winsock.serviceClassId = GUID{0x00001101, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
  winsock.port = 7;
  VBluetoothSocketAddress ours{V_BLUETOOTH_ADDRESS_FAMILY, 0x0000A1B2C3D4E5F6, {}, 7};
  std::memcpy(ours.serviceClassId, kVBluetoothSerialPortServiceClass, 16);
  ASSERT_EQ(sizeof(winsock), std::size_t{V_BLUETOOTH_ADDRESS_SIZE});
  EXPECT_EQ(std::memcmp(&winsock, &ours, V_BLUETOOTH_ADDRESS_SIZE), 0);
}

}  // namespace
}  // namespace vdm::test
