// Frames on the wire: command frame sizes and zero fill, the size tests that
// run before any payload byte is read, checksum order, the four-frame rule.
#include <algorithm>

#include "bluefin/framing.h"
#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

using FramingTest = ScannerTest;

TEST_F(FramingTest, CommandFramesCarryWholeBlocksAndBadLengthsSendNothing) {
  ASSERT_EQ(Open(), V_OK);
  Seam().calls.clear();
  // The identity command with trailing bytes; two equal 16-byte halves.
  Bytes command(48);
  for (std::size_t i = 0; i < command.size(); ++i)
    command[i] = static_cast<std::uint8_t>(i % 16 == 0 ? 3 : i % 16);
  const VInt32 lengths[] = {0, 1, 44, 16, -1, 17, 43, 32};
  for (const VInt32 length : lengths) {
    const bool bad = length < 1 || length > 43;
    EXPECT_TRUE(Gave(BlueFinSendCommand(device, command.data(), length),
                     bad ? V_E_ARGUMENT_OUT_OF_RANGE : V_OK,
                     bad ? L"Expected command length is between 1 and 43 bytes" : nullptr))
        << length;
  }
  // Each frame that went out is answered; taking the answers also waits for
  // the scanner to have read every command.
  const std::vector<Bytes> sent = Moved("send");
  Bytes answer(256);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(BlueFinReceiveResponse(device, 0x03, answer.data(), 256), 16);
  }
  std::vector<std::size_t> sizes;
  for (const Bytes &frame : sent)
    sizes.push_back(frame.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{22, 22, 38, 54, 38}));
  const Bytes &halves = sent.back();
  EXPECT_TRUE(std::equal(halves.begin() + 6, halves.begin() + 22, halves.begin() + 22)) << "ECB";

  // The scanner took every frame (its checksums held) and read each command
  // whole; behind each command the block is zero-filled.
  std::vector<std::size_t> argumentCounts;
  for (const emu::TranscriptEntry &entry : emulator->Transcript()) {
    if (entry.code == 0x03)
      argumentCounts.push_back(entry.arguments.size());
  }
  EXPECT_EQ(argumentCounts, (std::vector<std::size_t>{0, 15, 16, 42, 31}));
  for (const Bytes &frame : sent) {
    Bytes plain(frame.begin() + 6, frame.end());
    BlueFinDecryptBlocks(plain.data(), static_cast<VInt32>(plain.size()), kDefaultKey.data(), 256,
                         plain.data());
    const std::size_t length = frame[0] << 8 | frame[1];
    EXPECT_TRUE(
        std::equal(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length), command.begin()));
    EXPECT_TRUE(std::all_of(plain.begin() + static_cast<std::ptrdiff_t>(length), plain.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
}

// A fault on the identity answer (or on image part 0, at capacity 3096),
// what the first receive gives, and then where the stream stands: whether
// the failure came before any payload byte was read, and whether a second
// receive still gets the scanner's answer.
TEST_F(FramingTest, FirstReceiveAndWhereTheStreamStands) {
  const auto identity = On(Command::kIdentity);
  const auto part = emu::OnPart(0);
  const wchar_t *kSize = L"Invalid payload size received";
  const wchar_t *kBlocks = L"Invalid payload block size calculated";
  const wchar_t *kStrays = L"Cannot get response for sent command";
  const wchar_t *kData = L"Incorrect data checksum";
  const wchar_t *kHeader = L"Incorrect header checksum";
  const struct {
    const char *szCase;
    std::vector<Fault> faults;
    VInt32 capacity;
    VResult result;
    const wchar_t *szMessage;  // null: success
    bool headerOnly, answerRemains;
  } cases[] = {
      // clang-format off
      {"length above capacity",      {Fault::DeclaredLength(identity, 257)},        256,  V_E_FAILED,    kSize,   true,  false},
      {"length zero",                {Fault::DeclaredLength(identity, 0)},          256,  V_E_FAILED,    kBlocks, true,  false},
      {"length top bit set",         {Fault::DeclaredLength(identity, 0x80000010)}, 256,  V_E_FAILED,    kBlocks, true,  false},
      {"length is capacity",         {Fault::PayloadLength(identity, 256)},         256,  256,           nullptr, false, false},
      // 3088 bytes of ciphertext: the data checksum wraps at 65536.
      {"image part",                 {},                                            3096, 3085,          nullptr, false, false},
      {"part blocks above capacity", {Fault::PayloadLength(part, 3089)},            3096, V_E_FAILED,    kBlocks, true,  false},
      {"part of capacity",           {Fault::PayloadLength(part, 3096)},            3096, V_E_FAILED,    kBlocks, true,  false},
      {"data checksum",              {Fault::BadDataChecksum(identity)},            256,  V_E_CORRUPTED, kData,   false, false},
      {"header checksum",            {Fault::BadHeaderChecksum(identity)},          256,  V_E_CORRUPTED, kHeader, false, false},
      {"both checksums",             {Fault::BadHeaderChecksum(identity),
                                      Fault::BadDataChecksum(identity)},            256,  V_E_CORRUPTED, kData,   false, false},
      {"three stray frames",         {Fault::StrayFrames(identity, 3)},             256,  16,            nullptr, false, false},
      {"four stray frames",          {Fault::StrayFrames(identity, 4)},             256,  V_E_FAILED,    kStrays, false, true},
      // Checksums cover the ciphertext: a frame under another key is a stray.
      {"foreign key is the fourth",  {Fault::StrayFrames(identity, 3),
                                      Fault::ForeignKey(identity, Key{})},          256,  V_E_FAILED,    kStrays, false, false},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Close();
    ASSERT_EQ(Open(), V_OK);
    Inject(c.faults);
    const std::uint8_t code = c.capacity == 256 ? 0x03 : 0x11;
    const std::uint8_t command[2] = {code, 0};
    ASSERT_EQ(BlueFinSendCommand(device, command, 2), V_OK);
    Bytes buffer(static_cast<std::size_t>(c.capacity));
    Seam().calls.clear();
    const VResult result = BlueFinReceiveResponse(device, code, buffer.data(), c.capacity);
    EXPECT_TRUE(Gave(result, c.result, c.szMessage));
    if (c.headerOnly) {
      std::size_t received = 0;
      for (const Bytes &bytes : Moved("receive"))
        received += bytes.size();
      EXPECT_EQ(received, 8u);
    }
    if (c.answerRemains) {
      EXPECT_EQ(BlueFinReceiveResponse(device, code, buffer.data(), c.capacity), 16);
    }
  }
}

TEST_F(FramingTest, AScannerClosingMidFrameEndsTheReceive) {
  ASSERT_EQ(Open(), V_OK);
  Inject({Fault::CloseMidFrame(On(Command::kIdentity), 12)});
  EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_E_END_OF_STREAM);
}

}  // namespace
}  // namespace vdm::bluefin::test
