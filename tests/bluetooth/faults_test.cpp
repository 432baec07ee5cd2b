// Platform failures the emulated link cannot produce on demand, scripted on
// the seam over a table that succeeds without a platform: each must reach
// the caller with the platform's code and the failed call's name, and the
// socket must be released all the same.
#include "test_support.h"

namespace vdm::test {
namespace {

using Names = std::vector<std::string>;

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
  FakePlatform &Seam() { return FakePlatform::Get(); }
  Handle socket_;
};

void ExpectPlatformError(VInt32 code, const wchar_t *szAt) {
  const LastError error = GetLastError();
  EXPECT_EQ(error.code, V_E_WIN32);
  EXPECT_EQ(error.platformCode, code);
  EXPECT_EQ(error.callStack, szAt);
}

// A failed connect releases the half-made object; a failure of that release
// replaces the connect's own.
TEST_F(FaultTest, ConnectFailuresReleaseTheHalfMadeSocket) {
  const struct {
    const char *szCase;
    std::vector<std::pair<std::string, Outcome>> script;
    VInt32 code;
    const wchar_t *szAt;
    Names calls;
  } cases[] = {
      {"no socket", {{"open", Fails(EMFILE, L"   at socket\r\n")}}, EMFILE, L"   at socket\r\n", {"open"}},
      {"no discovery",
       {{"connect", Fails(EHOSTDOWN, L"   at sdp_connect\r\n")}},
       EHOSTDOWN,
       L"   at sdp_connect\r\n",
       {"open", "connect", "close"}},
      {"close fails after connect failed",
       {{"connect", Fails(ECONNREFUSED, L"   at connect\r\n")},
        {"close", Fails(EIO, L"   at closesocket\r\n")}},
       EIO,
       L"   at closesocket\r\n",
       {"open", "connect", "close"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Seam().calls.clear();
    for (const auto &[name, outcome] : c.script)
      Seam().Script(name, outcome);
    Handle socket;
    EXPECT_EQ(VBluetoothSocketConnect(&kAddress, socket.put()), V_E_WIN32);
    EXPECT_EQ(socket.get(), nullptr);
    ExpectPlatformError(c.code, c.szAt);
    EXPECT_EQ(Seam().Names(), c.calls);
  }
}

TEST_F(FaultTest, TransferFailuresKeepTheSocketConnected) {
  ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
  enum class Op { kReceive, kSend };
  const struct {
    const char *szCase;
    Op op;
    std::vector<std::pair<std::string, Outcome>> script;
    VResult result;
    VInt32 code;  // platform code when result is V_E_WIN32
    const wchar_t *szAt;
  } cases[] = {
      {"receive: wait fails",
       Op::kReceive,
       {{"wait", Fails(EBADF, L"   at select\r\n")}},
       V_E_WIN32,
       EBADF,
       L"   at select\r\n"},
      {"receive: recv fails",
       Op::kReceive,
       {{"receive", Fails(ECONNRESET, L"   at recv\r\n")}},
       V_E_WIN32,
       ECONNRESET,
       L"   at recv\r\n"},
      {"receive: more than asked", Op::kReceive, {{"receive", Gives(9)}}, V_E_OVERFLOW, 0, nullptr},
      {"send: wait fails",
       Op::kSend,
       {{"wait", Fails(EBADF, L"   at select\r\n")}},
       V_E_WIN32,
       EBADF,
       L"   at select\r\n"},
      {"send: send fails",
       Op::kSend,
       {{"send", Fails(ECONNRESET, L"   at send\r\n")}},
       V_E_WIN32,
       ECONNRESET,
       L"   at send\r\n"},
      {"send: more than asked", Op::kSend, {{"send", Gives(9)}}, V_E_OVERFLOW, 0, nullptr},
      {"send: nothing taken, then all", Op::kSend, {{"send", Gives(0)}}, V_OK, 0, nullptr},
      {"send: part, then the rest", Op::kSend, {{"send", Gives(3)}}, V_OK, 0, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    for (const auto &[name, outcome] : c.script)
      Seam().Script(name, outcome);
    VUInt8 buffer[8] = {};
    const VResult result = c.op == Op::kReceive ? VBluetoothSocketReceive(socket_.get(), buffer, 8, kTimeout)
                                                : VBluetoothSocketSend(socket_.get(), buffer, 8, kTimeout);
    EXPECT_EQ(result, c.result);
    if (c.result == V_E_WIN32)
      ExpectPlatformError(c.code, c.szAt);
    // Still connected: the next transfer goes through.
    EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), buffer, 8, kTimeout), V_OK);
  }
  // The two sends that moved less than asked waited again before sending on.
  Seam().calls.clear();
  Seam().Script("send", Gives(0));
  VUInt8 buffer[8] = {};
  ASSERT_EQ(VBluetoothSocketSend(socket_.get(), buffer, 8, kTimeout), V_OK);
  EXPECT_EQ(Seam().Names(), (Names{"wait", "send", "wait", "send"}));
  EXPECT_EQ(Seam().calls[3].size, 8u);
}

// Dispose closes the socket even when its shutdown fails: the object is
// going away and the socket would leak. The first failure is reported.
TEST_F(FaultTest, DisposeClosesEvenWhenShutdownFails) {
  const struct {
    const char *szCase;
    std::vector<std::pair<std::string, Outcome>> script;
    VResult result;
    VInt32 code;
    const wchar_t *szAt;
  } cases[] = {
      {"all well", {}, V_OK, 0, nullptr},
      {"shutdown fails",
       {{"shutdown", Fails(ENOTCONN, L"   at shutdown\r\n")}},
       V_E_WIN32,
       ENOTCONN,
       L"   at shutdown\r\n"},
      {"close fails",
       {{"close", Fails(EIO, L"   at closesocket\r\n")}},
       V_E_WIN32,
       EIO,
       L"   at closesocket\r\n"},
      {"both fail",
       {{"shutdown", Fails(ENOTCONN, L"   at shutdown\r\n")},
        {"close", Fails(EIO, L"   at closesocket\r\n")}},
       V_E_WIN32,
       ENOTCONN,
       L"   at shutdown\r\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
    for (const auto &[name, outcome] : c.script)
      Seam().Script(name, outcome);
    Seam().calls.clear();
    VErrorClearLast();
    EXPECT_EQ(socket_.reset(), c.result);
    if (c.result == V_E_WIN32)
      ExpectPlatformError(c.code, c.szAt);
    EXPECT_EQ(Seam().Names(), (Names{"shutdown", "close"}));
  }
}

TEST_F(FaultTest, AFailedShutdownStillEndsTheConnection) {
  ASSERT_EQ(VBluetoothSocketConnect(&kAddress, socket_.put()), V_OK);
  Seam().Script("shutdown", Fails(ENOTCONN, L"   at shutdown\r\n"));
  EXPECT_EQ(VBluetoothSocketShutdown(socket_.get()), V_E_WIN32);
  VUInt8 byte = 0;
  EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), &byte, 1, kTimeout), V_E_INVALID_OPERATION);
  EXPECT_EQ(GetLastError().message, L"Socket is not connected");
}

// One start-up per module however often asked; a failed start-up or
// clean-up leaves the state as it was, so the next call tries again.
TEST_F(FaultTest, StartupAndCleanupHoldOneStartUp) {
  enum class Op { kStartup, kCleanup };
  const struct {
    Op op;
    bool fails;
    VResult result;
    size_t platformCalls;  // of this step
  } steps[] = {
      {Op::kStartup, true, V_E_WIN32, 1}, {Op::kStartup, false, V_OK, 1}, {Op::kStartup, false, V_OK, 0},
      {Op::kCleanup, true, V_E_WIN32, 1}, {Op::kStartup, false, V_OK, 0}, {Op::kCleanup, false, V_OK, 1},
      {Op::kCleanup, false, V_OK, 0},
  };
  int index = 0;
  for (const auto &step : steps) {
    SCOPED_TRACE(index++);
    const bool startup = step.op == Op::kStartup;
    const wchar_t *szAt = startup ? L"   at WSAStartup\r\n" : L"   at WSACleanup\r\n";
    Seam().calls.clear();
    if (step.fails)
      Seam().Script(startup ? "startup" : "cleanup", Fails(10091, szAt));
    EXPECT_EQ(startup ? VBluetoothSocketStartup() : VBluetoothSocketCleanup(), step.result);
    if (step.fails)
      ExpectPlatformError(10091, szAt);
    EXPECT_EQ(Seam().calls.size(), step.platformCalls);
  }
}

TEST_F(FaultTest, SecureRandomFillsOrReportsTheFailedCall) {
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 4), V_E_ARGUMENT_NULL);
  EXPECT_EQ(GetLastError().message, L"pBuffer is NULL");
  EXPECT_EQ(VPlatformSecureRandom(nullptr, 0), V_OK);

  Seam().Script("secureRandom", Fails(ENOSYS, L"   at getrandom\r\n"));
  VUInt8 key[32] = {};
  EXPECT_EQ(VPlatformSecureRandom(key, sizeof(key)), V_E_WIN32);
  ExpectPlatformError(ENOSYS, L"   at getrandom\r\n");

  // The real source: large requests are filled to the end.
  std::vector<VUInt8> first(1u << 20), second(1u << 20);
  ASSERT_EQ(VPlatformSecureRandom(first.data(), static_cast<VUInt32>(first.size())), V_OK);
  ASSERT_EQ(VPlatformSecureRandom(second.data(), static_cast<VUInt32>(second.size())), V_OK);
  EXPECT_NE(first, second);
  EXPECT_NE(std::vector<VUInt8>(first.end() - 64, first.end()), std::vector<VUInt8>(64, 0));
}

}  // namespace
}  // namespace vdm::test
