// Response frames as the module receives them: after a device was opened
// on a well-behaved scanner, one command goes out and the input is the whole
// byte stream that comes back, read in pieces of an input-chosen size. The
// stream is not answered for: whatever the bytes, the module must stay
// inside its buffers, fail with its own last error, and never accept an
// answer of the wrong size or code.
#include <cstdint>
#include <vector>

#include "bluefin/bluefin.h"
#include "bluefin/framing.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seam_peer.h"

using namespace vdm::fuzz;

namespace {

constexpr VUInt8 kCommandCodes[] = {0x01, 0x03, 0x05, 0x09, 0x0C, 0x11};
constexpr VInt32 kCapacities[] = {16, 256, 3096};

// A bare exchange: the frame layer alone (bluefin's private framing calls),
// with a buffer of the exact size so that any read past it is caught.
VResult Exchange(HVBlueFin hBlueFin, FuzzInput &input) {
  const VUInt8 code = kCommandCodes[input.Below(std::size(kCommandCodes))];
  const VInt32 capacity = kCapacities[input.Below(std::size(kCapacities))];
  const VUInt8 command[2] = {code, 0};
  Expect(VSucceeded(BlueFinSendCommand(hBlueFin, command, 2)), "a command could not be sent");
  std::vector<VUInt8> buffer(static_cast<std::size_t>(capacity));
  SeamPeer::Instance().Queue(input.Rest());
  const VResult result = BlueFinReceiveResponse(hBlueFin, code, buffer.data(), capacity);
  if (VSucceeded(result)) {
    Expect(result >= 1 && result <= capacity, "a payload length outside the buffer was accepted");
    Expect(buffer[0] == (code | 0x80), "an answer to another command was accepted");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzInput input(data, size);
  const unsigned operation = input.Below(9);
  const unsigned chunk = input.Byte();
  // Secure mode lets the status commands and the image transfer start.
  const bool secure = (input.Byte() & 1) != 0;

  PreparePeer();
  const Footprint before;
  HVBlueFin hBlueFin = OpenDeviceOnPeer(secure);
  SeamPeer &peer = SeamPeer::Instance();
  peer.Behave({.answering = false, .readChunk = chunk});

  VResult result = V_OK;
  if (operation == 8) {
    result = Exchange(hBlueFin, input);
  } else {
    peer.Queue(input.Rest());
    result = RunOperation(hBlueFin, operation);
  }
  ExpectRecorded(result);

  Expect(VSucceeded(VObjectSet(nullptr, &hBlueFin)), "the device could not be released");
  Expect(peer.OpenSockets() == 0, "the device left its socket open");
  Expect(Footprint{} == before, "the exchange left host objects behind");
  return 0;
}
