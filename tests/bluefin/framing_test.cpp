// Command and response frames on the wire: sizes, checksums, the size tests
// that run before any payload byte is read, and the four-frame rule.
#include <vector>

#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

using FramingTest = ScannerTest;

TEST_F(FramingTest, CommandFramesCarryWholeBlocksAndNothingIsSentForBadLengths) {
  std::vector<CommandFrame> frames;
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    while (auto frame = link.ReadCommand())
      frames.push_back(*frame);
  });
  ASSERT_EQ(Open(), V_OK);

  struct Case {
    VInt32 length;
    std::size_t frameSize;  // 0: refused
  };
  const Case cases[] = {{0, 0}, {1, 22}, {44, 0}, {16, 22}, {-1, 0}, {17, 38}, {43, 54}, {32, 38}};
  std::vector<Bytes> sent;
  for (const Case &c : cases) {
    // Two equal halves in the 32-byte command: ECB gives two equal blocks.
    Bytes command(48);
    for (std::size_t i = 0; i < command.size(); ++i)
      command[i] = static_cast<std::uint8_t>(0x40 + i % 16);
    const VResult result = BlueFinSendCommand(record(), command.data(), c.length);
    if (c.frameSize == 0) {
      EXPECT_TRUE(Fails(result, -12, L"Expected command length is between 1 and 43 bytes")) << c.length;
    } else {
      EXPECT_EQ(result, V_OK);
      command.resize(c.frameSize - 6);
      std::fill(command.begin() + c.length, command.end(), 0);
      sent.push_back(command);
    }
  }
  const Bytes command(16, 1);
  EXPECT_TRUE(Fails(BlueFinSendCommand(nullptr, command.data(), 16), -11, L"pBlueFin is NULL", L"pBlueFin"));
  EXPECT_TRUE(Fails(BlueFinSendCommand(record(), nullptr, 16), -11, L"pCmd is NULL", L"pCmd"));
  Close();
  peer.Join();

  ASSERT_EQ(frames.size(), sent.size());
  std::size_t next = 0;
  for (const Case &c : cases) {
    if (c.frameSize == 0)
      continue;
    const CommandFrame &frame = frames[next];
    EXPECT_EQ(frame.frameSize, c.frameSize);
    EXPECT_EQ(frame.length, c.length);
    EXPECT_EQ(frame.plaintext, sent[next]) << "zero fill after the command";
    ++next;
  }
  const Bytes &halves = frames.back().ciphertext;
  EXPECT_TRUE(std::equal(halves.begin(), halves.begin() + 16, halves.begin() + 16));
}

// What the peer sends after the command, and what the first receive gives.
// A marker frame always follows, and a second receive must return it: that
// proves the first receive read exactly as far as it should.
struct ReceiveCase {
  const char *name;
  VInt32 capacity;
  std::vector<Bytes> frames;
  VResult result;
  const wchar_t *message;
};

constexpr std::uint8_t kCode = 0x11;
constexpr VInt32 kMarkerLength = 17;

Bytes Stray(const Key &key) {
  return ResponseFrame(key, Payload(0x03, 16));
}
Bytes Reply(VInt32 length, const FrameTweaks &tweaks = {}) {
  return ResponseFrame(DefaultKey(), Payload(kCode, static_cast<std::size_t>(length)), tweaks);
}
Bytes HeaderOnly(std::int32_t length) {
  return Reply(16, {.lengthField = length, .headerOnly = true});
}

void PrintTo(const ReceiveCase &c, std::ostream *out) {
  *out << c.name;
}

std::vector<ReceiveCase> ReceiveCases() {
  const Key key = DefaultKey();
  const Bytes stray = Stray(key);
  const Bytes foreign = ResponseFrame(TestKey(9), Payload(kCode, 16));
  return {
      {"LengthAboveCapacity", 256, {HeaderOnly(257)}, -1, L"Invalid payload size received"},
      {"LengthIsCapacity", 256, {Reply(256)}, 256, nullptr},
      {"LengthZero", 256, {HeaderOnly(0)}, -1, L"Invalid payload block size calculated"},
      {"LengthNegative", 256, {HeaderOnly(INT32_MIN + 16)}, -1, L"Invalid payload block size calculated"},
      {"PartSizeFits", 3096, {Reply(3085)}, 3085, nullptr},
      {"PartSizeBlocksOverflow", 3096, {HeaderOnly(3089)}, -1, L"Invalid payload block size calculated"},
      {"CapacityItself", 3096, {HeaderOnly(3096)}, -1, L"Invalid payload block size calculated"},
      {"DataChecksum", 256, {Reply(16, {.dataChecksumDelta = 1})}, -29, L"Incorrect data checksum"},
      {"HeaderChecksum", 256, {Reply(16, {.headerChecksumDelta = 1})}, -29, L"Incorrect header checksum"},
      {"BothChecksums",
       256,
       {Reply(16, {.dataChecksumDelta = 1, .headerChecksumDelta = 1})},
       -29,
       L"Incorrect data checksum"},
      {"ThreeStraysThenAnswer", 256, {stray, stray, foreign, Reply(40)}, 40, nullptr},
      {"FourStrays", 256, {stray, foreign, stray, stray}, -1, L"Cannot get response for sent command"},
      // 3088 bytes of 0xFF sum to 787440: the checksum wraps to 0x03F0.
      {"ChecksumWraps", 3096, {RawResponseFrame(Bytes(3088, 0xFF), 3085), Reply(3085)}, 3085, nullptr},
  };
}

class ReceiveRules : public ScannerTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveRules, FirstReceiveAndStreamPosition) {
  const ReceiveCase &c = GetParam();
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    if (!link.Expect(kCode))
      return;
    for (const Bytes &frame : c.frames)
      link.Send(frame);
    link.Send(Reply(kMarkerLength));
    EXPECT_TRUE(link.EndsWithoutMore());
  });
  ASSERT_EQ(Open(), V_OK);
  const std::uint8_t command[2] = {kCode, 0};
  ASSERT_EQ(BlueFinSendCommand(record(), command, 2), V_OK);

  Bytes buffer(static_cast<std::size_t>(c.capacity));
  const VResult result = BlueFinReceiveResponse(record(), kCode, buffer.data(), c.capacity);
  if (c.message != nullptr) {
    EXPECT_TRUE(Fails(result, c.result, c.message));
  } else {
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(buffer[0], kCode + 0x80);
  }
  EXPECT_EQ(BlueFinReceiveResponse(record(), kCode, buffer.data(), c.capacity), kMarkerLength);
}

INSTANTIATE_TEST_SUITE_P(Frames, ReceiveRules, ::testing::ValuesIn(ReceiveCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FramingTest, PeerClosingMidFrameEndsTheReceive) {
  peer.Start([&](PeerConnection &link) {
    link.AnswerEcho();
    const Bytes frame = Reply(16);
    if (link.Expect(kCode))
      link.Send(Bytes(frame.begin(), frame.begin() + 12));
  });
  ASSERT_EQ(Open(), V_OK);
  const std::uint8_t command[2] = {kCode, 0};
  ASSERT_EQ(BlueFinSendCommand(record(), command, 2), V_OK);
  Bytes buffer(256);
  EXPECT_EQ(BlueFinReceiveResponse(record(), kCode, buffer.data(), 256), -15);
}

}  // namespace
}  // namespace bluefin_test
