/*
 * One short command and its answer, the shape the status, identity and
 * image-part commands share.
 */
#ifndef BLUEFIN_EXCHANGE_H
#define BLUEFIN_EXCHANGE_H

#include <span>

#include "bluefin/bluefin.h"
#include "bluefin/protocol.h"

namespace vdm::bluefin {

// Sends the command's code followed by its arguments (one block in all) and
// receives the answer into response, whose size is the capacity. Returns
// the payload length, or the failure of the send or the receive unchanged.
VResult ExchangeShortCommand(HVBlueFin hBlueFin, Command command, std::span<const VUInt8> arguments,
                             std::span<VUInt8> response);

}  // namespace vdm::bluefin

#endif  // BLUEFIN_EXCHANGE_H
