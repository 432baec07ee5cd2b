// The transport's two types and their instances as the 32-bit host sees
// them: a device is the 36-byte base object, its name and the 30-byte
// socket address record, 72 bytes in all; a socket the base object, the
// platform's socket and the connected flag, 44 bytes.
#include "test_support.h"
#include "tests/host_layout_32bit.h"

namespace vdm::test {
namespace {

constexpr std::size_t kDeviceName = 36, kDeviceAddress = 40;
constexpr std::size_t kSocketHandle = 36, kSocketConnected = 40;

TEST(Layout32, DescriptorsAsTheHostReadsThem) {
  ExpectDescriptor(VBluetoothDeviceTypeInit,
                   {L"VBluetoothDevice", 72, VBluetoothDeviceDispose, VBluetoothDeviceCompare});
  ExpectDescriptor(VBluetoothSocketTypeInit, {L"VBluetoothSocket", 44, VBluetoothSocketDispose, nullptr});
}

using Layout32Test = TransportTest;

TEST_F(Layout32Test, DeviceAsTheHostReadsIt) {
  VBluetoothSocketAddress address{V_BLUETOOTH_ADDRESS_FAMILY, 0x0000A1B2C3D4E5F6, {}, 7};
  for (VUInt8 i = 0; i < 16; ++i)
    address.serviceClassId[i] = static_cast<VUInt8>(0x40 + i);
  Handle name = MakeString(L"Scanner"), device;
  ASSERT_EQ(VBluetoothDeviceCreate(name.get(), &address, device.put()), V_OK);
  const void *record = device.get();
  EXPECT_EQ(ToWString(At<HVString>(record, kDeviceName)), L"Scanner");
  // The record's own fields, packed: family, address, service class, port.
  EXPECT_EQ(At<VUInt16>(record, kDeviceAddress), V_BLUETOOTH_ADDRESS_FAMILY);
  EXPECT_EQ(At<VUInt64>(record, kDeviceAddress + 2), 0x0000A1B2C3D4E5F6u);
  for (VUInt8 i = 0; i < 16; ++i)
    EXPECT_EQ(At<VUInt8>(record, kDeviceAddress + 10 + i), 0x40 + i);
  EXPECT_EQ(At<VUInt32>(record, kDeviceAddress + 26), 7u);
}

TEST_F(Layout32Test, SocketAsTheHostReadsIt) {
  const std::string address = UniqueAddress();
  TestPeer peer(address, kVBluetoothSerialPortServiceClass);
  Handle device = MakeDevice(address), socket;
  ASSERT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()), V_OK);
  peer.Accept();
  const void *record = socket.get();
  EXPECT_NE(At<std::uint32_t>(record, kSocketHandle), 0u);
  EXPECT_EQ(At<VBool>(record, kSocketConnected), V_TRUE);
  ASSERT_EQ(VBluetoothSocketShutdown(socket.get()), V_OK);
  EXPECT_NE(At<std::uint32_t>(record, kSocketHandle), 0u);
  EXPECT_EQ(At<VBool>(record, kSocketConnected), V_FALSE);
  ASSERT_EQ(VBluetoothSocketClose(socket.get()), V_OK);
  EXPECT_EQ(At<std::uint32_t>(record, kSocketHandle), 0u);
}

}  // namespace
}  // namespace vdm::test
