#include "test_support.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "bluetooth/platform/emulated_link.h"
#include "framework/v_test_controls.h"

namespace vdm::test {

using platform::Failure;
using platform::PlatformCalls;
using platform::Readiness;
using platform::SocketHandle;
using platform::WaitLimit;

Handle MakeString(const wchar_t *szText) {
  Handle string;
  EXPECT_EQ(VStringCreateFromStrOrCharsW(szText, -1, string.put()), V_OK);
  return string;
}

std::wstring TextOf(HVString hString) {
  VInt32 length = 0;
  const wchar_t *szChars = nullptr;
  if (VFailed(VStringGetBufferW(hString, &length, &szChars)) || szChars == nullptr)
    return {};
  return std::wstring(szChars, static_cast<size_t>(length));
}

LastError GetLastError() {
  LastError error;
  Handle hError;
  if (VFailed(VErrorGetLastEx(0, hError.put())) || hError.get() == nullptr)
    return error;
  VErrorGetCode(hError.get(), &error.code);
  VErrorGetPlatformCode(hError.get(), &error.platformCode);
  Handle text;
  if (VSucceeded(VErrorGetMessageW(hError.get(), text.put())))
    error.message = TextOf(text.get());
  if (VSucceeded(VErrorGetParameterNameW(hError.get(), text.put())))
    error.parameter = TextOf(text.get());
  if (VSucceeded(VErrorGetExternalCallStackW(hError.get(), text.put())))
    error.callStack = TextOf(text.get());
  return error;
}

HostFootprint TakeFootprint() {
  return {VTestGetLiveObjectCount(), VTestGetOutstandingAllocationCount()};
}

std::ostream &operator<<(std::ostream &out, const HostFootprint &footprint) {
  return out << "{objects " << footprint.objects << ", allocations " << footprint.allocations << "}";
}

Outcome Fails(VInt32 code, const wchar_t *szAt) {
  return Outcome{true, Failure{code, szAt}, -1};
}
Outcome Gives(std::int64_t value) {
  return Outcome{false, Failure{}, value};
}

// --- FakePlatform ----------------------------------------------------------

namespace {

FakePlatform &Fake() {
  return FakePlatform::Get();
}

void Record(PlatformCall call) {
  Fake().calls.push_back(std::move(call));
}

// A scripted boolean call: true when it was scripted, with *pResult its
// outcome.
bool Scripted(const std::string &name, Failure *pFailure, bool *pResult) {
  Outcome outcome;
  if (!Fake().TakeScript(name, &outcome))
    return false;
  if (outcome.fails)
    *pFailure = outcome.failure;
  *pResult = !outcome.fails;
  return true;
}

bool ScriptedCount(const std::string &name, Failure *pFailure, std::int64_t *pResult) {
  Outcome outcome;
  if (!Fake().TakeScript(name, &outcome))
    return false;
  if (outcome.fails)
    *pFailure = outcome.failure;
  *pResult = outcome.fails ? -1 : outcome.value;
  return true;
}

bool RecordedStartup(Failure *pFailure) {
  Record({"startup"});
  bool result;
  return Scripted("startup", pFailure, &result) ? result : Fake().inner->startup(pFailure);
}

bool RecordedCleanup(Failure *pFailure) {
  Record({"cleanup"});
  bool result;
  return Scripted("cleanup", pFailure, &result) ? result : Fake().inner->cleanup(pFailure);
}

bool RecordedOpen(SocketHandle *pSocket, Failure *pFailure) {
  Record({"open"});
  bool result;
  return Scripted("open", pFailure, &result) ? result : Fake().inner->open(pSocket, pFailure);
}

bool RecordedConnect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  Record({"connect"});
  bool result;
  return Scripted("connect", pFailure, &result) ? result : Fake().inner->connect(socket, pAddress, pFailure);
}

int RecordedWait(SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure) {
  Record({"wait", limit, readiness});
  std::int64_t result;
  if (ScriptedCount("wait", pFailure, &result))
    return static_cast<int>(result);
  return Fake().inner->wait(socket, readiness, limit, pFailure);
}

std::int64_t RecordedReceive(SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure) {
  Record({"receive", {}, {}, size});
  std::int64_t result;
  if (!ScriptedCount("receive", pFailure, &result))
    result = Fake().inner->receive(socket, pBuffer, size, pFailure);
  if (Fake().afterReceive)
    Fake().afterReceive(result);
  return result;
}

std::int64_t RecordedSend(SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure) {
  Record({"send", {}, {}, size});
  std::int64_t result;
  if (ScriptedCount("send", pFailure, &result))
    return result;
  return Fake().inner->send(socket, pBuffer, size, pFailure);
}

bool RecordedShutdown(SocketHandle socket, Failure *pFailure) {
  Record({"shutdown"});
  bool result;
  return Scripted("shutdown", pFailure, &result) ? result : Fake().inner->shutdown(socket, pFailure);
}

bool RecordedClose(SocketHandle socket, Failure *pFailure) {
  Record({"close"});
  bool result;
  if (Scripted("close", pFailure, &result)) {
    // The descriptor is gone even when close reports a failure.
    Failure ignored;
    Fake().inner->close(socket, &ignored);
    return result;
  }
  return Fake().inner->close(socket, pFailure);
}

bool RecordedStringToAddress(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  Record({"stringToAddress"});
  return Fake().inner->stringToAddress(szText, pAddress, pFailure);
}

bool RecordedAddressToString(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                             Failure *pFailure) {
  Record({"addressToString"});
  if (Fake().addressText.empty())
    return Fake().inner->addressToString(pAddress, szText, pLength, pFailure);
  std::wmemcpy(szText, Fake().addressText.c_str(), Fake().addressText.size() + 1);
  *pLength = Fake().addressTextLength;
  return true;
}

bool RecordedSecureRandom(VUInt8 *pBuffer, VUInt32 size, Failure *pFailure) {
  Record({"secureRandom", {}, {}, size});
  bool result;
  return Scripted("secureRandom", pFailure, &result) ? result
                                                     : Fake().inner->secureRandom(pBuffer, size, pFailure);
}

constexpr PlatformCalls kRecording{
    RecordedStartup,         RecordedCleanup,     RecordedOpen,     RecordedConnect, RecordedWait,
    RecordedReceive,         RecordedSend,        RecordedShutdown, RecordedClose,   RecordedStringToAddress,
    RecordedAddressToString, RecordedSecureRandom};

// A made-up socket for the table without a platform.
constexpr SocketHandle kMadeUpSocket = 0x5A5A;

PlatformCalls MakeAlwaysSucceeds() {
  PlatformCalls calls = platform::PlatformDefault();  // address text and random stay real
  calls.startup = [](Failure *) { return true; };
  calls.cleanup = [](Failure *) { return true; };
  calls.open = [](SocketHandle *pSocket, Failure *) {
    *pSocket = kMadeUpSocket;
    return true;
  };
  calls.connect = [](SocketHandle, const VBluetoothSocketAddress *, Failure *) { return true; };
  calls.wait = [](SocketHandle, Readiness, WaitLimit, Failure *) { return 1; };
  calls.receive = [](SocketHandle, void *, VUInt32 size, Failure *) { return std::int64_t{size}; };
  calls.send = [](SocketHandle, const void *, VUInt32 size, Failure *) { return std::int64_t{size}; };
  calls.shutdown = [](SocketHandle, Failure *) { return true; };
  calls.close = [](SocketHandle, Failure *) { return true; };
  return calls;
}

}  // namespace

FakePlatform &FakePlatform::Get() {
  static FakePlatform fake;
  return fake;
}

const PlatformCalls &FakePlatform::AlwaysSucceeds() {
  static const PlatformCalls kCalls = MakeAlwaysSucceeds();
  return kCalls;
}

void FakePlatform::Install(const PlatformCalls &innerCalls) {
  Uninstall();
  inner = &innerCalls;
  platform::SetPlatformCalls(&kRecording);
}

void FakePlatform::Uninstall() {
  platform::SetPlatformCalls(nullptr);
  inner = nullptr;
  calls.clear();
  scripts_.clear();
  afterReceive = nullptr;
  addressText.clear();
  addressTextLength = 0;
}

bool FakePlatform::TakeScript(const std::string &name, Outcome *pOutcome) {
  auto found = scripts_.find(name);
  if (found == scripts_.end() || found->second.empty())
    return false;
  *pOutcome = found->second.front();
  found->second.pop_front();
  return true;
}

std::vector<std::string> FakePlatform::Names() const {
  std::vector<std::string> names;
  for (const PlatformCall &call : calls)
    names.push_back(call.name);
  return names;
}

std::vector<PlatformCall> FakePlatform::CallsNamed(const std::string &name) const {
  std::vector<PlatformCall> named;
  for (const PlatformCall &call : calls) {
    if (call.name == name)
      named.push_back(call);
  }
  return named;
}

// --- Addresses and the raw peer -------------------------------------------

VUInt64 UniqueDeviceAddress() {
  static std::atomic<unsigned> counter{0};
  const auto pid = static_cast<VUInt64>(getpid()) & 0xFFFFFFu;
  return 0xF00000000000ull | pid << 8 | (counter++ & 0xFFu);
}

std::string AddressText(VUInt64 btAddr) {
  char text[18];
  std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(btAddr >> 40 & 0xFF),
                unsigned(btAddr >> 32 & 0xFF), unsigned(btAddr >> 24 & 0xFF), unsigned(btAddr >> 16 & 0xFF),
                unsigned(btAddr >> 8 & 0xFF), unsigned(btAddr & 0xFF));
  return text;
}

TestPeer::TestPeer(VUInt64 btAddr, const VUInt8 serviceClass[16]) {
  const std::string name = EmulatedLinkName(AddressText(btAddr), serviceClass);
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_GE(listener_, 0) << std::strerror(errno);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  EXPECT_EQ(bind(listener_, reinterpret_cast<const sockaddr *>(&address), length), 0) << std::strerror(errno);
  EXPECT_EQ(listen(listener_, 8), 0) << std::strerror(errno);
}

TestPeer::~TestPeer() {
  for (int fd : accepted_)
    close(fd);
  if (listener_ >= 0)
    close(listener_);
}

int TestPeer::Accept() {
  int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  EXPECT_GE(fd, 0) << std::strerror(errno);
  accepted_.push_back(fd);
  return fd;
}

void TestPeer::Write(int fd, const std::vector<VUInt8> &bytes) {
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::vector<VUInt8> TestPeer::Read(int fd, size_t count) {
  std::vector<VUInt8> bytes(count);
  size_t done = 0;
  while (done < count) {
    ssize_t n = recv(fd, bytes.data() + done, count - done, 0);
    if (n <= 0)
      break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

bool TestPeer::AtEndOfStream(int fd) {
  VUInt8 byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

void TestPeer::Close(int fd) {
  std::erase(accepted_, fd);
  close(fd);
}

// --- Fixture ---------------------------------------------------------------

void TransportTest::SetUp() {
  Handle type;
  ASSERT_EQ(VBluetoothDeviceTypeOf(type.put()), V_OK);
  ASSERT_EQ(VBluetoothSocketTypeOf(type.put()), V_OK);
  type.reset();
  VErrorClearLast();
  baseline_ = TakeFootprint();
}

void TransportTest::TearDown() {
  FakePlatform::Get().Uninstall();
  VErrorClearLast();
  EXPECT_EQ(TakeFootprint(), baseline_) << "host objects or memory left behind";
}

}  // namespace vdm::test
