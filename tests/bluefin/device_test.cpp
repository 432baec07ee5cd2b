// Opening a BlueFinDevice: the echo's tests, what a failed opening leaves
// behind, the object's copies of name and address, the time-outs the
// exchanges wait with, and every null argument of the scanner API.
#include <functional>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "scanner_fixture.h"

namespace bluefin_test {
namespace {

using vdm::platform::PlatformCalls;
using vdm::platform::Readiness;

Bytes EchoAnswer(std::size_t size) {
  Bytes payload(size);
  payload[0] = 0x81;
  for (std::size_t i = 1; i < size; ++i)
    payload[i] = static_cast<std::uint8_t>(i - 1);
  return payload;
}

struct EchoCase {
  const char *name;
  std::vector<Bytes> frames;
  const wchar_t *message;
};

void PrintTo(const EchoCase &c, std::ostream *out) {
  *out << c.name;
}

std::vector<EchoCase> EchoCases() {
  Bytes wrongByte14 = EchoAnswer(16);
  wrongByte14[15] ^= 0x40;
  const Bytes otherKey = ResponseFrame(TestKey(3), EchoAnswer(16));
  return {
      {"Longer",
       {ResponseFrame(DefaultKey(), EchoAnswer(17))},
       L"Response length is different from request length"},
      {"Shorter",
       {ResponseFrame(DefaultKey(), EchoAnswer(15))},
       L"Response length is different from request length"},
      {"PatternByte14", {ResponseFrame(DefaultKey(), wrongByte14)}, L"Invalid response from echo command"},
      {"ScannerOnAnotherKey",
       {otherKey, otherKey, otherKey, otherKey},
       L"Cannot get response for sent command"},
  };
}

class EchoFailure : public ScannerTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(EchoFailure, FailsTheOpeningAndClosesTheConnection) {
  peer.Start([&](PeerConnection &link) {
    if (!link.Expect(0x01))
      return;
    for (const Bytes &frame : GetParam().frames)
      link.Send(frame);
    EXPECT_TRUE(link.EndsWithoutMore()) << "the connection stays open";
  });
  EXPECT_TRUE(Fails(Open(), -1, GetParam().message));
  EXPECT_EQ(device, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Echo, EchoFailure, ::testing::ValuesIn(EchoCases()),
                         [](const auto &info) { return std::string(info.param.name); });

using DeviceTest = ScannerTest;

std::wstring TextOf(HVString hString) {
  const wchar_t *chars = nullptr;
  EXPECT_EQ(VStringGetBufferW(hString, nullptr, &chars), V_OK);
  return chars != nullptr ? chars : L"";
}

TEST_F(DeviceTest, OpensUnderTheDefaultKeyAndHandsOutCopies) {
  peer.Start([](PeerConnection &link) {
    link.AnswerEcho();
    EXPECT_TRUE(link.EndsWithoutMore());
  });
  ASSERT_EQ(Open(), V_OK);
  EXPECT_EQ(record()->isSecureMode, 0u);
  EXPECT_EQ(Key(std::to_array(record()->key)), DefaultKey());

  const std::wstring address(peer.address().begin(), peer.address().end());
  HVString first = nullptr;
  HVString second = nullptr;
  HVString name = nullptr;
  ASSERT_EQ(BlueFinGetAddress(device, &first), V_OK);
  EXPECT_EQ(VStringSet(nullptr, &first), V_OK);
  ASSERT_EQ(BlueFinGetAddress(device, &second), V_OK);
  EXPECT_EQ(TextOf(second), address);
  ASSERT_EQ(BlueFinGetName(device, &name), V_OK);
  EXPECT_EQ(TextOf(name), L"Scanner");
  VStringSet(nullptr, &second);
  VStringSet(nullptr, &name);

  HVType type = nullptr;
  const wchar_t *typeName = nullptr;
  ASSERT_EQ(VObjectGetType(device, &type), V_OK);
  ASSERT_EQ(VTypeGetNameW(type, &typeName), V_OK);
  EXPECT_STREQ(typeName, L"BlueFinDevice");
  VObjectSet(nullptr, &type);
}

// Swaps the platform's readiness wait for one that records each limit and,
// when told, reports a read time-out at once instead of waiting it out.
struct WaitRecorder {
  static inline std::vector<std::pair<Readiness, VUInt32>> waits;
  static inline bool readTimesOut = false;
  static int Wait(vdm::platform::SocketHandle socket, Readiness readiness, vdm::platform::WaitLimit limit,
                  vdm::platform::Failure *pFailure) {
    waits.emplace_back(readiness, limit.seconds * 1000 + limit.microseconds / 1000);
    if (readiness == Readiness::kReadable && readTimesOut)
      return 0;
    return vdm::platform::PlatformDefault().wait(socket, readiness, limit, pFailure);
  }
  WaitRecorder() {
    waits.clear();
    calls_ = vdm::platform::PlatformDefault();
    calls_.wait = Wait;
    vdm::platform::SetPlatformCalls(&calls_);
  }
  ~WaitRecorder() {
    vdm::platform::SetPlatformCalls(nullptr);
    readTimesOut = false;
  }
  PlatformCalls calls_;
};

TEST_F(DeviceTest, SendsWaitOneSecondAndReceivesThree) {
  peer.Start([](PeerConnection &link) { link.AnswerEcho(); });
  const WaitRecorder recorder;
  ASSERT_EQ(Open(), V_OK);
  Close();
  ASSERT_FALSE(WaitRecorder::waits.empty());
  for (const auto &[readiness, milliseconds] : WaitRecorder::waits) {
    EXPECT_EQ(milliseconds, readiness == Readiness::kWritable ? 1000u : 3000u);
  }
}

TEST_F(DeviceTest, UnansweredEchoTimesOutAndClosesTheConnection) {
  peer.Start([](PeerConnection &link) {
    EXPECT_TRUE(link.Expect(0x01));
    EXPECT_TRUE(link.EndsWithoutMore());
  });
  const WaitRecorder recorder;
  WaitRecorder::readTimesOut = true;
  EXPECT_TRUE(Fails(Open(), -30, L"Timeout while reading from bluetooth socket"));
  EXPECT_EQ(device, nullptr);
}

struct NullCase {
  const char *operation;
  std::function<VResult()> call;
  const wchar_t *parameter;
};

TEST(ScannerApi, NullArgumentsAreRefusedByName) {
  HVObject h = reinterpret_cast<HVObject>(&h);  // never reached: an earlier argument is null
  VUInt8 key[32] = {};
  const NullCase cases[] = {
      {"BlueFinCreate", [] { return BlueFinCreate(nullptr, nullptr); }, L"hBluetoothDevice"},
      {"BlueFinCreate", [&] { return BlueFinCreate(h, nullptr); }, L"phBlueFin"},
      {"BlueFinEcho", [] { return BlueFinEcho(nullptr); }, L"hBlueFin"},
      {"BlueFinDispose", [] { return BlueFinDispose(nullptr); }, L"hObject"},
      {"BlueFinGetName", [] { return BlueFinGetName(nullptr, nullptr); }, L"hBlueFin"},
      {"BlueFinGetAddress", [] { return BlueFinGetAddress(nullptr, nullptr); }, L"hBlueFin"},
      {"BlueFinSetProgressCallback", [] { return BlueFinSetProgressCallback(nullptr, nullptr, nullptr); },
       L"hBlueFin"},
      {"BlueFinDeviceTypeInit", [] { return BlueFinDeviceTypeInit(nullptr); }, L"ppType"},
      {"BlueFinGetDeviceInfo",
       [] { return BlueFinGetDeviceInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
       L"hBlueFin"},
      {"BlueFinGetStatus", [] { return BlueFinGetStatus(nullptr, nullptr, nullptr, nullptr, nullptr); },
       L"hBlueFin"},
      {"BlueFinSetStatus", [] { return BlueFinSetStatus(nullptr, 0); }, L"hBlueFin"},
      {"BlueFinSetKey", [&] { return BlueFinSetKey(nullptr, key, 32); }, L"hBlueFin"},
      {"BlueFinSetKey", [&] { return BlueFinSetKey(h, nullptr, 16); }, L"pKey"},
      {"BlueFinSetRandomKey", [] { return BlueFinSetRandomKey(nullptr); }, L"hBlueFin"},
      {"BlueFinRestoreDefaultKey", [] { return BlueFinRestoreDefaultKey(nullptr); }, L"hBlueFin"},
      {"BlueFinCreateImage", [] { return BlueFinCreateImage(nullptr); }, L"phImage"},
      {"BlueFinGetImage", [] { return BlueFinGetImage(nullptr, nullptr); }, L"hBlueFin"},
      {"BlueFinGetImage", [&] { return BlueFinGetImage(h, nullptr); }, L"phImage"},
  };
  for (const NullCase &c : cases) {
    EXPECT_TRUE(Fails(c.call(), -11, std::wstring(c.parameter) + L" is NULL", c.parameter)) << c.operation;
  }
}

}  // namespace
}  // namespace bluefin_test
