// Windows' Bluetooth sockets faked over Wine's Winsock, which has neither
// AF_BTH nor its address conversions. Install() patches a loaded module's
// imports of socket, connect, WSAStringToAddressW and WSAAddressToStringW;
// the fakes take the Bluetooth calls and pass every other one to Winsock,
// and every other import stays Winsock's own.
//
// The fakes behave as Microsoft documents the calls for AF_BTH: an RFCOMM
// stream socket; a connect to a SOCKADDR_BTH (30 bytes, family 32) whose
// zero port makes the stack find the channel by the service class; the
// errors the connect documents (WSAETIMEDOUT for a page time-out, WSAEACCES
// for failed authentication, WSAEHOSTDOWN when RFCOMM answers DM, and
// WSAEADDRNOTAVAIL when the device has no service of the class);
// WSAAddressToStringW's "(XX:XX:XX:XX:XX:XX)", refused with WSAEFAULT unless
// the buffer holds 40 characters. Microsoft does not list the texts
// WSAStringToAddressW takes for AF_BTH: the fake takes six hexadecimal
// pairs separated by colons and fills the address alone (the service class
// zero, port 0, missing parts defaulting to zero as for every family).
//
// A connected socket is a loopback TCP stream that a relay thread carries
// to the scanner emulator serving the channel, byte for byte, so that a test
// can reset it in the middle of a capture.
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
// The device answering at the address, until Clear.
void AddDevice(std::uint64_t address, const FakeRadioDevice &device);
// Forgets the devices and the connects seen; joins the relays, whose
// streams must have ended.
void Clear();
// Every SOCKADDR_BTH a Bluetooth socket was connected to, as 30 raw bytes.
std::vector<std::vector<std::uint8_t>> Connects();
// Resets the stream connected last, and returns once the reset has reached
// the module's socket. Wine reports a reset to recv as the end of the stream
// (its server takes the socket's error first), so a test resets between two
// exchanges, where the module's next send meets it as it would on Windows.
void ResetNow();

}  // namespace fake_bluetooth

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_FAKE_WINSOCK_BLUETOOTH_H
