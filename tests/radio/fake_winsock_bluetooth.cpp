#include "tests/radio/fake_winsock_bluetooth.h"

#include <ws2tcpip.h>

#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

#include "bluetooth/platform/emulated_link.h"

namespace vdm::radio::test {
namespace {

// WSAAddressToStringW refuses a Bluetooth address a buffer of fewer
// characters, although the text is 20 long with its terminator.
constexpr DWORD kAddressTextCapacity = 40;
// The length Windows reports for the bracketed text, which the module
// checks for before it takes the brackets off.
constexpr DWORD kBracketedTextLength = 38;
constexpr int kAddressBytes = 6;

// Winsock's own functions, as every caller but the patched module reaches them.
struct Winsock {
  decltype(&::socket) socket = ::socket;
  decltype(&::connect) connect = ::connect;
  decltype(&::WSAStringToAddressW) stringToAddress = ::WSAStringToAddressW;
  decltype(&::WSAAddressToStringW) addressToString = ::WSAAddressToStringW;
};
const Winsock kWinsock;

// One connected stream: the module's socket, the relay's end of it, the
// scanner's stream, and a datagram socket that sends to itself to wake the
// relay for a reset.
struct RelayLink {
  SOCKET module = INVALID_SOCKET;
  SOCKET host = INVALID_SOCKET;
  SOCKET scanner = INVALID_SOCKET;
  SOCKET wake = INVALID_SOCKET;
  bool reset = false;
  std::thread thread;
};

struct State {
  std::mutex mutex;
  std::condition_variable resetDone;
  std::set<SOCKET> bluetoothSockets;
  std::map<std::uint64_t, FakeRadioDevice> devices;
  std::vector<std::vector<std::uint8_t>> connects;
  std::vector<std::unique_ptr<RelayLink>> relays;
};

State &Shared() {
  static State state;
  return state;
}

int Fail(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

bool SendAll(SOCKET socket, const char *bytes, int size) {
  while (size > 0) {
    const int sent = send(socket, bytes, size, 0);
    if (sent <= 0) {
      return false;
    }
    bytes += sent;
    size -= sent;
  }
  return true;
}

void Relay(RelayLink *link) {
  char buffer[4096];
  const auto pump = [&buffer](SOCKET from, SOCKET to) {
    const int got = recv(from, buffer, sizeof(buffer), 0);
    return got > 0 && SendAll(to, buffer, got);
  };
  for (;;) {
    fd_set reads;
    FD_ZERO(&reads);
    FD_SET(link->host, &reads);
    FD_SET(link->scanner, &reads);
    FD_SET(link->wake, &reads);
    if (select(0, &reads, nullptr, nullptr, nullptr) == SOCKET_ERROR) {
      break;
    }
    if (FD_ISSET(link->wake, &reads)) {
      // A zero linger makes the close a reset.
      const linger abort{1, 0};
      setsockopt(link->host, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort), sizeof(abort));
      closesocket(link->host);
      closesocket(link->scanner);
      std::lock_guard lock(Shared().mutex);
      link->reset = true;
      Shared().resetDone.notify_all();
      return;
    }
    if ((FD_ISSET(link->host, &reads) && !pump(link->host, link->scanner)) ||
        (FD_ISSET(link->scanner, &reads) && !pump(link->scanner, link->host))) {
      break;
    }
  }
  closesocket(link->host);
  closesocket(link->scanner);
}

sockaddr_in Loopback(u_short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Connects socket, through a relay, to the scanner on the link name; false
// when nobody listens there.
bool ConnectThroughRelay(SOCKET socket, const std::string &linkName) {
  auto link = std::make_unique<RelayLink>();
  link->module = socket;
  link->scanner = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in where = Loopback(EmulatedLinkPort(linkName));
  if (kWinsock.connect(link->scanner, reinterpret_cast<const sockaddr *>(&where), sizeof(where)) ==
      SOCKET_ERROR) {
    closesocket(link->scanner);
    return false;
  }
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in any = Loopback(0);
  int length = sizeof(any);
  bind(listener, reinterpret_cast<const sockaddr *>(&any), sizeof(any));
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr *>(&any), &length);
  kWinsock.connect(socket, reinterpret_cast<const sockaddr *>(&any), sizeof(any));
  link->host = accept(listener, nullptr, nullptr);
  closesocket(listener);

  link->wake = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in self = Loopback(0);
  length = sizeof(self);
  bind(link->wake, reinterpret_cast<const sockaddr *>(&self), sizeof(self));
  getsockname(link->wake, reinterpret_cast<sockaddr *>(&self), &length);
  kWinsock.connect(link->wake, reinterpret_cast<const sockaddr *>(&self), sizeof(self));

  link->thread = std::thread(Relay, link.get());
  std::lock_guard lock(Shared().mutex);
  Shared().relays.push_back(std::move(link));
  return true;
}

SOCKET WSAAPI FakeSocket(int family, int type, int protocol) {
  if (family != AF_BTH) {
    return kWinsock.socket(family, type, protocol);
  }
  if (type != SOCK_STREAM || protocol != BTHPROTO_RFCOMM) {
    WSASetLastError(type != SOCK_STREAM ? WSAESOCKTNOSUPPORT : WSAEPROTONOSUPPORT);
    return INVALID_SOCKET;
  }
  const SOCKET socket = kWinsock.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket != INVALID_SOCKET) {
    std::lock_guard lock(Shared().mutex);
    Shared().bluetoothSockets.insert(socket);
  }
  return socket;
}

int WSAAPI FakeConnect(SOCKET socket, const sockaddr *name, int nameLength) {
  State &state = Shared();
  std::unique_lock lock(state.mutex);
  if (state.bluetoothSockets.count(socket) == 0) {
    lock.unlock();
    return kWinsock.connect(socket, name, nameLength);
  }
  if (name == nullptr || nameLength < static_cast<int>(sizeof(SOCKADDR_BTH))) {
    return Fail(WSAEFAULT);
  }
  SOCKADDR_BTH address;
  std::memcpy(&address, name, sizeof(address));
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(name);
  state.connects.emplace_back(bytes, bytes + sizeof(address));
  if (address.addressFamily != AF_BTH) {
    return Fail(WSAEAFNOSUPPORT);
  }
  const auto found = state.devices.find(address.btAddr);
  if (found == state.devices.end()) {
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
  const std::string linkName = served != device.channels.end() ? served->second : std::string();
  lock.unlock();
  if (linkName.empty() || !ConnectThroughRelay(socket, linkName)) {
    return Fail(WSAEHOSTDOWN);  // RFCOMM answered DM: nothing on the channel
  }
  return 0;
}

// The hexadecimal digit's value in either case; -1 for any other character.
int HexDigit(wchar_t c) {
  constexpr std::wstring_view kDigits = L"0123456789abcdef";
  const std::size_t digit = kDigits.find(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))));
  return digit != std::wstring_view::npos ? static_cast<int>(digit) : -1;
}

// "XX:XX:XX:XX:XX:XX".
bool ParseAddress(std::wstring_view text, std::uint64_t *pAddress) {
  if (text.size() != kAddressBytes * 3 - 1) {
    return false;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0 || (i + 2 < text.size() && text[i + 2] != L':')) {
      return false;
    }
    value = value << 8 | static_cast<std::uint64_t>(high << 4 | low);
  }
  *pAddress = value;
  return true;
}

INT WSAAPI FakeStringToAddress(LPWSTR text, INT family, LPWSAPROTOCOL_INFOW protocol, LPSOCKADDR address,
                               LPINT pLength) {
  if (family != AF_BTH) {
    return kWinsock.stringToAddress(text, family, protocol, address, pLength);
  }
  if (address == nullptr || pLength == nullptr) {
    return Fail(WSAEFAULT);
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
    return kWinsock.addressToString(address, addressLength, protocol, text, pLength);
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
// The PE32 and PE32+ layouts come from the build's headers.
int Install(HMODULE module) {
  const std::pair<const char *, ULONG_PTR> replacements[] = {
      {"socket", Address(FakeSocket)},
      {"connect", Address(FakeConnect)},
      {"WSAStringToAddressW", Address(FakeStringToAddress)},
      {"WSAAddressToStringW", Address(FakeAddressToString)},
  };
  const HMODULE winsock = GetModuleHandleW(L"ws2_32.dll");
  auto *const base = reinterpret_cast<BYTE *>(module);
  const auto *nt =
      reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  int patched = 0;
  for (auto *descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
       imports.VirtualAddress != 0 && descriptor->Name != 0; ++descriptor) {
    for (auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + descriptor->FirstThunk);
         slot->u1.Function != 0; ++slot) {
      for (const auto &[name, replacement] : replacements) {
        DWORD protection = 0;
        if (slot->u1.Function != Address(GetProcAddress(winsock, name)) ||
            !VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection)) {
          continue;
        }
        slot->u1.Function = replacement;
        VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
        ++patched;
      }
    }
  }
  return patched;
}

void AddDevice(std::uint64_t address, const FakeRadioDevice &device) {
  std::lock_guard lock(Shared().mutex);
  Shared().devices[address] = device;
}

void Clear() {
  std::vector<std::unique_ptr<RelayLink>> relays;
  {
    std::lock_guard lock(Shared().mutex);
    relays.swap(Shared().relays);
    Shared().devices.clear();
    Shared().connects.clear();
    Shared().bluetoothSockets.clear();
  }
  for (auto &link : relays) {
    link->thread.join();
    closesocket(link->wake);
  }
}

std::vector<std::vector<std::uint8_t>> Connects() {
  std::lock_guard lock(Shared().mutex);
  return Shared().connects;
}

void ResetNow() {
  RelayLink *link = nullptr;
  {
    std::unique_lock lock(Shared().mutex);
    if (Shared().relays.empty()) {
      return;
    }
    link = Shared().relays.back().get();
    lock.unlock();
    send(link->wake, "!", 1, 0);
    lock.lock();
    Shared().resetDone.wait(lock, [link] { return link->reset; });
  }
  // Until the reset has reached the module's socket.
  fd_set reads;
  FD_ZERO(&reads);
  FD_SET(link->module, &reads);
  select(0, &reads, nullptr, nullptr, nullptr);
}

}  // namespace fake_bluetooth

}  // namespace vdm::radio::test
