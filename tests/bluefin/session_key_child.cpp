// Opens a device on the scanner at argv[1] and switches it to a session key,
// as a fresh process does, then puts the default key back; the parent test
// reads the key from the scanner's transcript.
#include <string>

#include "bluefin/bluefin.h"

int main(int argc, char **argv) {
  if (argc != 2)
    return 2;
  const std::string text = argv[1];
  const std::wstring address(text.begin(), text.end());
  HVString hName = nullptr;
  HVString hAddress = nullptr;
  HVBluetoothDevice hBluetoothDevice = nullptr;
  HVBlueFin hBlueFin = nullptr;
  // A host plugs the module before any socket is made; this program stands
  // in for both and starts the socket library itself.
  VResult result = VBluetoothSocketStartup();
  if (VSucceeded(result))
    result = VStringCreateFromStrOrCharsW(L"Scanner", -1, &hName);
  if (VSucceeded(result))
    result = VStringCreateFromStrOrCharsW(address.c_str(), -1, &hAddress);
  if (VSucceeded(result))
    result = VBluetoothDeviceCreateFromString(hName, hAddress, &hBluetoothDevice);
  if (VSucceeded(result))
    result = BlueFinCreate(hBluetoothDevice, &hBlueFin);
  if (VSucceeded(result))
    result = BlueFinSetRandomKey(hBlueFin);
  if (VSucceeded(result))
    result = BlueFinRestoreDefaultKey(hBlueFin);
  VObjectSet(nullptr, &hBlueFin);
  VObjectSet(nullptr, &hBluetoothDevice);
  VStringSet(nullptr, &hAddress);
  VStringSet(nullptr, &hName);
  return VSucceeded(result) ? 0 : 1;
}
