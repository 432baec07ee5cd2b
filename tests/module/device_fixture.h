// A plugged module with scanner emulators to create devices on.
#ifndef TESTS_MODULE_DEVICE_FIXTURE_H
#define TESTS_MODULE_DEVICE_FIXTURE_H

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <list>
#include <mutex>
#include <vector>

#include "emulator/emulator.h"
#include "module_fixture.h"

namespace vdm::test {

namespace emu = bluefin::emu;

inline constexpr std::uint8_t kEcho = 0x01, kIdentity = 0x03, kSetKey = 0x05, kGetStatus = 0x09,
                              kSetStatus = 0x0C, kImagePart = 0x11;

std::vector<std::uint8_t> Codes(const std::vector<emu::TranscriptEntry> &transcript);

class DeviceTest : public ModuleTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An address no other test process uses at the same time: abstract
  // socket names are shared by the whole machine.
  static std::string NewAddress();
  emu::Emulator &StartScanner(emu::Options options = {});

  // Slot 39 with the given parameters; a null text leaves it out.
  VResult Create(const wchar_t *displayName, const std::string *address, HVDevice *phDevice,
                 void *hostParam = nullptr);
  HVDevice CreateOn(const emu::Emulator &scanner, const wchar_t *displayName = L"Scanner");
  std::wstring Property(VDeviceManagerGetStringProc slot, HVDevice hDevice);

  std::vector<VInt32> Sleeps();

  std::list<emu::Emulator> scanners_;  // stable addresses
  std::list<std::string> addresses_;

 private:
  static void V_CALL RecordSleep(VInt32 milliseconds, void *context);
  std::mutex sleepsMutex_;
  std::vector<VInt32> sleeps_;
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_DEVICE_FIXTURE_H
