// Failures the emulated link cannot produce on demand: platform failures
// scripted on the seam over a table that succeeds without a platform. Each
// must reach the caller unchanged, and whatever was half made must be
// released.
#include "bluetooth/secure_random.h"
#include "test_support.h"

namespace vdm::test {
namespace {

using Script = std::vector<std::pair<std::string, Outcome>>;

constexpr VBluetoothSocketAddress kAddress{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0};
constexpr VUInt32 kTimeout = 1000;

class FaultTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    Seam().Install(FakePlatform::AlwaysSucceeds());
  }
  void TearDown() override {
    socket_.reset();
    TransportTest::TearDown();
  }
  void Play(const Script &script) {
    Seam().calls.clear();
    for (const auto &[name, outcome] : script)
      Seam().Script(name, outcome);
  }
  Handle socket_;
};

// A failed connect releases the half-made object; a failure of that release
// replaces the connect's own.
TEST_F(FaultTest, ConnectFailuresReleaseTheHalfMadeSocket) {
  const struct {
    const char *szCase;
    Script script;
    VInt32 code;
    const wchar_t *szAt;
    Names calls;
  } cases[] = {
      {"no socket",
       {{"open", Fails(EMFILE, L"   at socket\r\n")}},
       EMFILE,
       L"   at socket\r\n",
       {"startup", "open", "cleanup"}},
      {"no socket library",
       {{"startup", Fails(10091, L"   at WSAStartup\r\n")}},
       10091,
       L"   at WSAStartup\r\n",
       {"startup"}},
      {"close fails too",
       {{"connect", Fails(ECONNREFUSED, L"   at connect\r\n")},
        {"close", Fails(EIO, L"   at closesocket\r\n")}},
       EIO,
       L"   at closesocket\r\n",
       {"startup", "open", "connect", "close", "cleanup"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Play(c.script);
    Handle socket;
    EXPECT_EQ(VBluetoothSocketConnect(&kAddress, socket.put()), V_E_WIN32);
    EXPECT_EQ(socket.get(), nullptr);
    ExpectPlatformError(c.code, c.szAt);
    EXPECT_EQ(Seam().CallNames(), c.calls);
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

// Dispose closes the socket even when its shutdown fails: the object is
// going away and the socket would leak. The first failure is reported.
TEST_F(FaultTest, DisposeClosesEvenWhenShutdownFails) {
  const Outcome shutdownFails = Fails(ENOTCONN, L"   at shutdown\r\n"),
                closeFails = Fails(EIO, L"   at closesocket\r\n");
  const struct {
    const char *szCase;
    Script script;
    VInt32 code;  // 0: success
    const wchar_t *szAt;
  } cases[] = {
      // clang-format off
      {"all well",       {},                                                   0,        nullptr},
      {"shutdown fails", {{"shutdown", shutdownFails}},                        ENOTCONN, L"   at shutdown\r\n"},
      {"close fails",    {{"close", closeFails}},                              EIO,      L"   at closesocket\r\n"},
      {"both fail",      {{"shutdown", shutdownFails}, {"close", closeFails}}, ENOTCONN, L"   at shutdown\r\n"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
    Play(c.script);
    EXPECT_EQ(Release(socket_), c.code ? V_E_WIN32 : V_OK);
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

TEST_F(FaultTest, SecureRandomFillsOrReportsTheFailedCall) {
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 4), V_E_ARGUMENT_NULL);
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 0), V_OK);
  Seam().Script("secureRandom", Fails(ENOSYS, L"   at getrandom\r\n"));
  VUInt8 key[32] = {};
  EXPECT_EQ(VPlatformSecureRandom(key, sizeof(key)), V_E_WIN32);
  ExpectPlatformError(ENOSYS, L"   at getrandom\r\n");

  // The real source fills large requests to the end.
  std::vector<VUInt8> first(1u << 20), second(1u << 20);
  ASSERT_EQ(VPlatformSecureRandom(first.data(), static_cast<VUInt32>(first.size())), V_OK);
  ASSERT_EQ(VPlatformSecureRandom(second.data(), static_cast<VUInt32>(second.size())), V_OK);
  EXPECT_NE(first, second);
  EXPECT_NE(std::vector<VUInt8>(first.end() - 64, first.end()), std::vector<VUInt8>(64, 0));
}

}  // namespace
}  // namespace vdm::test
