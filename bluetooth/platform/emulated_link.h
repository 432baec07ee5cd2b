// The emulated link's naming rule, a contract with every program that plays
// a scanner on it (the emulator, test peers): a Linux abstract AF_UNIX
// stream socket named
//   "bluefin/" + address text + "/" + service class UUID
// with the address text as VBluetoothDeviceToString gives it
// ("00:11:22:33:44:55") and the UUID in lower-case 8-4-4-4-12 form
// ("00001101-0000-1000-8000-00805f9b34fb"). The name is the bytes after the
// leading NUL of sun_path, without a trailing NUL; the address length is
// offsetof(sockaddr_un, sun_path) + 1 + the name's length.
//
// Windows (and Wine, which has neither AF_BTH nor AF_UNIX) carries the link
// over TCP on 127.0.0.1 instead, at the port EmulatedLinkPort derives from
// that same name: 49152 + (32-bit FNV-1a hash of the name's bytes) mod 16384,
// a port in the dynamic range that stays the same for a given device and
// service class.
#ifndef VDM_BLUETOOTH_PLATFORM_EMULATED_LINK_H
#define VDM_BLUETOOTH_PLATFORM_EMULATED_LINK_H

#include <v_types.h>

#include <string>

// serviceClass is a GUID in its little-endian layout, as a
// VBluetoothSocketAddress carries it.
std::string EmulatedLinkName(const std::string &addressText, const VUInt8 serviceClass[16]);

// The loopback TCP port of a link name, for platforms without AF_UNIX.
VUInt16 EmulatedLinkPort(const std::string &name);

#endif  // VDM_BLUETOOTH_PLATFORM_EMULATED_LINK_H
