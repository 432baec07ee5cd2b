// The module's hold on Windows Sockets, in a process where it is the only
// one: the scanner emulator runs in a process of its own (scanner_peer), so
// the module's clean-up at unplug would be the process's last. A device
// creation that is still talking to its scanner when the module is
// unplugged must keep its socket: it then fails with "not plugged" and
// gives the scanner its default key back on the way out.
#include <windows.h>

#include <gtest/gtest.h>
#include <v_devices.h>

#include <string>
#include <thread>

#include "framework/device_manager.h"
#include "framework/v_support.h"

namespace vdm::test {
namespace {

constexpr char kAddress[] = "0B:F1:00:00:5A:01";
constexpr int kSetStatus = 0x0C;  // the opening exchange's last command, after the key switch

// A child process with its stdin and stdout on pipes.
class Peer {
 public:
  explicit Peer(std::wstring commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    EXPECT_TRUE(CreatePipe(&childIn, &in_, &inherit, 0));
    EXPECT_TRUE(CreatePipe(&out_, &childOut, &inherit, 0));
    SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    EXPECT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process_))
        << "CreateProcessW: " << GetLastError();
    CloseHandle(childIn);
    CloseHandle(childOut);
  }
  ~Peer() {
    CloseInput();
    if (process_.hProcess && WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    CloseHandle(out_);
  }

  // The next line the peer prints, without its end; empty at its end.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(out_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
      if (c != '\r') {
        line += c;
      }
    }
    return line;
  }
  void WriteLine(const std::string &text) {
    const std::string line = text + "\n";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(in_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
  }
  void CloseInput() {
    if (in_) {
      CloseHandle(in_);
      in_ = nullptr;
    }
  }

 private:
  HANDLE in_ = nullptr;
  HANDLE out_ = nullptr;
  PROCESS_INFORMATION process_{};
};

TEST(SocketLibraryTest, ACreationThatOutlivesTheUnplugKeepsItsSocket) {
  Peer peer(L"\"" VDM_SCANNER_PEER_PATH L"\" " + std::wstring(kAddress, kAddress + sizeof(kAddress) - 1) +
            L" " + std::to_wstring(kSetStatus));
  ASSERT_EQ(peer.ReadLine(), "listening");

  std::unique_ptr<vfw::DeviceModule> module;
  ASSERT_EQ(vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, "VdmBlueFinModuleOf", &module), V_OK);
  ASSERT_EQ(module->Init(), V_OK);
  ASSERT_EQ(module->Plug(), V_OK);

  VResult created = V_OK;
  std::wstring message;
  HVDevice hDevice = nullptr;
  std::thread creator([&] {
    vfw::Handle bag;
    EXPECT_EQ(VPropertyBagCreate(bag.put()), V_OK);
    const std::wstring address(kAddress, kAddress + sizeof(kAddress) - 1);
    EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", address.c_str()), V_OK);
    created = module->Interface()->pCreateDevice(bag.get(), &hDevice, nullptr);
    message = vfw::GetLastError().message;
  });
  // The scanner has switched to the session key and holds its answer to
  // the last command of the opening exchange.
  EXPECT_EQ(peer.ReadLine(), "held");
  EXPECT_EQ(module->Unplug(), V_OK);
  peer.WriteLine("go");
  creator.join();
  EXPECT_EQ(created, V_E_INVALID_OPERATION);
  EXPECT_EQ(message, L"VdmBlueFin is not plugged");
  EXPECT_EQ(hDevice, nullptr);
  peer.CloseInput();
  EXPECT_EQ(peer.ReadLine(), "key default") << "the scanner was left on the session key";
}

}  // namespace
}  // namespace vdm::test
