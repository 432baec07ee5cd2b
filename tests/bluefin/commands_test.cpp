// The identity, status and key commands: refusals that send nothing, the
// order of a key switch, refused keys, session keys and answer decoding.
#include <algorithm>
#include <cstring>
#include <tuple>

#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

using CommandsTest = ScannerTest;

TEST_F(CommandsTest, RefusalsSendNothing) {
  ASSERT_EQ(Open(), V_OK);
  HVImage image = nullptr;
  VUInt32 ready = 7;
  const wchar_t *kNotSecure = L"Device is not in secure mode";
  EXPECT_TRUE(
      Gave(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), V_E_INVALID_OPERATION, kNotSecure));
  EXPECT_TRUE(Gave(BlueFinSetStatus(device, 0), V_E_INVALID_OPERATION, kNotSecure));
  EXPECT_TRUE(Gave(BlueFinGetImage(device, &image), V_E_INVALID_OPERATION, kNotSecure));
  EXPECT_TRUE(Gave(BlueFinSetKey(device, kSessionKey.data(), 16), V_E_ARGUMENT,
                   L"Only 256 bit (32 byte) keys are supported"));
  EXPECT_EQ(Codes(), (std::vector<int>{0x01}));
  EXPECT_EQ(ready, 7u);
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(KeyOfNextCommand(), kDefaultKey);
}

TEST_F(CommandsTest, KeySwitchGoesAndIsAnsweredUnderTheOldKey) {
  // The scanner answers a key command under its old key; taking the answer
  // under the new one would fail the switch.
  // The status commands need secure mode: that they go out at all shows
  // that each switch turned it on.
  OpenSecure();
  EXPECT_EQ(emulator->CurrentKey(), kSessionKey);
  EXPECT_EQ(BlueFinSetStatus(device, 0), V_OK);
  EXPECT_EQ(BlueFinRestoreDefaultKey(device), V_OK);
  EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_OK);

  const auto transcript = emulator->Transcript();
  EXPECT_EQ(Codes(), (std::vector<int>{0x01, 0x05, 0x0C, 0x05, 0x09}));
  const std::vector<Key> expected = {kDefaultKey, kDefaultKey, kSessionKey, kSessionKey, kDefaultKey};
  ASSERT_EQ(transcript.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(transcript[i].key, expected[i]) << "command " << i;
  }
  EXPECT_TRUE(std::equal(kSessionKey.begin(), kSessionKey.end(), transcript[1].arguments.begin()));
  EXPECT_TRUE(std::equal(kDefaultKey.begin(), kDefaultKey.end(), transcript[3].arguments.begin()));
}

TEST_F(CommandsTest, RefusedKeysChangeNothing) {
  const auto key = On(Command::kSetKey);
  ASSERT_EQ(Open(), V_OK);
  for (const Fault &fault :
       {Fault::RefuseKey(key, 0), Fault::RefuseKey(key, 2), Fault::PayloadLength(key, 12)}) {
    Inject({fault});
    EXPECT_TRUE(Gave(BlueFinSetKey(device, kSessionKey.data(), 32), V_E_FAILED, L"New AES key was not set"));
    EXPECT_FALSE(IsSecure());
    // A cut answer does not undo the scanner's switch; the device keeps
    // talking under the old key all the same.
    emulator->ForceKey(kDefaultKey);
    EXPECT_EQ(KeyOfNextCommand(), kDefaultKey);
  }
}

// A session key is the platform's cryptographic random source's draw, as
// drawn, and a fresh one at each call: never a sequence of the C library's
// or one seeded from the clock, which another process could repeat.
TEST_F(CommandsTest, RandomKeysAreFreshDrawsOfTheSecureSource) {
  ASSERT_EQ(Open(), V_OK);
  std::vector<Key> keys;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
    ASSERT_EQ(Moved("secureRandom").size(), keys.size() + 1);
    const Bytes draw = Moved("secureRandom").back();
    ASSERT_EQ(draw.size(), Key{}.size());
    keys.push_back({});
    std::copy(draw.begin(), draw.end(), keys.back().begin());
    EXPECT_EQ(emulator->CurrentKey(), keys.back());
    EXPECT_EQ(KeyOfNextCommand(), keys.back());
  }
  EXPECT_NE(keys[0], keys[1]);
  Seam().Script("secureRandom", Fails(5, L"   at getrandom\r\n"));
  EXPECT_EQ(BlueFinSetRandomKey(device), V_E_WIN32);
  EXPECT_EQ(KeyOfNextCommand(), keys[1]);
  EXPECT_EQ(Codes(), (std::vector<int>{0x01, 0x05, 0x03, 0x05, 0x03, 0x03}));
}

TEST_F(CommandsTest, IdentityAnswersAreDecoded) {
  struct Case {
    const char *model;  // as configured, and as it must come back
    VUInt32 serial;
    bool cut;  // the answer cut to 15 bytes
  };
  // clang-format off
  const Case cases[] = {
      {"ABC",     0x12345678, false},
      {"SCANNER", 0xFEDCBA98, false},
      {"X",       1,          true},
  };
  // clang-format on
  for (const Case c : cases) {
    Close();
    emu::Options options;
    options.model = c.model;
    options.serial = c.serial;
    Start(options);
    ASSERT_EQ(Open(), V_OK);
    if (c.cut)
      Inject({Fault::PayloadLength(On(Command::kIdentity), 15)});
    char model[8];
    std::memset(model, 'x', sizeof model);
    VUInt32 serial = 0, value14 = 0;
    VUInt8 value12 = 0, value13 = 9;
    const VResult result = BlueFinGetDeviceInfo(device, model, &serial, &value12, &value13, &value14);
    if (c.cut) {
      EXPECT_TRUE(Gave(result, V_E_FAILED, L"Response is too short"));
      EXPECT_EQ(serial, 0u);
      continue;
    }
    ASSERT_EQ(result, V_OK);
    EXPECT_STREQ(model, c.model);
    EXPECT_EQ(serial, c.serial);
    // The emulator's hardware revision 1.0 and firmware 0x0102.
    EXPECT_EQ(std::tuple(value12, value13, value14), std::tuple(1, 0, 0x0102u));
  }
}

TEST_F(CommandsTest, StatusAnswersAreDecoded) {
  Close();
  emu::Options options;
  options.readyAfterPolls = 2;
  Start(options);
  OpenSecure();
  struct Expected {
    VUInt32 flag12, flag13, ready, value14;
    bool operator==(const Expected &) const = default;
  };
  const auto poll = [&] {
    Expected out{9, 9, 9, 9};
    EXPECT_EQ(BlueFinGetStatus(device, &out.flag12, &out.flag13, &out.ready, &out.value14), V_OK);
    return out;
  };
  EXPECT_EQ(poll(), (Expected{0, 0, 0, 0}));
  ASSERT_EQ(BlueFinSetStatus(device, 1), V_OK);
  EXPECT_EQ(poll(), (Expected{1, 1, 0, 1}));
  EXPECT_EQ(poll(), (Expected{1, 1, 0, 2}));
  EXPECT_EQ(poll(), (Expected{1, 1, 1, 2}));
  // All outputs null: still asked for and still tested.
  EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_OK);
  Inject({Fault::PayloadLength(On(Command::kGetStatus), 15)});
  EXPECT_TRUE(
      Gave(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_E_FAILED, L"Response too short"));
  EXPECT_EQ(Codes().size(), 2u + 1 + 4 + 2);
}

TEST_F(CommandsTest, StatusCommandWantsTheStatusInForceBack) {
  OpenSecure();
  const auto set = On(Command::kSetStatus);
  struct Case {
    VUInt32 status;
    std::vector<Fault> faults;
    const wchar_t *message;  // null: accepted
  };
  const Case cases[] = {
      // clang-format off
      {1,   {},                                   nullptr},
      {0,   {Fault::PayloadLength(set, 14)},      nullptr},
      {1,   {Fault::PayloadLength(set, 13)},      L"Response too short"},
      {1,   {Fault::WrongStatusEcho(set, 0)},     L"Status was not changed"},
      {256, {},                                   L"Status was not changed"},  // only the low byte travels
      // clang-format on
  };
  for (const Case &c : cases) {
    Inject(c.faults);
    const VResult result = BlueFinSetStatus(device, c.status);
    if (c.message == nullptr) {
      EXPECT_EQ(result, V_OK) << c.status;
    } else {
      EXPECT_TRUE(Gave(result, V_E_FAILED, c.message)) << c.status;
    }
    EXPECT_EQ(emulator->Transcript().back().arguments, Bytes{static_cast<std::uint8_t>(c.status)});
  }
}

}  // namespace
}  // namespace vdm::bluefin::test
