// The BlueZ backend's connect for address records the module itself never
// makes (its records come from address text: Bluetooth family, port 0):
// one that names its RFCOMM channel, and one of another family.
#include <errno.h>

#include <cstdlib>

#include "bluetooth/platform/emulated_link.h"
#include "tests/bluetooth/test_support.h"
#include "tests/radio/remote_device.h"

namespace vdm::test {
namespace {

using radio::test::DeviceSetup;
using radio::test::kSerialPortClass;
using radio::test::RemoteDevice;

class BlueZTransportTest : public TransportTest {
 protected:
  // A device whose Serial Port record names channel 9, while channel 4
  // leads to a raw peer.
  BlueZTransportTest()
      : address_(UniqueAddress()),
        device_(address_,
                DeviceSetup{.records = {{{kSerialPortClass}, 9}},
                            .served = 4,
                            .listenName = EmulatedLinkName(address_, kVBluetoothSerialPortServiceClass)}),
        peer_(address_, kVBluetoothSerialPortServiceClass) {}

  Handle Device(VUInt16 family, VUInt32 port) {
    VBluetoothSocketAddress record{};
    record.addressFamily = family;
    for (std::size_t i = 0; i < address_.size(); i += 3) {
      record.btAddr = record.btAddr << 8 | std::strtoull(address_.substr(i, 2).c_str(), nullptr, 16);
    }
    record.port = port;
    Handle name = MakeString(L"Scanner"), device;
    EXPECT_EQ(VBluetoothDeviceCreate(name.get(), &record, device.put()), V_OK);
    return device;
  }

  std::string address_;
  RemoteDevice device_;
  TestPeer peer_;
};

TEST_F(BlueZTransportTest, ARecordThatNamesItsChannelIsConnectedWithoutSdp) {
  Handle device = Device(V_BLUETOOTH_ADDRESS_FAMILY, 4), socket;
  ASSERT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()), V_OK)
      << vfw::ToUtf8(GetLastError().callStack);
  EXPECT_EQ(device_.SdpConnects(), 0);
  EXPECT_EQ(device_.RfcommConnects(), std::vector<std::uint8_t>{4});
  const int fd = peer_.Accept();
  peer_.Write(fd, {1, 2, 3});
  VUInt8 bytes[3] = {};
  EXPECT_EQ(VBluetoothSocketReceive(socket.get(), bytes, sizeof(bytes), 1000), V_OK);
  EXPECT_EQ(bytes[2], 3);
}

TEST_F(BlueZTransportTest, ARecordOfAnotherFamilyIsRefusedBeforeAnyPage) {
  Handle device = Device(2, 0), socket;
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()),
            V_E_WIN32);
  ExpectPlatformError(EAFNOSUPPORT, L"   at connect\r\n");
  EXPECT_EQ(device_.SdpConnects(), 0);
  EXPECT_TRUE(device_.RfcommConnects().empty());
}

}  // namespace
}  // namespace vdm::test
