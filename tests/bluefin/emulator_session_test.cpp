// A whole session against the scanner emulator, the module's side driven
// the way opening, capturing and closing a device drive it: the image that
// arrives is exactly the one the scanner meant to send.
#include <random>
#include <vector>

#include "emulator/emulator.h"
#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

namespace emu = bluefin::emu;

struct SessionCase {
  const char *name;
  bool randomImage;
};

void PrintTo(const SessionCase &c, std::ostream *out) {
  *out << c.name;
}

class EmulatorSession : public ScannerTest, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(EmulatorSession, CapturesExactlyTheImageTheScannerMeantToSend) {
  emu::Options options;
  options.address = UniqueAddress();
  options.model = "BF-7";
  options.serial = 0x00C0FFEE;
  options.readyAfterPolls = 2;
  if (GetParam().randomImage) {
    std::mt19937 random(99);
    options.image = emu::Image(256 * 360);
    for (auto &pixel : *options.image)
      pixel = static_cast<std::uint8_t>(random());
  }
  emu::Emulator emulator(options);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;

  // Opening: echo, identity, session key, status 0.
  ASSERT_EQ(OpenAt(options.address), V_OK);
  char model[8];
  VUInt32 serial = 0;
  ASSERT_EQ(BlueFinGetDeviceInfo(device, model, &serial, nullptr, nullptr, nullptr), V_OK);
  EXPECT_STREQ(model, "BF-7");
  EXPECT_EQ(serial, 0x00C0FFEEu);
  ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
  const Key session = std::to_array(record()->key);
  EXPECT_EQ(emulator.CurrentKey(), session);
  EXPECT_NE(session, DefaultKey());
  ASSERT_EQ(BlueFinSetStatus(device, 0), V_OK);

  // Capture: arm, poll until ready, fetch, disarm.
  ASSERT_EQ(BlueFinSetStatus(device, 1), V_OK);
  VUInt32 ready = 0;
  int polls = 0;
  while (ready == 0 && polls < 10) {
    ASSERT_EQ(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), V_OK);
    ++polls;
  }
  EXPECT_EQ(polls, 3);
  HVImage image = nullptr;
  ASSERT_EQ(BlueFinGetImage(device, &image), V_OK);
  void *pixels = nullptr;
  ASSERT_EQ(VImageGetPixelsPtr(image, &pixels), V_OK);
  const auto *first = static_cast<const std::uint8_t *>(pixels);
  EXPECT_EQ(emu::Image(first, first + 256 * 360), emulator.ExpectedImage());
  VObjectSet(nullptr, &image);
  ASSERT_EQ(BlueFinSetStatus(device, 0), V_OK);

  // Closing puts the scanner back on the default key.
  ASSERT_EQ(BlueFinRestoreDefaultKey(device), V_OK);
  EXPECT_EQ(emulator.CurrentKey(), DefaultKey());
  Close();

  std::vector<int> codes;
  std::vector<int> parts;
  for (const emu::TranscriptEntry &entry : emulator.Transcript()) {
    codes.push_back(entry.code);
    const bool underSession = codes.size() > 3;  // from the command after the key command
    EXPECT_EQ(entry.key, underSession ? session : DefaultKey()) << "command " << codes.size();
    if (entry.code == 0x11)
      parts.push_back(entry.arguments.at(0));
  }
  std::vector<int> expected = {0x01, 0x03, 0x05, 0x0C, 0x0C, 0x09, 0x09, 0x09};
  expected.insert(expected.end(), 12, 0x11);
  expected.insert(expected.end(), {0x0C, 0x05});
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(parts, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  emulator.Stop();
}

INSTANTIATE_TEST_SUITE_P(Images, EmulatorSession,
                         ::testing::Values(SessionCase{"SyntheticFinger", false},
                                           SessionCase{"RandomImage", true}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bluefin_test
