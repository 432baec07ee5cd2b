// Opening a BlueFinDevice: the echo's tests, a failed opening closing its
// connection, the object's copies of name and address, the time-outs the
// exchanges wait with, and every null argument of the scanner API.
#include <functional>

#include "bluefin/framing.h"
#include "framework/v_support.h"
#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

using DeviceTest = ScannerTest;

TEST_F(DeviceTest, EchoFailuresFailTheOpeningAndCloseTheConnection) {
  const auto echo = On(Command::kEcho);
  const wchar_t *kLength = L"Response length is different from request length";
  const struct {
    const char *szCase;
    std::vector<Fault> faults;
    VResult code;
    const wchar_t *szMessage;
  } cases[] = {
      // clang-format off
      {"longer",            {Fault::PayloadLength(echo, 17)},                              V_E_FAILED,  kLength},
      {"shorter",           {Fault::PayloadLength(echo, 15)},                              V_E_FAILED,  kLength},
      {"pattern byte 14",   {Fault::WrongEcho(echo, 14)},                                  V_E_FAILED,  L"Invalid response from echo command"},
      {"under another key", {Fault::ForeignKey(echo, Key{}), Fault::StrayFrames(echo, 3)}, V_E_FAILED,  L"Cannot get response for sent command"},
      {"silent",            {Fault::Silence(echo)},                                        V_E_TIMEOUT, L"Timeout while reading from bluetooth socket"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Inject(c.faults);
    if (c.code == V_E_TIMEOUT) {  // the send's wait is ready, the read's runs out at once
      Seam().Script("wait", Gives(1));
      Seam().Script("wait", Gives(0));
    }
    EXPECT_TRUE(Gave(Open(), c.code, c.szMessage));
    EXPECT_EQ(device, nullptr);
    // The scanner serves one connection at a time: it answers again only if
    // the failed opening closed its own.
    EXPECT_EQ(Open(), V_OK);
    Close();
  }
}

TEST_F(DeviceTest, OpensUnderTheDefaultKeyWithOneAndThreeSecondWaits) {
  ASSERT_EQ(Open(), V_OK);
  EXPECT_EQ(Codes(), std::vector<int>{0x01});
  EXPECT_EQ(emulator->Transcript()[0].key, kDefaultKey);
  EXPECT_EQ(emulator->Transcript()[0].arguments, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  EXPECT_FALSE(IsSecure());
  const std::vector<vdm::test::PlatformCall> waits = Seam().CallsNamed("wait");
  ASSERT_FALSE(waits.empty());
  for (const vdm::test::PlatformCall &wait : waits) {
    EXPECT_EQ(wait.limit.seconds * 1000 + wait.limit.microseconds / 1000,
              wait.readiness == Readiness::kWritable ? 1000u : 3000u);
  }

  // Each caller gets a string of its own.
  vfw::Handle first;
  vfw::Handle second;
  vfw::Handle name;
  ASSERT_EQ(BlueFinGetAddress(device, first.put()), V_OK);
  first.reset();
  ASSERT_EQ(BlueFinGetAddress(device, second.put()), V_OK);
  ASSERT_EQ(BlueFinGetName(device, name.put()), V_OK);
  EXPECT_EQ(vfw::ToUtf8(vfw::ToWString(second.get())), address);
  EXPECT_EQ(vfw::ToWString(name.get()), L"Scanner");

  vfw::Handle type;
  const wchar_t *typeName = nullptr;
  ASSERT_EQ(VObjectGetType(device, type.put()), V_OK);
  ASSERT_EQ(VTypeGetNameW(type.get(), &typeName), V_OK);
  EXPECT_STREQ(typeName, L"BlueFinDevice");
}

TEST(ScannerApi, NullArgumentsAreRefusedByName) {
  HVObject h = reinterpret_cast<HVObject>(&h);  // never reached: an earlier argument is null
  VUInt8 key[32] = {};
  const std::pair<std::function<VResult()>, const wchar_t *> cases[] = {
      // clang-format off
      {[]  { return BlueFinCreate(nullptr, nullptr); },                                           L"hBluetoothDevice"},
      {[&] { return BlueFinCreate(h, nullptr); },                                                 L"phBlueFin"},
      {[]  { return BlueFinEcho(nullptr); },                                                      L"hBlueFin"},
      {[]  { return BlueFinDispose(nullptr); },                                                   L"hObject"},
      {[]  { return BlueFinGetName(nullptr, nullptr); },                                          L"hBlueFin"},
      {[]  { return BlueFinGetAddress(nullptr, nullptr); },                                       L"hBlueFin"},
      {[]  { return BlueFinSetProgressCallback(nullptr, nullptr, nullptr); },                     L"hBlueFin"},
      {[]  { return BlueFinDeviceTypeOf(nullptr); },                                              L"phType"},
      {[]  { return BlueFinDeviceTypeInit(nullptr); },                                            L"ppType"},
      {[]  { return BlueFinGetDeviceInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }, L"hBlueFin"},
      {[]  { return BlueFinGetStatus(nullptr, nullptr, nullptr, nullptr, nullptr); },             L"hBlueFin"},
      {[]  { return BlueFinSetStatus(nullptr, 0); },                                              L"hBlueFin"},
      {[&] { return BlueFinSetKey(nullptr, key, 32); },                                           L"hBlueFin"},
      {[&] { return BlueFinSetKey(h, nullptr, 16); },                                             L"pKey"},
      {[]  { return BlueFinSetRandomKey(nullptr); },                                              L"hBlueFin"},
      {[]  { return BlueFinRestoreDefaultKey(nullptr); },                                         L"hBlueFin"},
      {[]  { return BlueFinCreateImage(nullptr); },                                               L"phImage"},
      {[]  { return BlueFinGetImage(nullptr, nullptr); },                                         L"hBlueFin"},
      {[&] { return BlueFinGetImage(h, nullptr); },                                               L"phImage"},
      {[&] { return BlueFinSendCommand(nullptr, key, 1); },                                       L"hBlueFin"},
      {[&] { return BlueFinSendCommand(h, nullptr, 1); },                                         L"pCmd"},
      // clang-format on
  };
  for (const auto &[call, parameter] : cases) {
    EXPECT_TRUE(Gave(call(), V_E_ARGUMENT_NULL, (std::wstring(parameter) + L" is NULL").c_str(), parameter))
        << vfw::ToUtf8(parameter);
  }
}

}  // namespace
}  // namespace vdm::bluefin::test
