#include "bluefin/exchange.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "bluefin/framing.h"

namespace vdm::bluefin {

VResult ExchangeShortCommand(HVBlueFin hBlueFin, Command command, std::span<const VUInt8> arguments,
                             std::span<VUInt8> response) {
  assert(arguments.size() < static_cast<std::size_t>(kShortCommandBufferSize));
  std::array<VUInt8, kShortCommandBufferSize> buffer{};
  buffer[0] = CodeOf(command);
  std::copy(arguments.begin(), arguments.end(), buffer.begin() + 1);
  const VResult result =
      BlueFinSendCommand(hBlueFin, buffer.data(), static_cast<VInt32>(1 + arguments.size()));
  if (VFailed(result)) {
    return result;
  }
  return BlueFinReceiveResponse(hBlueFin, CodeOf(command), response.data(),
                                static_cast<VInt32>(response.size()));
}

}  // namespace vdm::bluefin
