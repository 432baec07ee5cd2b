#include "tools/hints.h"

#include <cerrno>
#include <optional>
#include <string_view>

namespace bluefin::tool {
namespace {

constexpr unsigned kRadio = 1u << static_cast<unsigned>(Link::kRadio);
constexpr unsigned kEmulated = 1u << static_cast<unsigned>(Link::kEmulated);

struct HintRule {
  VResult code;
  int platformCode;  // 0: any
  const char *call;  // null: any
  unsigned links;
  std::optional<Stage> stage;  // none: any
  const char *text;            // "{address}" stands for the scanner's address
};

// The errno values are Linux's, as BlueZ and the emulated link report them.
// A scanner without the Serial Port service is refused by the service
// search like a connect to a channel nobody listens on, so on the radio
// ECONNREFUSED at connect means the wrong device.
constexpr HintRule kRules[] = {
    {V_E_WIN32, EAFNOSUPPORT, "socket", kRadio, std::nullopt,
     "This system has no Bluetooth (the kernel offers no Bluetooth sockets): use a computer with a "
     "Bluetooth adapter, or run `bluefin capture` without --address to try the built-in emulator."},
    {V_E_WIN32, EHOSTUNREACH, nullptr, kRadio, std::nullopt,
     "No Bluetooth adapter is up: plug one in, or power it on with `bluetoothctl power on`."},
    {V_E_WIN32, EACCES, nullptr, kRadio, std::nullopt,
     "The scanner refused the connection because it is not paired with this computer: pair and trust it "
     "with `bluetoothctl pair {address}` and `bluetoothctl trust {address}`, then try again."},
    {V_E_WIN32, EHOSTDOWN, nullptr, kRadio, std::nullopt,
     "The scanner at {address} did not answer: check that it is switched on and within a few metres, then "
     "try again."},
    {V_E_WIN32, ETIMEDOUT, nullptr, kRadio, std::nullopt,
     "The scanner at {address} did not answer: check that it is switched on and within a few metres, then "
     "try again."},
    {V_E_WIN32, ECONNREFUSED, "connect", kRadio, std::nullopt,
     "The device at {address} offers no Serial Port service, so it is not a BlueFin scanner: check the "
     "address (`bluefin devices` lists the devices that offer one)."},
    {V_E_WIN32, ECONNREFUSED, "connect", kEmulated, std::nullopt,
     "No emulated scanner listens at {address}: start `bluefin emulate --address {address}` in another "
     "terminal first."},
    {V_E_TIMEOUT, 0, nullptr, kRadio, Stage::kConnecting,
     "The scanner did not answer the opening exchange: if a program ended without giving it back, it is "
     "still on that program's key; switch the scanner off and on, then try again."},
    {V_E_TIMEOUT, 0, nullptr, kEmulated, Stage::kConnecting,
     "The emulated scanner did not answer the opening exchange: if a program ended without giving it back, "
     "it is still on that program's key; power-cycle it with `kill -USR1` to its `bluefin emulate` "
     "process, then try again."},
    {V_E_TIMEOUT, 0, nullptr, kRadio, Stage::kCapturing,
     "The scanner stopped answering: check that it is switched on and within a few metres, then try again."},
};

std::string Fill(std::string_view text, const std::string &address) {
  constexpr std::string_view kAddress = "{address}";
  std::string out;
  for (std::size_t at = 0;;) {
    const std::size_t next = text.find(kAddress, at);
    out.append(text.substr(at, next - at));
    if (next == std::string_view::npos) {
      return out;
    }
    out += address;
    at = next + kAddress.size();
  }
}

bool Matches(const HintRule &rule, const Failure &failure, const HintContext &context) {
  return rule.code == failure.code && (rule.platformCode == 0 || rule.platformCode == failure.platformCode) &&
         (rule.call == nullptr || failure.call == rule.call) &&
         (rule.links & (1u << static_cast<unsigned>(context.link))) != 0 &&
         (!rule.stage || *rule.stage == context.stage);
}

}  // namespace

std::string HintFor(const Failure &failure, const HintContext &context) {
  for (const HintRule &rule : kRules) {
    if (Matches(rule, failure, context)) {
      return Fill(rule.text, context.address);
    }
  }
  return std::string();
}

}  // namespace bluefin::tool
