// The "XX:XX:XX:XX:XX:XX" address text, converted in plain code for the
// links whose platform has no Bluetooth address conversion of its own (BlueZ,
// the emulated links). Each backend reports a fault with its platform's own
// error code.
#ifndef VDM_BLUETOOTH_PLATFORM_ADDRESS_TEXT_H
#define VDM_BLUETOOTH_PLATFORM_ADDRESS_TEXT_H

#include "bluetooth/v_bluetooth.h"

namespace vdm::platform {

enum class TextFault {
  kNone,
  kInvalid,  // text that is no address, or a record that holds none
  kNoRoom,   // the text buffer is too small
};

// Fills a zeroed record of the Bluetooth family with the address; nothing
// else of the record is set.
TextFault AddressFromText(const wchar_t *szText, VBluetoothSocketAddress *pAddress);
// *pLength: the capacity of szText on entry, the count written (the
// terminating zero included) on success.
TextFault AddressToText(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength);

}  // namespace vdm::platform

#endif  // VDM_BLUETOOTH_PLATFORM_ADDRESS_TEXT_H
