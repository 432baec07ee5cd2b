// The BlueZ backend on a machine without Bluetooth in the kernel (CI): a
// connect fails cleanly with the platform's code and leaves nothing behind.
#include "test_support.h"

namespace vdm::test {
namespace {

using BlueZTest = TransportTest;

TEST_F(BlueZTest, ConnectWithoutBluetoothFailsCleanly) {
  Handle device = MakeDevice(L"00:11:22:33:44:55"), socket;
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()),
            V_E_WIN32);
  EXPECT_EQ(socket.get(), nullptr);
  const vfw::LastError error = GetLastError();
  if (error.callStack == L"   at socket\r\n") {
    EXPECT_EQ(error.platformCode, EAFNOSUPPORT);
  } else {
    // A kernel with Bluetooth but no adapter or no device in reach.
    EXPECT_EQ(error.callStack, L"   at sdp_connect\r\n");
    EXPECT_NE(error.platformCode, 0);
  }
}

}  // namespace
}  // namespace vdm::test
