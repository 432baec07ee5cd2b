#include "tests/radio/fake_winsock_bluetooth.h"

#include <ws2tcpip.h>

#include <cstring>
#include <cwchar>
#include <mutex>
#include <set>
#include <span>
#include <string_view>
#include <utility>

#include "bluetooth/platform/emulated_link.h"

namespace vdm::radio::test {
namespace {

// Windows wants room for 40 characters and reports 38 for the bracketed
// text, 20 long with its terminator; the module checks for the 38.
constexpr DWORD kAddressTextCapacity = 40;
constexpr DWORD kBracketedTextLength = 38;
constexpr int kAddressBytes = 6;

// The fakes call Winsock itself: only the module's imports are patched.
struct State {
  std::mutex mutex;
  std::set<SOCKET> bluetoothSockets;
  std::map<std::uint64_t, FakeRadioDevice> devices;
  std::vector<std::vector<std::uint8_t>> connects;
  bool resetArmed = false;
};

State gState;

int Fail(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

SOCKET WSAAPI FakeSocket(int family, int type, int protocol) {
  if (family != AF_BTH) {
    return ::socket(family, type, protocol);
  }
  if (type != SOCK_STREAM || protocol != BTHPROTO_RFCOMM) {
    WSASetLastError(type != SOCK_STREAM ? WSAESOCKTNOSUPPORT : WSAEPROTONOSUPPORT);
    return INVALID_SOCKET;
  }
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket != INVALID_SOCKET) {
    std::lock_guard lock(gState.mutex);
    gState.bluetoothSockets.insert(socket);
  }
  return socket;
}

int WSAAPI FakeConnect(SOCKET socket, const sockaddr *name, int nameLength) {
  std::unique_lock lock(gState.mutex);
  if (gState.bluetoothSockets.count(socket) == 0) {
    lock.unlock();
    return ::connect(socket, name, nameLength);
  }
  if (name == nullptr || nameLength < static_cast<int>(sizeof(SOCKADDR_BTH))) {
    return Fail(WSAEFAULT);
  }
  SOCKADDR_BTH address;
  std::memcpy(&address, name, sizeof(address));
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(name);
  gState.connects.emplace_back(bytes, bytes + sizeof(address));
  if (address.addressFamily != AF_BTH) {
    return Fail(WSAEAFNOSUPPORT);
  }
  const auto found = gState.devices.find(address.btAddr);
  if (found == gState.devices.end()) {
    return Fail(WSAETIMEDOUT);  // nobody answers the page
  }
  FakeRadioDevice &device = found->second;
  if (!device.connectErrors.empty()) {
    const int error = device.connectErrors.front();
    device.connectErrors.erase(device.connectErrors.begin());
    return Fail(error);
  }
  ULONG channel = address.port;
  if (channel == 0) {
    // The stack's own SDP search for the service class.
    GuidBytes serviceClass;
    std::memcpy(serviceClass.data(), &address.serviceClassId, serviceClass.size());
    const auto service = device.services.find(serviceClass);
    if (service == device.services.end()) {
      return Fail(WSAEADDRNOTAVAIL);
    }
    channel = service->second;
  }
  if (channel < 1 || channel > 30) {
    return Fail(WSAEINVAL);
  }
  const auto served = device.channels.find(static_cast<std::uint8_t>(channel));
  if (served == device.channels.end()) {
    return Fail(WSAEHOSTDOWN);  // RFCOMM answered DM: nothing on the channel
  }
  sockaddr_in scanner{};
  scanner.sin_family = AF_INET;
  scanner.sin_port = htons(EmulatedLinkPort(served->second));
  scanner.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  lock.unlock();
  if (::connect(socket, reinterpret_cast<const sockaddr *>(&scanner), sizeof(scanner)) == SOCKET_ERROR) {
    return Fail(WSAEHOSTDOWN);
  }
  return 0;
}

int WSAAPI FakeSend(SOCKET socket, const char *bytes, int size, int flags) {
  std::unique_lock lock(gState.mutex);
  if (gState.bluetoothSockets.count(socket) != 0 && std::exchange(gState.resetArmed, false)) {
    return Fail(WSAECONNRESET);
  }
  lock.unlock();
  return ::send(socket, bytes, size, flags);
}

// "XX:XX:XX:XX:XX:XX", in either case.
bool ParseAddress(std::wstring_view text, std::uint64_t *pAddress) {
  constexpr std::wstring_view kDigits = L"0123456789abcdef0123456789ABCDEF";
  if (text.size() != kAddressBytes * 3 - 1) {
    return false;
  }
  *pAddress = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t digit = kDigits.find(text[i]);
    if (i % 3 == 2 ? text[i] != L':' : digit == std::wstring_view::npos) {
      return false;
    }
    if (i % 3 != 2) {
      *pAddress = *pAddress << 4 | digit % 16;
    }
  }
  return true;
}

INT WSAAPI FakeStringToAddress(LPWSTR text, INT family, LPWSAPROTOCOL_INFOW protocol, LPSOCKADDR address,
                               LPINT pLength) {
  if (family != AF_BTH) {
    return ::WSAStringToAddressW(text, family, protocol, address, pLength);
  }
  if (*pLength < static_cast<INT>(sizeof(SOCKADDR_BTH))) {
    *pLength = sizeof(SOCKADDR_BTH);
    return Fail(WSAEFAULT);
  }
  SOCKADDR_BTH record{};
  if (text == nullptr || !ParseAddress(text, &record.btAddr)) {
    return Fail(WSAEINVAL);
  }
  record.addressFamily = AF_BTH;
  std::memcpy(address, &record, sizeof(record));
  *pLength = sizeof(record);
  return 0;
}

INT WSAAPI FakeAddressToString(LPSOCKADDR address, DWORD addressLength, LPWSAPROTOCOL_INFOW protocol,
                               LPWSTR text, LPDWORD pLength) {
  if (address == nullptr || addressLength < sizeof(USHORT) || address->sa_family != AF_BTH) {
    return ::WSAAddressToStringW(address, addressLength, protocol, text, pLength);
  }
  if (addressLength < sizeof(SOCKADDR_BTH) || pLength == nullptr) {
    return Fail(WSAEINVAL);
  }
  if (text == nullptr || *pLength < kAddressTextCapacity) {
    return Fail(WSAEFAULT);  // and the length is left as it was
  }
  SOCKADDR_BTH record;
  std::memcpy(&record, address, sizeof(record));
  const auto byte = [&record](int i) { return static_cast<unsigned>(record.btAddr >> (8 * i)) & 0xFF; };
  std::swprintf(text, kAddressTextCapacity, L"(%02X:%02X:%02X:%02X:%02X:%02X)", byte(5), byte(4), byte(3),
                byte(2), byte(1), byte(0));
  *pLength = kBracketedTextLength;
  return 0;
}

// void (*)() converts to and from any function pointer without a warning.
template <typename Function>
ULONG_PTR Address(Function function) {
  return reinterpret_cast<ULONG_PTR>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

namespace fake_bluetooth {

// Rewrites the slots of the module's import address table that hold one of
// the Winsock functions: whether imported by name or by ordinal, a slot is
// the function's if it is bound to the address Winsock gives for the name.
int Install(HMODULE module) {
  const std::pair<const char *, ULONG_PTR> replacements[] = {
      {"socket", Address(FakeSocket)},
      {"connect", Address(FakeConnect)},
      {"send", Address(FakeSend)},
      {"WSAStringToAddressW", Address(FakeStringToAddress)},
      {"WSAAddressToStringW", Address(FakeAddressToString)},
  };
  const HMODULE winsock = GetModuleHandleW(L"ws2_32.dll");
  auto *const base = reinterpret_cast<BYTE *>(module);
  const auto *nt =
      reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY &table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  const std::span slots(reinterpret_cast<ULONG_PTR *>(base + table.VirtualAddress),
                        table.Size / sizeof(ULONG_PTR));
  DWORD protection = 0;
  if (slots.empty() || !VirtualProtect(slots.data(), table.Size, PAGE_READWRITE, &protection)) {
    return 0;
  }
  int patched = 0;
  for (ULONG_PTR &slot : slots) {
    for (const auto &[name, replacement] : replacements) {
      if (slot == Address(GetProcAddress(winsock, name))) {
        slot = replacement;
        ++patched;
      }
    }
  }
  VirtualProtect(slots.data(), table.Size, protection, &protection);
  return patched;
}

void AddDevice(const std::string &address, const FakeRadioDevice &device) {
  std::uint64_t value = 0;
  ParseAddress(std::wstring(address.begin(), address.end()), &value);
  std::lock_guard lock(gState.mutex);
  gState.devices[value] = device;
}

void Clear() {
  std::lock_guard lock(gState.mutex);
  gState.devices.clear();
  gState.connects.clear();
  gState.bluetoothSockets.clear();
  gState.resetArmed = false;
}

std::vector<std::vector<std::uint8_t>> Connects() {
  std::lock_guard lock(gState.mutex);
  return gState.connects;
}

void ResetOnNextSend() {
  std::lock_guard lock(gState.mutex);
  gState.resetArmed = true;
}

}  // namespace fake_bluetooth

}  // namespace vdm::radio::test
