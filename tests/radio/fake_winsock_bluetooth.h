// Windows' Bluetooth sockets faked over Wine's Winsock, which has neither
// AF_BTH nor its address conversions: Install() patches a loaded module's
// imports of socket, connect, send and the two conversions, and the fakes
// pass every call that is not Bluetooth's on to Winsock. They answer as
// Microsoft documents the calls for AF_BTH (a zero port: the stack finds
// the channel by the service class; WSAAddressToStringW wants room for 40
// characters); WSAStringToAddressW takes "XX:XX:XX:XX:XX:XX". A connected
// socket is a loopback TCP stream to the scanner emulator.
#ifndef TESTS_RADIO_FAKE_WINSOCK_BLUETOOTH_H
#define TESTS_RADIO_FAKE_WINSOCK_BLUETOOTH_H

#include <winsock2.h>
#include <ws2bth.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vdm::radio::test {

using GuidBytes = std::array<std::uint8_t, 16>;  // a GUID's bytes in memory

// The Serial Port service class as SOCKADDR_BTH carries it.
inline constexpr GuidBytes kSerialPortGuid = {0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                              0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

struct FakeRadioDevice {
  std::map<GuidBytes, std::uint8_t> services;    // service class -> RFCOMM channel
  std::map<std::uint8_t, std::string> channels;  // channel -> the emulated link name it leads to
  std::vector<int> connectErrors;                // the next connects fail with these, in turn
};

namespace fake_bluetooth {

// Patches module's Winsock imports, in this process only; returns the slots
// rewritten.
int Install(HMODULE module);
// The device answering at the address ("XX:XX:XX:XX:XX:XX"), until Clear.
void AddDevice(const std::string &address, const FakeRadioDevice &device);
// Forgets the devices, the connects seen and any reset armed.
void Clear();
// Every SOCKADDR_BTH a Bluetooth socket was connected to, as 30 raw bytes.
std::vector<std::vector<std::uint8_t>> Connects();
// The next send on a Bluetooth socket finds the stream reset by the device
// (WSAECONNRESET).
void ResetOnNextSend();

}  // namespace fake_bluetooth

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_FAKE_WINSOCK_BLUETOOTH_H
