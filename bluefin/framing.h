/*
 * One exchange's two halves on a device's connection: a command frame out,
 * and the response frame with the command's response code back. Private to
 * bluefin/ and its own tests; the commands in bluefin.h are built on them.
 */
#ifndef BLUEFIN_FRAMING_H
#define BLUEFIN_FRAMING_H

#include "bluefin/bluefin.h"

// Sends length command bytes (1 to 43) under the device's key.
VResult BlueFinSendCommand(HVBlueFin hBlueFin, const VUInt8 *pCmd, VInt32 length);
// Receives the answer to the command with this code into pBuffer, whose
// size is capacity, and decrypts it there. Returns the payload length P
// (1 or more) on success.
VResult BlueFinReceiveResponse(HVBlueFin hBlueFin, VUInt8 commandCode, VUInt8 *pBuffer, VInt32 capacity);

#endif  // BLUEFIN_FRAMING_H
