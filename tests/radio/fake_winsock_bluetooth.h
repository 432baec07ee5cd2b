// Windows' Bluetooth sockets faked over Wine's Winsock, which has neither
// AF_BTH nor its address conversions. Install() patches a loaded module's
// imports of socket, connect, send and the two address conversions; the
// fakes take the Bluetooth calls and pass every other one to Winsock.
//
// The fakes behave as Microsoft documents the calls for AF_BTH: an RFCOMM
// stream socket; a 30-byte SOCKADDR_BTH whose zero port makes the stack
// find the channel by the service class; WSAETIMEDOUT for a page time-out,
// WSAEHOSTDOWN when RFCOMM answers DM, WSAEADDRNOTAVAIL when the device has
// no service of the class; "(XX:XX:XX:XX:XX:XX)" from WSAAddressToStringW,
// refused with WSAEFAULT unless the buffer holds 40 characters. Microsoft
// does not list the texts WSAStringToAddressW takes for AF_BTH: the fake
// takes six hexadecimal pairs separated by colons.
//
// A connected socket is a loopback TCP stream to the scanner emulator
// serving the channel.
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
