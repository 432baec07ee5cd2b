// The scanner as a host meets it over the emulated link: answers, state
// across connections, readiness, transcript and the emulator's life cycle.
#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/delta_encoder.h"
#include "tests/emulator/scanner_client.h"

namespace bluefin::emu::test {
namespace {

std::vector<std::uint8_t> Capture(ScannerClient &client) {
  ArmUntilReady(client);
  std::vector<Bytes> parts;
  for (std::uint8_t part = 0; part < 12; ++part) {
    std::optional<Bytes> payload = client.Exchange(PartCommand(part));
    if (!payload || payload->size() != 3085 || payload->at(0) != 0x91 || payload->at(12) != 1) {
      ADD_FAILURE() << "part " << int{part} << " is not a valid image part";
      return {};
    }
    parts.push_back(std::move(*payload));
  }
  return DecodeParts(parts);
}

TEST(EmulatorSession, OpensSwitchesKeyAndTransfersTheImage) {
  Options options;
  options.model = "BF-X1";
  options.serial = 0x12345678;
  auto emulator = StartEmulator(options);
  ScannerClient client(emulator->ListenName());
  ASSERT_TRUE(client.connected());

  EXPECT_EQ(client.Exchange(EchoCommand()), EchoAnswer());
  const Bytes identity = client.Exchange({0x03}).value_or(Bytes(16));
  EXPECT_EQ(Bytes(identity.begin(), identity.begin() + 12),
            Bytes({0x83, 'B', 'F', '-', 'X', '1', 0, 0, 0x12, 0x34, 0x56, 0x78}));

  // The key answer still comes under the old key; the next frame needs the
  // new one.
  const ClientKey session = OtherKey(3);
  const Bytes keyAnswer = client.Exchange(KeyCommand(session)).value_or(Bytes(16));
  EXPECT_EQ(keyAnswer[0], 0x85);
  EXPECT_EQ(keyAnswer[12], 1);
  EXPECT_EQ(emulator->CurrentKey(), session);
  client.key = session;
  EXPECT_EQ(client.Exchange(StatusCommand(0)).value_or(Bytes(16))[12], 0);

  EXPECT_EQ(Capture(client), emulator->ExpectedImage());
  // All twelve parts served: idle again, no image to ask for.
  EXPECT_EQ(client.Exchange(QueryCommand()).value_or(Bytes(16))[13], 0);
  EXPECT_EQ(client.Exchange(PartCommand(0)).value_or(Bytes(16))[12], 0);
  // Status 0 drops a ready image.
  ArmUntilReady(client);
  EXPECT_EQ(client.Exchange(StatusCommand(0)).value_or(Bytes(16))[12], 0);
  EXPECT_EQ(client.Exchange(QueryCommand()).value_or(Bytes(16))[13], 0);
}

// State lives across connections until a power cycle, which drops the link
// and puts the scanner back on its power-on key; a forced key takes effect
// at once.
TEST(EmulatorSession, KeepsItsStateAcrossConnectionsUntilPowerCycled) {
  Options options;
  options.powerOnKey = OtherKey(1);
  auto emulator = StartEmulator(options);
  const ClientKey session = OtherKey(9);
  {
    ScannerClient first(emulator->ListenName());
    first.key = OtherKey(1);
    ASSERT_TRUE(first.Exchange(KeyCommand(session)));
    first.key = session;
    ASSERT_TRUE(first.Exchange(StatusCommand(1)));
  }
  ScannerClient second(emulator->ListenName());
  second.key = session;
  EXPECT_EQ(second.Exchange(QueryCommand()).value_or(Bytes(16))[12], 1);

  const std::vector<TranscriptEntry> transcript = emulator->Transcript();
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0].code, 0x05);
  EXPECT_EQ(transcript[0].arguments, Bytes(session.begin(), session.end()));
  EXPECT_EQ(transcript[0].key, OtherKey(1));
  EXPECT_EQ(transcript[1].code, 0x0C);
  EXPECT_EQ(transcript[1].arguments, Bytes({1}));
  EXPECT_EQ(transcript[1].key, session);
  EXPECT_EQ(transcript[2].connection, 2u);
  EXPECT_LE(transcript[0].time, transcript[2].time);

  emulator->ResetState();
  EXPECT_EQ(second.ReadToEnd(), Bytes());
  ScannerClient third(emulator->ListenName());
  third.key = OtherKey(1);
  EXPECT_EQ(third.Exchange(EchoCommand()), EchoAnswer());
  EXPECT_EQ(emulator->Snapshot().status, 0);
  emulator->ForceKey(OtherKey(2));
  third.key = OtherKey(2);
  EXPECT_EQ(third.Exchange(EchoCommand()), EchoAnswer());
}

TEST(EmulatorSession, DeclinesWhatItCannotDo) {
  struct Case {
    const char *name;
    bool ready;
    Bytes command;
    std::size_t length;
    std::uint8_t byte12;
  };
  const Case cases[] = {
      // clang-format off
      {"unknown command",                 false, {0x42, 1, 2},     16,   0},
      {"image part while idle",           false, PartCommand(0),   3085, 0},
      {"image part past the last",        true,  PartCommand(12),  3085, 0},
      {"status other than 0 and 1",       true,  StatusCommand(7), 16,   1},
      {"key command without a whole key", false, {0x05, 1, 2, 3},  16,   0},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto emulator = StartEmulator();
    ScannerClient client(emulator->ListenName());
    if (c.ready) {
      ArmUntilReady(client);
    }
    const Bytes answer = client.Exchange(c.command).value_or(Bytes());
    ASSERT_EQ(answer.size(), c.length);
    EXPECT_EQ(answer[0], c.command[0] | 0x80);
    EXPECT_EQ(answer[12], c.byte12);
    EXPECT_EQ(emulator->CurrentKey(), DefaultKey());
  }
}

TEST(EmulatorSession, DropsFramesThatFailTheirChecksumsAndClosesOnABadLength) {
  auto emulator = StartEmulator();
  ScannerClient client(emulator->ListenName());
  Bytes badData = ScannerClient::CommandFrame(StatusCommand(1), client.key);
  badData[3] ^= 1;
  Bytes badHeader = ScannerClient::CommandFrame(StatusCommand(1), client.key);
  badHeader[5] ^= 1;
  ASSERT_TRUE(client.Send(badData) && client.Send(badHeader));
  EXPECT_EQ(client.Exchange(EchoCommand()), EchoAnswer());
  ASSERT_EQ(emulator->Transcript().size(), 1u);
  EXPECT_EQ(emulator->Snapshot().status, 0);

  Bytes tooLong = ScannerClient::CommandFrame(EchoCommand(), client.key);
  tooLong[1] = 44;
  ASSERT_TRUE(client.Send(tooLong));
  EXPECT_EQ(client.ReadToEnd(), Bytes());
}

TEST(EmulatorSession, ServesAGivenImageOrAFreshFingerPerCapture) {
  Image gradient(kImagePixels);
  for (std::size_t i = 0; i < gradient.size(); ++i) {
    gradient[i] = static_cast<std::uint8_t>(20 + (i % kImageWidth) / 4 + (i / kImageWidth) / 3);
  }
  Options given;
  given.image = gradient;
  // The protocol suites capture what it serves; here, that it serves this.
  EXPECT_EQ(StartEmulator(given)->ExpectedImage(), EncodeImage(gradient).reconstruction);

  Options fresh;
  fresh.freshImagePerCapture = true;
  auto fingers = StartEmulator(fresh);
  ScannerClient host(fingers->ListenName());
  const std::vector<std::uint8_t> first = Capture(host);
  EXPECT_EQ(first, fingers->ExpectedImage());
  const std::vector<std::uint8_t> second = Capture(host);
  EXPECT_EQ(second, fingers->ExpectedImage());
  EXPECT_NE(first, second);
}

TEST(EmulatorLifecycle, StartsStopsRestartsAndRefusesATakenAddress) {
  auto emulator = StartEmulator();
  std::string error;
  EXPECT_FALSE(emulator->Start(&error));
  EXPECT_NE(error.find("already running"), std::string::npos) << error;

  Options same;
  same.address = emulator->ListenName().substr(8, 17);
  Emulator twin(same);
  EXPECT_FALSE(twin.Start(&error));
  EXPECT_NE(error.find("Another scanner already listens on @bluefin/0A:"), std::string::npos) << error;

  const ClientKey session = OtherKey(5);
  {
    ScannerClient client(emulator->ListenName());
    ASSERT_TRUE(client.Exchange(KeyCommand(session)));
    emulator->Stop();
    EXPECT_EQ(client.ReadToEnd(), Bytes());
    EXPECT_FALSE(ScannerClient(emulator->ListenName()).connected());
  }
  emulator->Stop();
  ASSERT_TRUE(emulator->Start(&error)) << error;
  ScannerClient client(emulator->ListenName());
  client.key = session;
  EXPECT_TRUE(client.Exchange(EchoCommand()));
  // Stopping with a client connected and in the middle of nothing joins.
  emulator->Stop();
  EXPECT_FALSE(emulator->Running());
}

TEST(EmulatorLifecycle, RefusesBadOptions) {
  struct Case {
    const char *name;
    Options options;
    const char *message;
  };
  // The emulate command's tests see the model rule through the tool.
  Options shortAddress, notHex, smallImage;
  shortAddress.address = "00:11:22:33:44";
  notHex.address = "00:11:22:33:44:5G";
  smallImage.image = Image(100);
  const Case cases[] = {
      // clang-format off
      {"short address",   shortAddress, "Scanner address must be"},
      {"address not hex", notHex,       "Scanner address must be"},
      {"small image",     smallImage,   "Image must hold 256 x 360"},
      // clang-format on
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Emulator emulator(c.options);
    std::string error;
    EXPECT_FALSE(emulator.Start(&error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace bluefin::emu::test
