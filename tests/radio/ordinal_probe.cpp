// A DLL that imports Winsock's socket by ordinal, as linkers often import
// Winsock: the import patch must find such a slot too.
#include <winsock2.h>
#include <ws2bth.h>

extern "C" __declspec(dllexport) SOCKET WINAPI ProbeOpenRfcommSocket() {
  return socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
}
