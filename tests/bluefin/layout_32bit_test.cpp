// The BlueFinDevice type and an open device as the 32-bit host sees them:
// the descriptor's values at their offsets, and the eight fields after the
// 36-byte base object, 124 bytes in all.
#include "framework/v_support.h"
#include "scanner_fixture.h"
#include "tests/host_layout_32bit.h"

namespace vdm::bluefin::test {
namespace {

using vdm::test::At;
using Layout32Test = ScannerTest;

constexpr std::size_t kSocket = 36, kName = 40, kAddress = 44, kSecureMode = 48, kDefaultKeyAt = 52,
                      kKeyAt = 84, kCallback = 116, kParam = 120;

VResult V_CALL NoProgress(HVBlueFin, VInt32, HVImage, void *) {
  return 0;
}

TEST(Layout32, DescriptorAsTheHostReadsIt) {
  vdm::test::ExpectDescriptor(BlueFinDeviceTypeInit, {L"BlueFinDevice", 124, BlueFinDispose, nullptr});
}

TEST_F(Layout32Test, OpenDeviceAsTheHostReadsIt) {
  ASSERT_EQ(Open(), V_OK);
  const void *record = device;
  EXPECT_NE(At<HVBluetoothSocket>(record, kSocket), nullptr);
  EXPECT_EQ(vfw::ToWString(At<HVString>(record, kName)), L"Scanner");
  EXPECT_EQ(vfw::ToUtf8(vfw::ToWString(At<HVString>(record, kAddress))), address);
  EXPECT_EQ(At<VUInt32>(record, kSecureMode), 0u);
  EXPECT_EQ(At<Key>(record, kDefaultKeyAt), kDefaultKey);
  EXPECT_EQ(At<Key>(record, kKeyAt), kDefaultKey);
  EXPECT_EQ(At<std::uint32_t>(record, kCallback), 0u);
  EXPECT_EQ(At<std::uint32_t>(record, kParam), 0u);

  int param = 0;
  ASSERT_EQ(BlueFinSetProgressCallback(device, NoProgress, &param), V_OK);
  EXPECT_EQ(At<std::uint32_t>(record, kCallback), vdm::test::AddressOf(NoProgress));
  EXPECT_EQ(At<std::uint32_t>(record, kParam), vdm::test::AddressOf(&param));

  // A new key lands in the key field alone; the default stays beside it.
  ASSERT_EQ(BlueFinSetKey(device, kSessionKey.data(), 32), V_OK);
  EXPECT_EQ(At<VUInt32>(record, kSecureMode), 1u);
  EXPECT_EQ(At<Key>(record, kDefaultKeyAt), kDefaultKey);
  EXPECT_EQ(At<Key>(record, kKeyAt), kSessionKey);
}

}  // namespace
}  // namespace vdm::bluefin::test
