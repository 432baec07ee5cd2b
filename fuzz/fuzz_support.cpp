#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "fuzz/seam_peer.h"

namespace vdm::fuzz {

void Finding(const char *what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what);
  std::abort();
}

void ExpectRecorded(VResult result) {
  if (VFailed(result)) {
    Expect(vfw::GetLastError().code == result, "a failure reached the caller without its last error");
  }
}

Footprint Footprint::Now() {
  return {VTestGetLiveObjectCount(), VTestGetOutstandingAllocationCount(), VTestGetLiveEventCount(),
          VTestGetLiveMonitorCount()};
}

namespace {

HVBluetoothDevice gBluetoothDevice = nullptr;

}  // namespace

void PreparePeer() {
  static const bool prepared = [] {
    SeamPeer::Instance().Install();
    SeamPeer::Instance().Reset(emu::ScannerConfig{});
    gBluetoothDevice = [] {
      HVBluetoothDevice hDevice = nullptr;
      const vfw::Handle name = vfw::MakeString(L"Scanner");
      const vfw::Handle address = vfw::MakeString(L"00:11:22:33:44:55");
      Expect(VSucceeded(VBluetoothDeviceCreateFromString(name.get(), address.get(), &hDevice)),
             "the scanner's address was refused");
      return hDevice;
    }();
    // The first device registers the object types; later ones allocate
    // only what they free again.
    SeamPeer::Instance().Restart();
    HVBlueFin hBlueFin = nullptr;
    Expect(VSucceeded(BlueFinCreate(gBluetoothDevice, &hBlueFin)), "no device on a well-behaved scanner");
    VObjectSet(nullptr, &hBlueFin);
    return true;
  }();
  (void)prepared;
}

HVBlueFin OpenDeviceOnPeer() {
  PreparePeer();
  SeamPeer::Instance().Restart();
  HVBlueFin hBlueFin = nullptr;
  Expect(VSucceeded(BlueFinCreate(gBluetoothDevice, &hBlueFin)), "no device on a well-behaved scanner");
  return hBlueFin;
}

}  // namespace vdm::fuzz
