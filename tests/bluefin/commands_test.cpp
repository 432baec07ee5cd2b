// The identity, status and key commands: secure-mode refusals, the order of
// a key switch, refused keys, session keys, and the decoding of answers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

using CommandsTest = ScannerTest;

TEST_F(CommandsTest, RefusalsSendNothing) {
  peer.Start([](PeerConnection &link) {
    link.AnswerEcho();
    if (link.Expect(0x03))
      link.Respond(Payload(0x03, 16));
    EXPECT_TRUE(link.EndsWithoutMore());
  });
  ASSERT_EQ(Open(), V_OK);
  HVImage image = nullptr;
  VUInt32 ready = 7;
  const VUInt8 key[32] = {};
  EXPECT_TRUE(Fails(BlueFinGetStatus(device, nullptr, nullptr, &ready, nullptr), -7,
                    L"Device is not in secure mode"));
  EXPECT_TRUE(Fails(BlueFinSetStatus(device, 0), -7, L"Device is not in secure mode"));
  EXPECT_TRUE(Fails(BlueFinGetImage(device, &image), -7, L"Device is not in secure mode"));
  EXPECT_TRUE(Fails(BlueFinSetKey(device, key, 16), -10, L"Only 256 bit (32 byte) keys are supported"));
  EXPECT_EQ(ready, 7u);
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_OK);
}

TEST_F(CommandsTest, KeySwitchAnswersUnderTheOldKeyAndTheNextFrameUsesTheNew) {
  const Key next = TestKey(2);
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    const auto command = link.Expect(0x05);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->length, 33);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), command->plaintext.begin() + 1));
    link.Respond(Payload(0x05, 16, {{12, 1}}));
    link.key = next;
    if (link.Expect(0x0C))
      link.Respond(Payload(0x0C, 14));
    // The restore travels under the session key and is answered under it.
    EXPECT_EQ(link.AcceptKey(), DefaultKey());
    if (link.Expect(0x09))
      link.Respond(Payload(0x09, 16));
  });
  ASSERT_EQ(Open(), V_OK);
  ASSERT_EQ(BlueFinSetKey(device, next.data(), 32), V_OK);
  EXPECT_EQ(record()->isSecureMode, 1u);
  EXPECT_EQ(BlueFinSetStatus(device, 0), V_OK);
  EXPECT_EQ(BlueFinRestoreDefaultKey(device), V_OK);
  EXPECT_EQ(Key(std::to_array(record()->key)), DefaultKey());
  EXPECT_EQ(record()->isSecureMode, 1u);
  EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_OK);
}

struct RefusedKey {
  std::size_t length;
  std::uint8_t result;
};

TEST_F(CommandsTest, RefusedKeysChangeNothing) {
  const RefusedKey cases[] = {{12, 1}, {13, 0}, {13, 2}};
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    for (const RefusedKey &c : cases) {
      if (!link.Expect(0x05))
        return;
      Bytes payload = Payload(0x05, 13, {{12, c.result}});
      payload.resize(c.length);
      link.Respond(payload);
      // Still under the default key.
      if (link.Expect(0x03))
        link.Respond(Payload(0x03, 16));
    }
  });
  ASSERT_EQ(Open(), V_OK);
  for (const RefusedKey &c : cases) {
    const Key key = TestKey(5);
    EXPECT_TRUE(Fails(BlueFinSetKey(device, key.data(), 32), -1, L"New AES key was not set")) << c.length;
    EXPECT_EQ(record()->isSecureMode, 0u);
    EXPECT_EQ(Key(std::to_array(record()->key)), DefaultKey());
    EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_OK);
  }
}

TEST_F(CommandsTest, RandomKeysAreFreshEachTime) {
  std::vector<Key> keys;
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    for (int i = 0; i < 2; ++i) {
      keys.push_back(link.AcceptKey());
      if (link.Expect(0x0C))
        link.Respond(Payload(0x0C, 14));
    }
    // A failed draw sends nothing: the next command is the identity query.
    if (link.Expect(0x03))
      link.Respond(Payload(0x03, 16));
  });
  ASSERT_EQ(Open(), V_OK);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
    EXPECT_EQ(BlueFinSetStatus(device, 0), V_OK) << "the next frame goes under the new key";
  }
  vdm::platform::PlatformCalls failing = vdm::platform::PlatformDefault();
  failing.secureRandom = [](VUInt8 *, VUInt32, vdm::platform::Failure *pFailure) {
    *pFailure = {5, L"   at getrandom\r\n"};
    return false;
  };
  vdm::platform::SetPlatformCalls(&failing);
  const Key before = std::to_array(record()->key);
  EXPECT_EQ(BlueFinSetRandomKey(device), V_E_WIN32);
  vdm::platform::SetPlatformCalls(nullptr);
  EXPECT_EQ(Key(std::to_array(record()->key)), before);
  EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_OK);
  Close();
  peer.Join();

  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NE(keys[0], keys[1]);
  for (const Key &key : keys)
    EXPECT_NE(key, DefaultKey());
}

TEST_F(CommandsTest, IdentityAnswersAreDecoded) {
  struct Case {
    Bytes payload;
    const char *model;  // seven characters; null: refused as too short
    VUInt32 serial;
    VUInt8 value12, value13;
    VUInt32 value14;
  };
  const Case cases[] = {
      {Payload(0x03, 16, {{1, 'B'}, {2, 'F'}, {3, '1'}, {8, 0x12}, {9, 0x34}, {10, 0x56}, {11, 0x78}}),
       "BF1\0\0\0\0", 0x12345678, 0, 0, 0},
      {Payload(0x03, 20, {{1, 'A'}, {7, 'G'}, {8, 0xFF}, {12, 9}, {13, 0x80}, {14, 0xAB}, {15, 0xCD}}),
       "A\0\0\0\0\0G", 0xFF000000, 9, 0x80, 0xABCD},
      {Payload(0x03, 16, {{1, 'S'}, {2, 'C'}, {3, 'A'}, {4, 'N'}, {5, 'N'}, {6, 'E'}, {7, 'R'}}), "SCANNER",
       0, 0, 0, 0},
      {Payload(0x03, 15), nullptr, 0, 0, 0, 0},
  };
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    for (const Case &c : cases) {
      if (link.Expect(0x03))
        link.Respond(c.payload);
    }
  });
  ASSERT_EQ(Open(), V_OK);
  for (const Case &c : cases) {
    char model[8];
    std::fill(std::begin(model), std::end(model), 'x');
    VUInt32 serial = 1, value14 = 1;
    VUInt8 value12 = 1, value13 = 1;
    const VResult result = BlueFinGetDeviceInfo(device, model, &serial, &value12, &value13, &value14);
    if (c.model == nullptr) {
      EXPECT_TRUE(Fails(result, -1, L"Response is too short"));
      EXPECT_EQ(serial, 1u);
      continue;
    }
    ASSERT_EQ(result, V_OK);
    EXPECT_EQ(0, std::memcmp(model, c.model, 7));
    EXPECT_EQ(model[7], '\0');
    EXPECT_EQ(serial, c.serial);
    EXPECT_EQ(value12, c.value12);
    EXPECT_EQ(value13, c.value13);
    EXPECT_EQ(value14, c.value14);
  }
}

TEST_F(CommandsTest, StatusAnswersAreDecoded) {
  struct Case {
    Bytes payload;
    VResult result;  // -1: too short
    VUInt32 flag12, flag13, ready, value14;
  };
  const Case cases[] = {
      {Payload(0x09, 16), 0, 0, 0, 0, 0},
      {Payload(0x09, 16, {{13, 1}}), 0, 0, 1, 0, 0},
      {Payload(0x09, 16, {{12, 0x40}, {13, 2}, {14, 0x01}, {15, 0x02}}), 0, 1, 1, 1, 0x0102},
      {Payload(0x09, 30, {{13, 3}}), 0, 0, 1, 0, 0},
      {Payload(0x09, 15, {{13, 2}}), -1, 9, 9, 9, 9},
  };
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    link.AcceptKey();
    for (const Case &c : cases) {
      if (link.Expect(0x09))
        link.Respond(c.payload);
    }
    // All outputs null: still asked and still tested.
    if (link.Expect(0x09))
      link.Respond(Payload(0x09, 16));
  });
  OpenSecure();
  for (const Case &c : cases) {
    VUInt32 out[4] = {9, 9, 9, 9};
    const VResult result = BlueFinGetStatus(device, &out[0], &out[1], &out[2], &out[3]);
    if (c.result == -1) {
      EXPECT_TRUE(Fails(result, -1, L"Response too short"));
    } else {
      EXPECT_EQ(result, V_OK);
    }
    EXPECT_EQ(out[0], c.flag12);
    EXPECT_EQ(out[1], c.flag13);
    EXPECT_EQ(out[2], c.ready);
    EXPECT_EQ(out[3], c.value14);
  }
  EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_OK);
}

TEST_F(CommandsTest, StatusCommandChecksTheStatusInForce) {
  struct Case {
    VUInt32 status;
    std::size_t length;
    std::uint8_t answer;
    const wchar_t *message;  // null: accepted
  };
  const Case cases[] = {
      {1, 14, 1, nullptr},
      {0, 40, 0, nullptr},
      {1, 13, 1, L"Response too short"},
      {1, 14, 0, L"Status was not changed"},
      {256, 14, 0, L"Status was not changed"},  // only the low byte travels
  };
  std::vector<int> sent;
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    link.AcceptKey();
    for (const Case &c : cases) {
      const auto command = link.Expect(0x0C);
      if (!command)
        return;
      sent.push_back(command->length == 2 ? command->plaintext[1] : -1);
      Bytes payload = Payload(0x0C, std::max<std::size_t>(c.length, 13), {{12, c.answer}});
      payload.resize(c.length);
      link.Respond(payload);
    }
  });
  OpenSecure();
  for (const Case &c : cases) {
    const VResult result = BlueFinSetStatus(device, c.status);
    if (c.message == nullptr) {
      EXPECT_EQ(result, V_OK) << c.status;
    } else {
      EXPECT_TRUE(Fails(result, -1, c.message)) << c.status;
    }
  }
  Close();
  peer.Join();
  EXPECT_EQ(sent, (std::vector<int>{1, 0, 1, 1, 0}));
}

}  // namespace
}  // namespace bluefin_test
