// Each fault as it shows on the wire and in the scanner's state, and how
// faults are aimed at an occurrence (the protocol suites aim at parts).
#include <gtest/gtest.h>

#include <functional>

#include "tests/emulator/scanner_client.h"

namespace bluefin::emu::test {
namespace {

const Bytes kEchoAnswer = EchoAnswer();

Frame MustRead(ScannerClient &client) {
  std::optional<Frame> frame = client.ReadFrame();
  EXPECT_TRUE(frame) << "no frame";
  return frame.value_or(Frame{});
}

Bytes Payload(const Frame &frame) {
  return Bytes(frame.plain.begin(),
               frame.plain.begin() + std::min<std::size_t>(frame.declaredLength, frame.plain.size()));
}

// The echo answer intact, under the checksums as given.
std::function<void(ScannerClient &, Emulator &)> ChecksumCheck(bool dataOk, bool headerOk) {
  return [=](ScannerClient &client, Emulator &) {
    const Frame frame = MustRead(client);
    EXPECT_EQ(frame.dataChecksumOk, dataOk);
    EXPECT_EQ(frame.headerChecksumOk, headerOk);
    EXPECT_EQ(Payload(frame), kEchoAnswer);
  };
}

struct FaultCase {
  const char *name;
  Fault fault;
  bool ready;  // arm and poll first
  Bytes command;
  std::function<void(ScannerClient &, Emulator &)> check;
};

const FaultCase kFaultCases[] = {
    {"stray frames before the answer", Fault::StrayFrames(On(Command::kEcho), 3), false, EchoCommand(),
     [](ScannerClient &client, Emulator &) {
       for (int i = 0; i < 3; ++i) {
         const Frame stray = MustRead(client);
         EXPECT_TRUE(stray.dataChecksumOk && stray.headerChecksumOk);
         EXPECT_NE(stray.code(), 0x81);
         EXPECT_EQ(stray.code() & 0x80, 0x80);
       }
       EXPECT_EQ(Payload(MustRead(client)), kEchoAnswer);
     }},
    {"bad data checksum", Fault::BadDataChecksum(On(Command::kEcho)), false, EchoCommand(),
     ChecksumCheck(false, true)},
    {"bad header checksum", Fault::BadHeaderChecksum(On(Command::kEcho)), false, EchoCommand(),
     ChecksumCheck(true, false)},
    {"oversized echo", Fault::PayloadLength(On(Command::kEcho), 17), false, EchoCommand(),
     [](ScannerClient &client, Emulator &) {
       Bytes expected = kEchoAnswer;
       expected.push_back(0);
       EXPECT_EQ(Payload(MustRead(client)), expected);
     }},
    {"declared length with the top bit", Fault::DeclaredLength(On(Command::kEcho), 0x80000000u), false,
     EchoCommand(),
     // Under a good header checksum; the true answer's block follows, for a
     // host that reads on.
     [](ScannerClient &client, Emulator &) {
       const Bytes header = client.Read(8).value_or(Bytes(8));
       EXPECT_EQ(Bytes(header.begin(), header.begin() + 4), Bytes({0x80, 0, 0, 0}));
       EXPECT_EQ(Sum16(header.data(), 6), (header[6] << 8) | header[7]);
       Bytes block = client.Read(16).value_or(Bytes(16));
       Cipher(client.key, block, false);
       EXPECT_EQ(block, kEchoAnswer);
     }},
    {"wrong echo pattern", Fault::WrongEcho(On(Command::kEcho)), false, EchoCommand(),
     [](ScannerClient &client, Emulator &) {
       const Bytes payload = Payload(MustRead(client));
       ASSERT_EQ(payload.size(), 16u);
       EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 15),
                 Bytes(kEchoAnswer.begin(), kEchoAnswer.begin() + 15));
       EXPECT_NE(payload[15], 14);
     }},
    {"refused key", Fault::RefuseKey(On(Command::kSetKey), 2), false, KeyCommand(OtherKey(1)),
     [](ScannerClient &client, Emulator &emulator) {
       EXPECT_EQ(MustRead(client).plain.at(12), 2);
       EXPECT_EQ(emulator.CurrentKey(), DefaultKey());
       EXPECT_EQ(client.Exchange(EchoCommand()), kEchoAnswer);
     }},
    {"wrong status echo", Fault::WrongStatusEcho(On(Command::kSetStatus), 7), false, StatusCommand(1),
     [](ScannerClient &client, Emulator &emulator) {
       EXPECT_EQ(MustRead(client).plain.at(12), 7);
       EXPECT_EQ(emulator.Snapshot().status, 0);
     }},
    {"invalid image part", Fault::InvalidImagePart(OnPart(3)), true, PartCommand(3),
     [](ScannerClient &client, Emulator &emulator) {
       const Frame frame = MustRead(client);
       EXPECT_EQ(frame.declaredLength, 3085u);
       EXPECT_EQ(frame.plain.at(12), 0);
       EXPECT_EQ(emulator.Snapshot().partsServed, 0);
       EXPECT_EQ(client.Exchange(PartCommand(3)).value_or(Bytes(16)).at(12), 1);
     }},
    {"silence, acted on", Fault::Silence(On(Command::kSetStatus)), false, StatusCommand(1),
     [](ScannerClient &client, Emulator &emulator) {
       EXPECT_EQ(client.Exchange(EchoCommand()), kEchoAnswer);
       EXPECT_EQ(emulator.Snapshot().status, 1);
     }},
    {"connection closed mid-frame", Fault::CloseMidFrame(On(Command::kEcho), 5), false, EchoCommand(),
     [](ScannerClient &client, Emulator &) {
       const Bytes got = client.ReadToEnd().value_or(Bytes());
       ASSERT_EQ(got.size(), 5u);
       EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), Bytes({0, 0, 0, 16}));
     }},
    {"answer under a foreign key", Fault::ForeignKey(On(Command::kEcho), OtherKey(4)), false, EchoCommand(),
     [](ScannerClient &client, Emulator &emulator) {
       client.key = OtherKey(4);
       const Frame frame = MustRead(client);
       EXPECT_TRUE(frame.dataChecksumOk && frame.headerChecksumOk);
       EXPECT_EQ(Payload(frame), kEchoAnswer);
       EXPECT_EQ(emulator.CurrentKey(), DefaultKey());
     }},
};

TEST(EmulatorFault, EachKindShowsOnTheWire) {
  for (const FaultCase &c : kFaultCases) {
    SCOPED_TRACE(c.name);
    auto emulator = StartEmulator();
    ScannerClient client(emulator->ListenName());
    if (c.ready) {
      ArmUntilReady(client);
    }
    ASSERT_TRUE(emulator->InjectFault(c.fault));
    ASSERT_TRUE(client.SendCommand(c.command));
    c.check(client, *emulator);
    EXPECT_EQ(emulator->PendingFaults(), 0u);
  }
}

TEST(EmulatorFault, HitsOnlyTheChosenOccurrenceOrEvery) {
  auto emulator = StartEmulator();
  ScannerClient client(emulator->ListenName());
  auto strays = [&](const Bytes &command) {
    EXPECT_TRUE(client.SendCommand(command));
    int count = 0;
    while (MustRead(client).code() != (command[0] | 0x80) && count < 10) {
      ++count;
    }
    return count;
  };
  ASSERT_TRUE(emulator->InjectFault(Fault::StrayFrames(On(Command::kEcho, 2), 1)));
  EXPECT_EQ(strays({0x03}), 0);
  EXPECT_EQ(strays(EchoCommand()), 0);
  EXPECT_EQ(strays(EchoCommand()), 1);
  EXPECT_EQ(strays(EchoCommand()), 0);

  ASSERT_TRUE(emulator->InjectFault(Fault::StrayFrames(On(Command::kGetStatus, 0), 2)));
  EXPECT_EQ(strays(QueryCommand()), 2);
  EXPECT_EQ(strays(QueryCommand()), 2);
  EXPECT_EQ(emulator->PendingFaults(), 1u);
  emulator->ClearFaults();
  EXPECT_EQ(strays(QueryCommand()), 0);
}

TEST(EmulatorShaping, PacesAnswersAsAStopAndWaitLink) {
  std::vector<std::chrono::steady_clock::time_point> due;
  Options options;
  options.readyAfterPolls = 0;
  options.shaping.bitsPerSecond = 1000000;
  options.shaping.latency = std::chrono::milliseconds(7);
  // The hook stands in for the sleep; it runs on the emulator thread, and
  // the client's reads order it before the checks below.
  options.shaping.sleepUntil = [&due](std::chrono::steady_clock::time_point when) {
    due.push_back(when);
    return true;
  };
  const LinkShaping shaping = options.shaping;
  auto emulator = StartEmulator(options);
  ScannerClient client(emulator->ListenName());
  ArmUntilReady(client);
  due.clear();
  ASSERT_TRUE(client.Exchange(PartCommand(0)));
  const auto arrived = emulator->Transcript().back().time;
  // 3096 bytes in pieces of 125 (1 ms at 1 Mbit/s): 25 deadlines, the last
  // one the full stop-and-wait time of the exchange.
  ASSERT_EQ(due.size(), 25u);
  EXPECT_EQ(due.front() - arrived, ExchangeTime(shaping, 22, 125));
  EXPECT_EQ(due.back() - arrived, ExchangeTime(shaping, 22, 3096));
}

}  // namespace
}  // namespace bluefin::emu::test
