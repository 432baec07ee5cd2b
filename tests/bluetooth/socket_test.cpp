// VBluetoothSocket over the emulated link against a raw peer, and with
// failures scripted on the seam over a table that succeeds without a
// platform: each failure reaches the caller unchanged, and whatever was half
// made is released.
#include <tuple>

#include "bluetooth/secure_random.h"
#include "test_support.h"

namespace vdm::test {
namespace {

constexpr wchar_t kNotConnected[] = L"Socket is not connected";
// Never runs out on a loaded machine; a wait ends as soon as the peer is
// ready, so success cases never wait this long.
constexpr VUInt32 kGenerous = 10000;
// Keeps the suite fast where a wait is meant to run out.
constexpr VUInt32 kShort = 50;

const VUInt8 kOtherService[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                  0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

class LinkTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    device_ = MakeDevice(address_);
    Seam().Install(platform::PlatformDefault());
  }

  int Connect(Handle *pSocket) {
    EXPECT_EQ(VBluetoothDeviceConnect(device_.get(), kVBluetoothSerialPortServiceClass, pSocket->put()),
              V_OK);
    return pSocket->get() != nullptr ? peer_.Accept() : -1;
  }

  const std::string address_ = UniqueAddress();
  TestPeer peer_{address_, kVBluetoothSerialPortServiceClass};
  Handle device_, socket_;
};

// Each row is what the peer does while 8 bytes are awaited: bytes sent
// before the receive, then more once the first platform receive has
// returned. A peer that closes, and the time-out's message, are met at every
// exchange by LinkFailureSweepTest.
TEST_F(LinkTest, ReceiveWaitsTheFullLimitBeforeEachPlatformReceive) {
  const struct {
    const char *szCase;
    size_t before, later;
    VUInt32 timeout;
    VResult result;
    size_t receives;
  } cases[] = {
      // clang-format off
      {"5 of 8, then silence", 5, 0, kShort,    V_E_TIMEOUT, 1},
      {"3 then 5",             3, 5, kGenerous, V_OK,        2},
      // clang-format on
  };
  const std::vector<VUInt8> sent = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Handle socket;
    const int peer = Connect(&socket);
    peer_.Write(peer, {sent.begin(), sent.begin() + c.before});
    Seam().calls.clear();
    Seam().after = [&, first = true](const std::string &name) mutable {
      if (name == "receive" && std::exchange(first, false) && c.later > 0)
        peer_.Write(peer, {sent.begin() + c.before, sent.begin() + c.before + c.later});
    };

    std::vector<VUInt8> buffer(8, 0xEE);
    EXPECT_EQ(VBluetoothSocketReceive(socket.get(), buffer.data(), 8, c.timeout), c.result);
    // What arrived stays in the buffer; nothing past it is touched.
    std::vector<VUInt8> expected(8, 0xEE);
    std::copy_n(sent.begin(), c.before + c.later, expected.begin());
    EXPECT_EQ(buffer, expected);

    const std::vector<PlatformCall> waits = Seam().CallsNamed("wait");
    EXPECT_EQ(waits.size(), 2u);
    EXPECT_EQ(Seam().CallsNamed("receive").size(), c.receives);
    const platform::WaitLimit full = platform::WaitLimitFromMilliseconds(c.timeout);
    for (const PlatformCall &wait : waits) {
      EXPECT_EQ(wait.readiness, platform::Readiness::kReadable);
      EXPECT_EQ(std::pair(wait.limit.seconds, wait.limit.microseconds),
                std::pair(full.seconds, full.microseconds));
    }
    Seam().after = nullptr;
  }
}

// The buffer and count are checked before the connection; 0 bytes on a
// connected socket return without touching the platform.
TEST_F(LinkTest, CountAndStateChecksComeBeforeAnyWait) {
  Connect(&socket_);
  VUInt8 buffer[1] = {};
  const struct {
    const char *szCase;
    bool shutDown, nullBuffer;
    VUInt32 size;
    VResult result;
    const wchar_t *szMessage;  // null: not checked
  } cases[] = {
      // clang-format off
      {"0 bytes, connected",          false, false, 0,           V_OK,                  nullptr},
      {"0x80000000 bytes, connected", false, false, 0x80000000u, V_E_OVERFLOW,          nullptr},
      {"no buffer, too many bytes",   false, true,  0x80000000u, V_E_ARGUMENT_NULL,     L"pBuffer is NULL"},
      {"0x80000000 bytes, shut down", true,  false, 0x80000000u, V_E_OVERFLOW,          nullptr},
      {"0 bytes, shut down",          true,  false, 0,           V_E_INVALID_OPERATION, kNotConnected},
      {"1 byte, shut down",           true,  false, 1,           V_E_INVALID_OPERATION, kNotConnected},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    if (c.shutDown) {
      ASSERT_EQ(VBluetoothSocketShutdown(socket_.get()), V_OK);
    }
    Seam().calls.clear();
    VUInt8 *pBuffer = c.nullBuffer ? nullptr : buffer;
    for (bool receiving : {true, false})
      EXPECT_TRUE(Gave(receiving ? VBluetoothSocketReceive(socket_.get(), pBuffer, c.size, kShort)
                                 : VBluetoothSocketSend(socket_.get(), pBuffer, c.size, kShort),
                       c.result, c.szMessage, c.nullBuffer ? L"pBuffer" : L""));
    EXPECT_TRUE(Seam().calls.empty());
  }
}

// A peer that stops reading: the send fails after a full wait for room
// instead of blocking for good, and the socket stays usable.
TEST_F(LinkTest, SendToAPeerThatStopsReadingTimesOut) {
  const int peer = Connect(&socket_);
  std::vector<VUInt8> lots(8u << 20);
  Seam().calls.clear();
  EXPECT_EQ(VBluetoothSocketSend(socket_.get(), lots.data(), static_cast<VUInt32>(lots.size()), kShort),
            V_E_TIMEOUT);
  EXPECT_EQ(GetLastError().message, L"Timeout while writing to bluetooth socket");
  for (const PlatformCall &wait : Seam().CallsNamed("wait")) {
    EXPECT_EQ(wait.readiness, platform::Readiness::kWritable);
    EXPECT_EQ(std::pair(wait.limit.seconds, wait.limit.microseconds), std::pair(0u, kShort * 1000));
  }
  peer_.Write(peer, {7});
  VUInt8 byte = 0;
  EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), &byte, 1, kGenerous), V_OK);
  EXPECT_EQ(byte, 7);
}

// The service class given to connect is part of the name reached. A connect
// nobody answers is refused, and the half-made socket is closed without a
// shutdown.
TEST_F(LinkTest, ConnectReachesOnlyTheNamedService) {
  const std::string address = UniqueAddress();
  TestPeer other(address, kOtherService);
  Handle device = MakeDevice(address), socket;
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kOtherService, socket.put()), V_OK);
  EXPECT_NE(socket.get(), nullptr);
  socket.reset();
  Seam().calls.clear();
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()),
            V_E_WIN32);
  EXPECT_EQ(socket.get(), nullptr);
  ExpectPlatformError(kRefused, L"   at connect\r\n");
  EXPECT_EQ(Seam().CallNames(), (Names{"startup", "open", "connect", "close", "cleanup"}));
}

using Script = std::vector<std::pair<std::string, Outcome>>;

constexpr VBluetoothSocketAddress kAddress{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0};
constexpr VUInt32 kTimeout = 1000;

class FaultTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    Seam().Install(FakePlatform::AlwaysSucceeds());
  }
  void Play(const Script &script) {
    Seam().calls.clear();
    for (const auto &[name, outcome] : script)
      Seam().Script(name, outcome);
  }
  Handle socket_;
};

// A failed connect releases the half-made object; a failure of that release
// replaces the connect's own: the last scripted failure is the one reported.
TEST_F(FaultTest, ConnectFailuresReleaseTheHalfMadeSocket) {
  const std::tuple<const char *, Script, Names> cases[] = {
      // clang-format off
      {"no socket",         {{"open", Fails(EMFILE, L"   at socket\r\n")}},       {"startup", "open", "cleanup"}},
      {"no socket library", {{"startup", Fails(10091, L"   at WSAStartup\r\n")}}, {"startup"}},
      {"close fails too",   {{"connect", Fails(ECONNREFUSED, L"   at connect\r\n")}, {"close", Fails(EIO, L"   at closesocket\r\n")}}, {"startup", "open", "connect", "close", "cleanup"}},
      // clang-format on
  };
  for (const auto &[szCase, script, calls] : cases) {
    SCOPED_TRACE(szCase);
    Play(script);
    Handle socket;
    EXPECT_EQ(VBluetoothSocketConnect(&kAddress, socket.put()), V_E_WIN32);
    EXPECT_EQ(socket.get(), nullptr);
    ExpectPlatformError(script.back().second.failure.code, script.back().second.failure.szAt);
    EXPECT_EQ(Seam().CallNames(), calls);
  }
}

// A platform that reports more than it was asked for is not believed; one
// that takes part or none of a send is waited for again.
TEST_F(FaultTest, TransferCountsFromThePlatformAreChecked) {
  ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
  const struct {
    const char *szCase;
    bool receiving;
    Script script;
    VResult result;
    Names calls;
  } cases[] = {
      // clang-format off
      {"received more than asked", true,  {{"receive", Gives(9)}},                             V_E_OVERFLOW, {"wait", "receive"}},
      {"sent more than asked",     false, {{"send", Gives(9)}},                                V_E_OVERFLOW, {"wait", "send"}},
      {"sent nothing, then all",   false, {{"send", Gives(0)}},                                V_OK,         {"wait", "send", "wait", "send"}},
      {"sent 3, then 5",           false, {{"send", Gives(3)}},                                V_OK,         {"wait", "send", "wait", "send"}},
      {"recv fails",               true,  {{"receive", Fails(ECONNRESET, L"   at recv\r\n")}}, V_E_WIN32,    {"wait", "receive"}},
      {"wait fails",               false, {{"wait", Fails(EBADF, L"   at select\r\n")}},       V_E_WIN32,    {"wait"}},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Play(c.script);
    VUInt8 buffer[8] = {};
    EXPECT_EQ(c.receiving ? VBluetoothSocketReceive(socket_.get(), buffer, 8, kTimeout)
                          : VBluetoothSocketSend(socket_.get(), buffer, 8, kTimeout),
              c.result);
    if (c.result == V_E_WIN32)
      ExpectPlatformError(c.script[0].second.failure.code, c.script[0].second.failure.szAt);
    EXPECT_EQ(Seam().CallNames(), c.calls);
    // A failed transfer leaves the socket connected.
    EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), buffer, 8, kTimeout), V_OK);
  }
}

// However a socket was wound down before its last release, the platform
// sees one shutdown and one close, and the socket's own start-up of the
// socket library is given back once. Dispose closes the socket even when its
// shutdown fails, or it would leak; the first failure is reported.
TEST_F(FaultTest, ReleaseShutsDownAndClosesExactlyOnce) {
  using Step = VResult(V_CALL *)(HVBluetoothSocket);
  constexpr Step kShutdown = VBluetoothSocketShutdown, kClose = VBluetoothSocketClose;
  const Outcome shutdownFails = Fails(ENOTCONN, L"   at shutdown\r\n"),
                closeFails = Fails(EIO, L"   at closesocket\r\n");
  const struct {
    const char *szCase;
    std::vector<Step> steps;
    Script script;
    VInt32 code;  // 0: success
    const wchar_t *szAt;
  } cases[] = {
      // clang-format off
      {"released connected",      {},                          {},                                                   0,        nullptr},
      {"shut down twice",         {kShutdown, kShutdown},      {},                                                   0,        nullptr},
      {"shut down, closed twice", {kShutdown, kClose, kClose}, {},                                                   0,        nullptr},
      {"shutdown fails",          {},                          {{"shutdown", shutdownFails}},                        ENOTCONN, L"   at shutdown\r\n"},
      {"close fails",             {},                          {{"close", closeFails}},                              EIO,      L"   at closesocket\r\n"},
      {"both fail",               {},                          {{"shutdown", shutdownFails}, {"close", closeFails}}, ENOTCONN, L"   at shutdown\r\n"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
    Play(c.script);
    for (Step step : c.steps)
      EXPECT_EQ(step(socket_.get()), V_OK);
    HVObject hSocket = socket_.release();
    EXPECT_EQ(VObjectSet(nullptr, &hSocket), c.code ? V_E_WIN32 : V_OK);
    if (c.code)
      ExpectPlatformError(c.code, c.szAt);
    EXPECT_EQ(Seam().CallNames(), (Names{"shutdown", "close", "cleanup"}));
  }

  // A failed shutdown ends the connection all the same.
  ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
  Play({{"shutdown", shutdownFails}});
  EXPECT_EQ(VBluetoothSocketShutdown(socket_.get()), V_E_WIN32);
  VUInt8 byte = 0;
  EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), &byte, 1, kTimeout), V_E_INVALID_OPERATION);
}

// One start-up per module however often asked; a failed start-up or
// clean-up leaves the state as it was, so the next call tries again.
TEST_F(FaultTest, StartupAndCleanupHoldOneStartUp) {
  const struct {
    bool startup, fails;
    size_t platformCalls;
  } steps[] = {
      // clang-format off
      {true,  true,  1},
      {true,  false, 1},
      {true,  false, 0},
      {false, true,  1},
      {true,  false, 0},
      {false, false, 1},
      {false, false, 0},
      // clang-format on
  };
  int index = 0;
  for (const auto &step : steps) {
    SCOPED_TRACE(index++);
    const wchar_t *szAt = step.startup ? L"   at WSAStartup\r\n" : L"   at WSACleanup\r\n";
    Play({});
    if (step.fails)
      Seam().Script(step.startup ? "startup" : "cleanup", Fails(10091, szAt));
    EXPECT_EQ(step.startup ? VBluetoothSocketStartup() : VBluetoothSocketCleanup(),
              step.fails ? V_E_WIN32 : V_OK);
    if (step.fails)
      ExpectPlatformError(10091, szAt);
    EXPECT_EQ(Seam().calls.size(), step.platformCalls);
  }
}

// The real source fills large requests to the end. A failed draw reaches its
// caller as a random key's failure (tests/bluefin).
TEST_F(FaultTest, SecureRandomFillsLargeRequestsToTheEnd) {
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 4), V_E_ARGUMENT_NULL);
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 0), V_OK);
  std::vector<VUInt8> first(1u << 20), second(1u << 20);
  ASSERT_EQ(VPlatformSecureRandom(first.data(), static_cast<VUInt32>(first.size())), V_OK);
  ASSERT_EQ(VPlatformSecureRandom(second.data(), static_cast<VUInt32>(second.size())), V_OK);
  EXPECT_NE(first, second);
  EXPECT_NE(std::vector<VUInt8>(first.end() - 64, first.end()), std::vector<VUInt8>(64, 0));
}

}  // namespace
}  // namespace vdm::test
