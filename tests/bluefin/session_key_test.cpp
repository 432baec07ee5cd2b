// Session keys across processes, and a whole session as opening, capture
// and closing run it: open, identity, key switch, ready poll, twelve parts,
// default key back.
#include <algorithm>
#include <cstdlib>

#include "child_process.h"
#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

using SessionTest = ScannerTest;

TEST_F(SessionTest, TwoProcessesDrawDifferentUnpredictableKeys) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(RunChild(BLUEFIN_SESSION_KEY_CHILD, address()), 0) << "child " << i;
  }
  // Each child switched to its key, then back to the default key.
  std::vector<Key> keys;
  for (const emu::TranscriptEntry &entry : emulator->Transcript()) {
    if (entry.code != 0x05 || entry.key != kDefaultKey)
      continue;
    Key key;
    std::copy_n(entry.arguments.begin(), key.size(), key.begin());
    keys.push_back(key);
  }
  std::srand(1);  // what a process that never seeds would draw
  Key predictable;
  for (auto &b : predictable)
    b = static_cast<std::uint8_t>(std::rand());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NE(keys[0], keys[1]);
  for (const Key &key : keys) {
    EXPECT_NE(key, predictable);
    EXPECT_NE(key, kDefaultKey);
  }
}

TEST_F(SessionTest, ASyntheticFingerArrivesExactly) {
  emu::Options options;
  options.readyAfterPolls = 2;
  Close();
  Start(options);
  ASSERT_EQ(Open(), V_OK);
  char model[8];
  ASSERT_EQ(BlueFinGetDeviceInfo(device, model, nullptr, nullptr, nullptr, nullptr), V_OK);
  ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
  const Key session = DeviceKey();
  ASSERT_EQ(BlueFinSetStatus(device, 0), V_OK);
  ASSERT_EQ(BlueFinSetStatus(device, 1), V_OK);
  VUInt32 ready = 0;
  while (ready == 0)
    ASSERT_EQ(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), V_OK);
  HVImage image = nullptr;
  ASSERT_EQ(BlueFinGetImage(device, &image), V_OK);
  void *pixels = nullptr;
  ASSERT_EQ(VImageGetPixelsPtr(image, &pixels), V_OK);
  const auto *first = static_cast<const std::uint8_t *>(pixels);
  EXPECT_EQ(Bytes(first, first + 256 * 360), emulator->ExpectedImage());
  VObjectSet(nullptr, &image);
  ASSERT_EQ(BlueFinSetStatus(device, 0), V_OK);
  ASSERT_EQ(BlueFinRestoreDefaultKey(device), V_OK);
  EXPECT_EQ(emulator->CurrentKey(), kDefaultKey);

  std::vector<int> expected = {0x01, 0x03, 0x05, 0x0C, 0x0C, 0x09, 0x09, 0x09};
  expected.insert(expected.end(), 12, 0x11);
  expected.insert(expected.end(), {0x0C, 0x05});
  EXPECT_EQ(Codes(), expected);
  const auto transcript = emulator->Transcript();
  for (std::size_t i = 0; i < transcript.size(); ++i) {
    EXPECT_EQ(transcript[i].key, i < 3 ? kDefaultKey : session) << "command " << i;
  }
}

}  // namespace
}  // namespace bluefin_test
