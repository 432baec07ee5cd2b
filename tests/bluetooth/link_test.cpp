// VBluetoothSocket over the emulated link against a raw peer: the real
// waits, receives and sends, seen through the recording seam.
#include <memory>
#include <numeric>

#include "test_support.h"

namespace vdm::test {
namespace {

std::wstring ToWide(const std::string &text) {
  return std::wstring(text.begin(), text.end());
}

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
    const std::string address = UniqueAddress();
    peer_ = std::make_unique<TestPeer>(address, kVBluetoothSerialPortServiceClass);
    device_ = MakeDevice(ToWide(address));
    Seam().Install(platform::PlatformDefault());
  }

  void TearDown() override {
    socket_.reset();
    device_.reset();
    peer_.reset();
    TransportTest::TearDown();
  }

  // Connects to the peer's service and accepts on the peer's side.
  int Connect(Handle *pSocket) {
    EXPECT_EQ(VBluetoothDeviceConnect(device_.get(), kVBluetoothSerialPortServiceClass, pSocket->put()),
              V_OK);
    return pSocket->get() != nullptr ? peer_->Accept() : -1;
  }

  std::unique_ptr<TestPeer> peer_;
  Handle device_, socket_;
};

// Each row is what the peer does while 8 bytes are awaited: bytes sent
// before the receive, then, once the first platform receive has returned,
// more bytes or a close.
TEST_F(LinkTest, ReceiveWaitsTheFullLimitBeforeEachPlatformReceive) {
  const struct {
    const char *szCase;
    size_t before;
    bool closeBefore;
    size_t later;
    bool closeLater;
    VUInt32 timeout;
    VResult result;
    size_t waits, receives;
  } cases[] = {
      // clang-format off
      {"5 of 8, then silence", 5, false, 0, false, kShort,    V_E_TIMEOUT,       2, 1},
      {"3 then 5",             3, false, 5, false, kGenerous, V_OK,              2, 2},
      {"2, then closed",       2, false, 0, true,  kGenerous, V_E_END_OF_STREAM, 2, 2},
      {"closed at once",       0, true,  0, false, kGenerous, V_E_END_OF_STREAM, 1, 1},
      // clang-format on
  };
  std::vector<VUInt8> sent(8);
  std::iota(sent.begin(), sent.end(), VUInt8{1});
  auto piece = [&](size_t from, size_t count) {
    return std::vector<VUInt8>(sent.begin() + static_cast<ptrdiff_t>(from),
                               sent.begin() + static_cast<ptrdiff_t>(from + count));
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Handle socket;
    const int peer = Connect(&socket);
    peer_->Write(peer, piece(0, c.before));
    if (c.closeBefore)
      peer_->Close(peer);
    Seam().calls.clear();
    Seam().after = [&, first = true](const std::string &name) mutable {
      if (name != "receive" || !std::exchange(first, false))
        return;
      if (c.later > 0)
        peer_->Write(peer, piece(c.before, c.later));
      if (c.closeLater)
        peer_->Close(peer);
    };

    std::vector<VUInt8> buffer(8, 0xEE);
    EXPECT_EQ(VBluetoothSocketReceive(socket.get(), buffer.data(), 8, c.timeout), c.result);
    if (c.result == V_E_TIMEOUT) {
      EXPECT_EQ(GetLastError().message, L"Timeout while reading from bluetooth socket");
    }
    // What arrived stays in the buffer; nothing past it is touched.
    std::vector<VUInt8> expected(8, 0xEE);
    std::copy_n(sent.begin(), c.before + c.later, expected.begin());
    EXPECT_EQ(buffer, expected);

    const std::vector<PlatformCall> waits = Seam().CallsNamed("wait");
    EXPECT_EQ(waits.size(), c.waits);
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

// A time-out in milliseconds splits into the wait's seconds and microseconds.
static_assert(platform::WaitLimitFromMilliseconds(2500).seconds == 2 &&
              platform::WaitLimitFromMilliseconds(2500).microseconds == 500000);
static_assert(platform::WaitLimitFromMilliseconds(999).seconds == 0 &&
              platform::WaitLimitFromMilliseconds(999).microseconds == 999000);
static_assert(platform::WaitLimitFromMilliseconds(0xFFFFFFFF).seconds == 4294967 &&
              platform::WaitLimitFromMilliseconds(0xFFFFFFFF).microseconds == 295000);

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
    for (bool receiving : {true, false}) {
      EXPECT_EQ(receiving ? VBluetoothSocketReceive(socket_.get(), pBuffer, c.size, kShort)
                          : VBluetoothSocketSend(socket_.get(), pBuffer, c.size, kShort),
                c.result);
      if (c.szMessage) {
        EXPECT_EQ(GetLastError().message, c.szMessage);
      }
    }
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
  peer_->Write(peer, {7});
  VUInt8 byte = 0;
  EXPECT_EQ(VBluetoothSocketReceive(socket_.get(), &byte, 1, kGenerous), V_OK);
  EXPECT_EQ(byte, 7);
}

TEST_F(LinkTest, SendToAClosedPeerFailsWithoutKillingTheProcess) {
  peer_->Close(Connect(&socket_));
  VUInt8 bytes[4] = {1, 2, 3, 4};
  // A local stream fails the first send; TCP (the Windows link) may take
  // the bytes of a send or a few before the peer's reset comes back.
  constexpr int kMostSends = 1000;
  VResult result = V_OK;
  for (int i = 0; i < kMostSends && result == V_OK; ++i)
    result = VBluetoothSocketSend(socket_.get(), bytes, 4, kGenerous);
  EXPECT_EQ(result, V_E_WIN32);
  ExpectPlatformError(kPlatformCodes.peerGone, L"   at send\r\n");
}

// However a socket was wound down before its last release, the platform
// sees one shutdown and one close, and the socket's own start-up of the
// socket library is given back once.
TEST_F(LinkTest, ReleaseShutsDownAndClosesExactlyOnce) {
  using Step = VResult(V_CALL *)(HVBluetoothSocket);
  const std::pair<const char *, std::vector<Step>> cases[] = {
      // clang-format off
      {"released connected",      {}},
      {"shut down twice",         {VBluetoothSocketShutdown, VBluetoothSocketShutdown}},
      {"shut down, closed twice", {VBluetoothSocketShutdown, VBluetoothSocketClose, VBluetoothSocketClose}},
      // clang-format on
  };
  for (const auto &[szCase, steps] : cases) {
    SCOPED_TRACE(szCase);
    Handle socket;
    Connect(&socket);
    Seam().calls.clear();
    for (auto step : steps)
      EXPECT_EQ(step(socket.get()), V_OK);
    EXPECT_EQ(Release(socket), V_OK);
    EXPECT_EQ(Seam().CallNames(), (Names{"shutdown", "close", "cleanup"}));
  }
}

// The service class given to connect is part of the name reached. A connect
// nobody answers is refused, and the half-made socket is closed without a
// shutdown.
TEST_F(LinkTest, ConnectReachesOnlyTheNamedService) {
  const std::string address = UniqueAddress();
  TestPeer other(address, kOtherService);
  Handle device = MakeDevice(ToWide(address)), socket;
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kOtherService, socket.put()), V_OK);
  EXPECT_NE(socket.get(), nullptr);
  socket.reset();
  Seam().calls.clear();
  EXPECT_EQ(VBluetoothDeviceConnect(device.get(), kVBluetoothSerialPortServiceClass, socket.put()),
            V_E_WIN32);
  EXPECT_EQ(socket.get(), nullptr);
  ExpectPlatformError(kPlatformCodes.refused, L"   at connect\r\n");
  EXPECT_EQ(Seam().CallNames(), (Names{"startup", "open", "connect", "close", "cleanup"}));
}

}  // namespace
}  // namespace vdm::test
