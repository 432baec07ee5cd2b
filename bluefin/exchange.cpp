#include "bluefin/exchange.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace bluefin {

VResult ExchangeShortCommand(BlueFinDevice *pDevice, Command command, std::span<const VUInt8> arguments,
                             std::span<VUInt8> response) {
  assert(arguments.size() < static_cast<std::size_t>(kShortCommandBufferSize));
  std::array<VUInt8, kShortCommandBufferSize> buffer{};
  buffer[0] = CodeOf(command);
  std::copy(arguments.begin(), arguments.end(), buffer.begin() + 1);
  const VResult result =
      BlueFinSendCommand(pDevice, buffer.data(), static_cast<VInt32>(1 + arguments.size()));
  if (VFailed(result)) {
    return result;
  }
  return BlueFinReceiveResponse(pDevice, CodeOf(command), response.data(),
                                static_cast<VInt32>(response.size()));
}

}  // namespace bluefin
