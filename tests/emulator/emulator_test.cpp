// The scanner, its faults and its image coding in process; on the socket, the
// serving loop, life cycle, options and pacing. Frames use the emulator's own
// checksum and cipher: the module's suites check those end to end.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "emulator/cipher.h"
#include "emulator/emulator.h"
#include "emulator/fault_book.h"
#include "emulator/link.h"
#include "emulator/scanner.h"
#include "emulator/synthetic_finger.h"
#include "tests/emulator/unique_address.h"

namespace bluefin::emu::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes CommandFrame(const Bytes &command, const Key &key) {
  Bytes body(command);
  body.resize(RoundUpToBlocks(command.size()), 0);
  EncryptBlocks(key, body);
  const std::uint16_t data = Checksum(body);
  Bytes frame = {0, static_cast<std::uint8_t>(command.size()), static_cast<std::uint8_t>(data >> 8),
                 static_cast<std::uint8_t>(data)};
  const std::uint16_t header = Checksum(frame);
  frame.push_back(static_cast<std::uint8_t>(header >> 8));
  frame.push_back(static_cast<std::uint8_t>(header));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// One answer frame: its header as it stands, and the blocks after it (as
// many as the declared length asks for and the bytes hold) decrypted.
struct Answer {
  std::uint32_t declared = 0;
  bool dataOk = false;
  bool headerOk = false;
  Bytes plain;
  Bytes Payload() const {
    return Bytes(plain.begin(), plain.begin() + std::min<std::size_t>(declared, plain.size()));
  }
};

std::vector<Answer> Answers(const Bytes &bytes, const Key &key) {
  std::vector<Answer> answers;
  for (std::size_t at = 0; at + kResponseHeaderSize <= bytes.size();) {
    const std::uint8_t *h = bytes.data() + at;
    Answer answer;
    answer.declared = (std::uint32_t{h[0]} << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
    answer.headerOk = Checksum({h, 6}) == ((h[6] << 8) | h[7]);
    at += kResponseHeaderSize;
    const std::size_t blocks = std::min(RoundUpToBlocks(answer.declared), (bytes.size() - at) / 16 * 16);
    answer.plain.assign(bytes.begin() + at, bytes.begin() + at + blocks);
    answer.dataOk = Checksum(answer.plain) == ((h[4] << 8) | h[5]);
    DecryptBlocks(key, answer.plain);
    at += blocks;
    answers.push_back(std::move(answer));
  }
  return answers;
}

const Bytes kEcho = {0x01, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
const Bytes kEchoAnswer = {0x81, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
const Bytes kArm = {0x0C, 1};
const Bytes kQuery = {0x09};

Bytes KeyCommand(const Key &key) {
  Bytes command(1 + key.size(), 0x05);
  std::copy(key.begin(), key.end(), command.begin() + 1);
  return command;
}

Key OtherKey(std::uint8_t seed) {
  Key key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<std::uint8_t>(seed + 7 * i);
  }
  return key;
}

// The one answer to a served frame, under the key it went out under.
Answer Only(const ServedFrame &served) {
  const std::vector<Answer> answers = Answers(served.out, served.key);
  EXPECT_EQ(answers.size(), 1u);
  return answers.empty() ? Answer{} : answers[0];
}

struct Bench {
  Scanner scanner{ScannerConfig{}};  // ready at the first status query
  FaultBook faults;
  Bytes frame;  // the last command frame, which the served frame points into

  ServedFrame Serve(const Bytes &command) {
    frame = CommandFrame(command, scanner.key());
    const CommandHeader header = ParseCommandHeader(
        std::span<const std::uint8_t, kCommandHeaderSize>(frame.data(), kCommandHeaderSize));
    return ServeFrame(scanner, faults, header, std::span(frame).subspan(kCommandHeaderSize));
  }
  Bytes Exchange(const Bytes &command) { return Only(Serve(command)).Payload(); }
};

using Check = std::function<void(const ServedFrame &, Bench &)>;

// A short answer (or an image part) to the command, with this result byte.
Check Result(std::uint8_t result, std::size_t length = 16) {
  return [=](const ServedFrame &served, Bench &) {
    const Bytes payload = Only(served).Payload();
    ASSERT_EQ(payload.size(), length);
    EXPECT_EQ(payload[0], served.code | 0x80);
    EXPECT_EQ(payload[12], result);
  };
}

// Under good checksums, the true answer's block after the header: a host
// that reads on past the header gets part of the answer, then nothing.
void TopBitDeclared(const ServedFrame &served, Bench &) {
  const Answer answer = Only(served);
  EXPECT_TRUE(answer.dataOk && answer.headerOk);
  EXPECT_EQ(answer.Payload(), kEchoAnswer);
  EXPECT_EQ(answer.declared, 0x80000000u);
}

void PartDeclined(const ServedFrame &served, Bench &bench) {
  Result(0, 3085)(served, bench);
  EXPECT_EQ(bench.scanner.partsServed(), 0);
  EXPECT_EQ(bench.Exchange({0x11, 3}).at(12), 1);
}

// What the scanner declines, and the faults whose effect on the scanner or
// the bytes no host can tell apart: the module's suites meet the checksum,
// length, echo, foreign key and closing faults with their own messages.
TEST(EmulatorScanner, DeclinesWhatItCannotDoAndFaultsKeepItsState) {
  const std::vector<Bytes> ready = {kArm, kQuery};
  std::vector<Bytes> allParts = ready;
  for (std::uint8_t part = 0; part < 12; ++part) {
    allParts.push_back({0x11, part});
  }
  const struct {
    const char *name;
    std::vector<Bytes> before;
    std::optional<Fault> fault;
    Bytes command;
    Check check;
    std::uint8_t status;  // the scanner's after the frame; its key stays the default
  } cases[] = {
      // clang-format off
      {"image part when ready",            ready,                   {},                                                  {0x11, 11},              Result(1, 3085), 1},
      {"unknown command",                  {},                      {},                                                  {0x42, 1, 2},            Result(0),       0},
      {"key command without a whole key",  {},                      {},                                                  {0x05, 1, 2, 3},         Result(0),       0},
      {"image part while idle",            {},                      {},                                                  {0x11, 0},               Result(0, 3085), 0},
      {"image part past the last",         ready,                   {},                                                  {0x11, 12},              Result(0, 3085), 1},
      {"status other than 0 and 1",        ready,                   {},                                                  {0x0C, 7},               Result(1),       1},
      {"image part after all twelve",      allParts,                {},                                                  {0x11, 0},               Result(0, 3085), 0},
      {"image part after status 0",        {kArm, kQuery, {0x0C, 0}}, {},                                                {0x11, 0},               Result(0, 3085), 0},
      {"declared length with the top bit", {},                      Fault::DeclaredLength(On(Command::kEcho), 0x80000000u), kEcho,                   TopBitDeclared,  0},
      {"refused key",                      {},                      Fault::RefuseKey(On(Command::kSetKey), 2),           KeyCommand(OtherKey(1)), Result(2),       0},
      {"wrong status echo",                {},                      Fault::WrongStatusEcho(On(Command::kSetStatus), 7),  kArm,                    Result(7),       0},
      {"invalid image part",               ready,                   Fault::InvalidImagePart(OnPart(3)),                  {0x11, 3},               PartDeclined,    1},
      {"silence, acted on",                {},                      Fault::Silence(On(Command::kSetStatus)),             kArm,                    [](const ServedFrame &, Bench &) {}, 1},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    for (const Bytes &command : c.before) {
      bench.Exchange(command);
    }
    if (c.fault) {
      ASSERT_TRUE(bench.faults.Add(*c.fault));
    }
    const ServedFrame served = bench.Serve(c.command);
    ASSERT_FALSE(served.ignored);
    EXPECT_EQ(served.silence, c.fault && c.fault->kind == FaultKind::kSilence);
    EXPECT_FALSE(served.close);
    c.check(served, bench);
    EXPECT_EQ(bench.scanner.status(), c.status);
    EXPECT_EQ(bench.scanner.key(), kDefaultKey);
    EXPECT_EQ(bench.faults.Pending(), 0u);
  }
}

// A fault aimed at one occurrence is used up there, as the link failure
// sweep sees at every exchange; one aimed at every occurrence stays.
TEST(EmulatorFault, AimedAtEveryOccurrenceHitsEachUntilCleared) {
  Bench bench;
  const auto strays = [&](const Bytes &command) {
    const ServedFrame served = bench.Serve(command);
    const std::vector<Answer> answers = Answers(served.out, served.key);
    for (const Answer &answer : answers) {
      const std::uint8_t code = answer.plain.at(0);
      EXPECT_TRUE(answer.dataOk && answer.headerOk && (code & 0x80) != 0);
      EXPECT_EQ(code == (command[0] | 0x80), &answer == &answers.back()) << "only the last is the answer";
    }
    return answers.size() - 1;
  };
  ASSERT_TRUE(bench.faults.Add(Fault::StrayFrames(On(Command::kGetStatus, 0), 2)));
  EXPECT_EQ(strays(kQuery), 2u);
  EXPECT_EQ(strays(kQuery), 2u);
  EXPECT_EQ(bench.faults.Pending(), 1u);
  bench.faults.Clear();
  EXPECT_EQ(strays(kQuery), 0u);
}

Image Filled(std::uint8_t (*pixel)(std::size_t index)) {
  Image image(kImagePixels);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = pixel(i);
  }
  return image;
}

// What a host decodes from the codes is the reconstruction: the protocol
// suites decode it with the module's own decoder, pixel for pixel.
TEST(EmulatorImageCoding, EveryPixelTakesTheCodeLandingNearestItsTarget) {
  const std::pair<const char *, Image> images[] = {
      {"synthetic finger", MakeSyntheticFinger(4)},
      {"flat", Filled([](std::size_t) -> std::uint8_t { return 128; })},
      {"extremes", Filled([](std::size_t i) -> std::uint8_t { return (i / 3) % 2 ? 255 : 0; })},
      {"noise", Filled([](std::size_t i) -> std::uint8_t {
         return static_cast<std::uint8_t>(i * 2654435761u >> 13);
       })},
  };
  for (const auto &[name, target] : images) {
    SCOPED_TRACE(name);
    const Image decoded = EncodeImage(target).reconstruction;
    // From the value the decoder held before each pixel (stream pixel n
    // lands at index 92159 - n), the pixel is one code away, and no code
    // lands nearer the target.
    int running = kDeltaStart;
    for (std::size_t n = 0; n < kImagePixels; ++n) {
      const std::size_t index = kImagePixels - 1 - n;
      int best = 256;
      bool reachable = false;
      for (int delta : kDeltas) {
        const int value = (running + delta + 256) % 256;
        best = std::min(best, std::abs(value - target[index]));
        reachable = reachable || value == decoded[index];
      }
      ASSERT_TRUE(reachable) << "stream pixel " << n;
      ASSERT_EQ(std::abs(decoded[index] - target[index]), best) << "stream pixel " << n;
      running = decoded[index];
    }
  }
}

TEST(EmulatorImageCoding, SyntheticFingerHasRidgesInAFingerOnLightGround) {
  const Image finger = MakeSyntheticFinger(0);
  EXPECT_EQ(finger, MakeSyntheticFinger(0));
  EXPECT_NE(finger, MakeSyntheticFinger(1));
  // Corners are background; across the ridges, above the core and through
  // it, the pad alternates ridge and valley about every 9 pixels (508 dpi),
  // counted as dark runs.
  for (std::size_t corner : {std::size_t{0}, kImageWidth - 1, kImagePixels - kImageWidth, kImagePixels - 1}) {
    EXPECT_GT(finger[corner], 200);
  }
  struct Line {
    std::size_t row, column, rowStep, columnStep, length;
  };
  for (const Line &line : {Line{30, 128, 1, 0, 110}, Line{150, 64, 0, 1, 128}}) {
    SCOPED_TRACE(line.row);
    std::size_t ridges = 0;
    bool dark = false;
    for (std::size_t i = 0; i < line.length; ++i) {
      const bool now =
          finger[(line.row + i * line.rowStep) * kImageWidth + line.column + i * line.columnStep] < 128;
      ridges += now && !dark;
      dark = now;
    }
    EXPECT_GE(ridges, line.length / 13);
    EXPECT_LE(ridges, line.length / 7);
  }
}

// A host's end of the link. Reads give up after ten seconds of silence: a
// hung emulator, never a timing under test.
class Host {
 public:
  explicit Host(const std::string &listenName) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, listenName.data(), listenName.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + listenName.size());
    const timeval limit = {10, 0};
    if (!fd_ || ::connect(fd_.get(), reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
      fd_.Reset();
    }
  }
  bool connected() const { return static_cast<bool>(fd_); }
  bool Send(const Bytes &bytes) {
    return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // One command under key, and the payload of its answer if that came whole
  // and under good checksums.
  std::optional<Bytes> Exchange(const Bytes &command, const Key &key) {
    Bytes frame(kResponseHeaderSize);
    if (!Send(CommandFrame(command, key)) || !Read(frame, 0)) {
      return std::nullopt;
    }
    frame.resize(kResponseHeaderSize + RoundUpToBlocks((frame[2] << 8) | frame[3]));
    if (!Read(frame, kResponseHeaderSize)) {
      return std::nullopt;
    }
    const Answer answer = Answers(frame, key).at(0);
    return answer.dataOk && answer.headerOk ? std::optional(answer.Payload()) : std::nullopt;
  }
  // Whether the emulator ended the link with nothing more sent.
  bool Closed() {
    std::uint8_t byte = 0;
    const ssize_t got = ::recv(fd_.get(), &byte, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
  }

 private:
  bool Read(Bytes &into, std::size_t from) {
    const std::size_t n = into.size() - from;
    return ::recv(fd_.get(), into.data() + from, n, MSG_WAITALL) == static_cast<ssize_t>(n);
  }
  Fd fd_;
};

std::unique_ptr<Emulator> Started(Options options = {}) {
  options.address = UniqueAddress();
  auto emulator = std::make_unique<Emulator>(std::move(options));
  std::string error;
  EXPECT_TRUE(emulator->Start(&error)) << error;
  return emulator;
}

TEST(EmulatorServing, DropsFramesThatFailTheirChecksumsAndClosesOnABadLength) {
  auto emulator = Started();
  Host host(emulator->ListenName());
  Bytes badData = CommandFrame(kArm, kDefaultKey);
  badData[kCommandHeaderSize] ^= 1;
  Bytes badHeader = CommandFrame(kArm, kDefaultKey);
  badHeader[5] ^= 1;
  ASSERT_TRUE(host.Send(badData) && host.Send(badHeader));
  EXPECT_EQ(host.Exchange(kEcho, kDefaultKey), kEchoAnswer);
  ASSERT_EQ(emulator->Transcript().size(), 1u);
  EXPECT_EQ(emulator->Snapshot().status, 0);

  Bytes tooLong = CommandFrame(kEcho, kDefaultKey);
  tooLong[1] = 44;
  ASSERT_TRUE(host.Send(tooLong));
  EXPECT_TRUE(host.Closed());
}

// State lives across connections, and a stop and start, until a power cycle,
// which drops the link and puts the scanner back on its power-on key.
TEST(EmulatorLifecycle, KeepsItsStateUntilPowerCycledAndRefusesASecondListener) {
  Options options;
  options.powerOnKey = OtherKey(1);
  auto emulator = Started(options);
  std::string error;
  EXPECT_FALSE(emulator->Start(&error));
  EXPECT_NE(error.find("already running"), std::string::npos) << error;
  Options same;
  same.address = emulator->ListenName().substr(8, 17);
  Emulator twin(same);
  EXPECT_FALSE(twin.Start(&error));
  EXPECT_NE(error.find("Another scanner already listens on @bluefin/0A:"), std::string::npos) << error;

  const Key session = OtherKey(9);
  {
    Host first(emulator->ListenName());
    ASSERT_TRUE(first.Exchange(KeyCommand(session), OtherKey(1)));
    ASSERT_TRUE(first.Exchange(kArm, session));
    emulator->Stop();
    EXPECT_TRUE(first.Closed());
    EXPECT_FALSE(Host(emulator->ListenName()).connected());
  }
  emulator->Stop();
  ASSERT_TRUE(emulator->Start(&error)) << error;
  Host second(emulator->ListenName());
  EXPECT_EQ(second.Exchange(kQuery, session).value_or(Bytes(16))[12], 1);
  const std::vector<TranscriptEntry> transcript = emulator->Transcript();
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0].arguments, Bytes(session.begin(), session.end()));
  EXPECT_EQ(transcript[0].key, OtherKey(1));
  EXPECT_EQ(transcript[1].key, session);
  EXPECT_EQ(transcript[2].connection, 2u);
  EXPECT_LE(transcript[0].time, transcript[2].time);

  emulator->ResetState();
  EXPECT_TRUE(second.Closed());
  EXPECT_EQ(emulator->Snapshot().status, 0);
  Host third(emulator->ListenName());
  EXPECT_EQ(third.Exchange(kEcho, OtherKey(1)), kEchoAnswer);
  // Stopping with a host connected and in the middle of nothing joins.
  emulator->Stop();
  EXPECT_FALSE(emulator->Running());
}

TEST(EmulatorLifecycle, RefusesBadOptions) {
  // The command tests see the model rule and a short address through the tool.
  Options notHex, smallImage;
  notHex.address = "00:11:22:33:44:5G";
  smallImage.image = Image(100);
  const std::pair<Options, const char *> cases[] = {
      {notHex, "Scanner address must be"},
      {smallImage, "Image must hold 256 x 360"},
  };
  for (const auto &[options, message] : cases) {
    Emulator emulator(options);
    std::string error;
    EXPECT_FALSE(emulator.Start(&error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(EmulatorShaping, PacesAnswersAsAStopAndWaitLink) {
  std::vector<std::chrono::steady_clock::time_point> due;
  Options options;
  options.readyAfterPolls = 0;
  options.shaping.bitsPerSecond = 1000000;
  options.shaping.latency = std::chrono::milliseconds(7);
  // In place of the sleep; on the emulator thread, ordered by the host's reads.
  options.shaping.sleepUntil = [&due](std::chrono::steady_clock::time_point when) {
    due.push_back(when);
    return true;
  };
  const LinkShaping shaping = options.shaping;
  auto emulator = Started(options);
  Host host(emulator->ListenName());
  ASSERT_TRUE(host.Exchange(kArm, kDefaultKey) && host.Exchange(kQuery, kDefaultKey));
  due.clear();
  ASSERT_TRUE(host.Exchange({0x11, 0}, kDefaultKey));
  const auto arrived = emulator->Transcript().back().time;
  // 3096 bytes in pieces of 125 (1 ms at 1 Mbit/s): 25 deadlines, the last
  // one the full stop-and-wait time of the exchange.
  ASSERT_EQ(due.size(), 25u);
  EXPECT_EQ(due.front() - arrived, ExchangeTime(shaping, 22, 125));
  EXPECT_EQ(due.back() - arrived, ExchangeTime(shaping, 22, 3096));
}

}  // namespace
}  // namespace bluefin::emu::test
