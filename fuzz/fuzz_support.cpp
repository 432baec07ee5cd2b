#include "fuzz/fuzz_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "framework/v_support.h"
#include "fuzz/seam_peer.h"

namespace vdm::fuzz {

void Expect(bool holds, const char *what) {
  if (!holds) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
  }
}

void ExpectRecorded(VResult result) {
  Expect(VSucceeded(result) || vfw::GetLastError().code == result,
         "a failure reached the caller without its last error");
}

void PreparePeer() {
  static const bool prepared = [] {
    SeamPeer::Instance().Install();
    SeamPeer::Instance().Use(emu::Scanner(emu::ScannerConfig{}));
    // The first device registers the object types; later ones allocate
    // only what they free again.
    HVBlueFin hBlueFin = OpenDeviceOnPeer(false);
    VObjectSet(nullptr, &hBlueFin);
    return true;
  }();
  (void)prepared;
}

HVBlueFin OpenDeviceOnPeer(bool secure) {
  static const HVBluetoothDevice hDevice = [] {
    HVBluetoothDevice hMade = nullptr;
    const vfw::Handle name = vfw::MakeString(L"Scanner");
    const vfw::Handle address = vfw::MakeString(L"00:11:22:33:44:55");
    Expect(VSucceeded(VBluetoothDeviceCreateFromString(name.get(), address.get(), &hMade)),
           "the scanner's address was refused");
    return hMade;
  }();
  SeamPeer::Instance().Restart();
  HVBlueFin hBlueFin = nullptr;
  Expect(VSucceeded(BlueFinCreate(hDevice, &hBlueFin)), "no device on a well-behaved scanner");
  Expect(!secure || VSucceeded(BlueFinRestoreDefaultKey(hBlueFin)),
         "a well-behaved scanner refused the default key");
  return hBlueFin;
}

VResult RunOperation(HVBlueFin hBlueFin, unsigned operation) {
  static constexpr std::array<VUInt8, 32> kKey = {1, 2, 3, 4, 5, 6, 7, 8};
  switch (operation) {
    case 0:
      return BlueFinEcho(hBlueFin);
    case 1: {
      char model[8] = {};
      VUInt32 serial = 0, value14 = 0;
      VUInt8 value12 = 0, value13 = 0;
      const VResult result = BlueFinGetDeviceInfo(hBlueFin, model, &serial, &value12, &value13, &value14);
      Expect(VFailed(result) || model[7] == '\0', "the model text came back unterminated");
      return result;
    }
    case 2: {
      VUInt32 flag12 = 0, flag13 = 0, ready = 0, value14 = 0;
      return BlueFinGetStatus(hBlueFin, &flag12, &flag13, &ready, &value14);
    }
    case 3:
      return BlueFinSetStatus(hBlueFin, 1);
    case 4:
      return BlueFinSetKey(hBlueFin, kKey.data(), static_cast<VInt32>(kKey.size()));
    case 5:
      return BlueFinSetRandomKey(hBlueFin);
    case 6:
      return BlueFinRestoreDefaultKey(hBlueFin);
    default: {
      HVImage hImage = nullptr;
      const VResult result = BlueFinGetImage(hBlueFin, &hImage);
      VObjectSet(nullptr, &hImage);
      return result;
    }
  }
}

}  // namespace vdm::fuzz
