// The BlueFin scanner emulator: the scanner's side of the wire protocol on
// the emulated link, for tests, demos and benchmarks. It is a real peer on
// a real socket, never linked into the module.
//
// The emulator listens on the Linux abstract AF_UNIX stream socket named
// "bluefin/" + address ("XX:XX:XX:XX:XX:XX", upper-case) + "/" + the Serial
// Port service class ("00001101-0000-1000-8000-00805f9b34fb"), and serves
// connections one after another on its own thread. Like a real scanner it
// keeps its state across connections: its key (the default key after
// power-on), its status and capture, its model text and serial number. It
// serves one host at a time, as a scanner's single link does: a second
// connection waits in the listen queue, unanswered, until the first closes.
//
// What the scanner answers (byte offsets are into the plaintext payload):
//   echo 0x01        0x81 and the command's argument bytes, as long as the
//                    command.
//   identity 0x03    16 bytes: model text at 1..7 (zero-filled), serial
//                    number big-endian at 8..11, then hardware revision 1,
//                    0, and firmware version 0x0102 big-endian at 14..15.
//   key 0x05         16 bytes, byte 12 = 1. The answer goes out under the
//                    old key; the new key serves from the next frame on. A
//                    command not exactly 33 bytes long is refused (byte 12
//                    = 0, key kept).
//   status set 0x0C  16 bytes, byte 12 = the status now in force. Status 1
//                    arms a capture (again, if one was armed or ready);
//                    status 0 drops it; any other value is refused and the
//                    old status echoed.
//   status 0x09      16 bytes: byte 12 = the status in force, byte 13 = 0
//                    idle, 1 armed and waiting, 2 image ready; bytes 14..15
//                    the "waiting" answers since arming. Once armed, the
//                    first readyAfterPolls queries answer 1 and the next one
//                    answers 2.
//   image part 0x11  3085 bytes: 0x91, the part index at 1, the part count
//                    12 at 2, byte 12 = 1, then 1024 code groups. Valid only
//                    while an image is ready; after all twelve parts were
//                    served the scanner is idle (status 0). Asked for while
//                    no image is ready, or with an index past 11, the part
//                    still has 3085 bytes but byte 12 = 0 and no pixels.
//   any other code   16 bytes: its own response code, byte 12 = 0.
// A command frame whose header or data checksum fails is dropped without an
// answer and left out of the transcript. A header whose length lies
// outside 1..43 leaves no way to find the next frame, so the scanner closes
// that connection.
//
// The image is coded as 3-bit deltas in wire order, each pixel's code the
// one whose wrapped result lies nearest the target, and ExpectedImage() is
// exactly what a capture decodes. Without Options::image the scanner serves
// a synthetic fingerprint made from imageSeed; with freshImagePerCapture
// every capture after the first serves a new finger (seed + capture count).
// A given image is served unchanged at every capture.
//
// Faults (fault.h) are aimed at one occurrence of a command, or at one
// image part; several that hit the same command act together. The
// transcript lists every command the scanner took, with the key it came
// under, before its answer goes out.
//
// Thread safety: every public method may be called from any thread while
// the emulator runs; Start and Stop must not race each other.
#ifndef BLUEFIN_EMULATOR_EMULATOR_H
#define BLUEFIN_EMULATOR_EMULATOR_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/delta_encoder.h"
#include "emulator/fault.h"
#include "emulator/protocol.h"
#include "emulator/shaping.h"

namespace bluefin::emu {

struct EmulatorEvent;

struct Options {
  std::string address = "00:11:22:33:44:55";  // either case
  std::string model = "BF-2000";              // at most 7 characters, no NUL
  std::uint32_t serial = 0x0BF12345;
  // Status queries answered "armed, waiting" before one answers "ready".
  unsigned readyAfterPolls = 1;
  // 256 x 360 pixels, row 0 first; the synthetic finger when empty.
  std::optional<Image> image;
  std::uint32_t imageSeed = 0;
  bool freshImagePerCapture = false;
  // The key after power-on and after ResetState(); a scanner left on
  // another host's session key starts on that key instead.
  Key powerOnKey = kDefaultKey;
  LinkShaping shaping;
  // Told of every connection, command and disconnection as it happens, on
  // the emulator thread with no lock held, a command before its answer goes
  // out; for logs. It must not call Stop.
  std::function<void(const EmulatorEvent &)> observer;
};

struct TranscriptEntry {
  std::uint8_t code = 0;
  std::vector<std::uint8_t> arguments;  // the command's bytes after the code
  Key key{};                            // the key the command was decrypted under
  std::chrono::steady_clock::time_point time;
  std::uint64_t connection = 0;  // 1 for the first connection accepted
};

struct ScannerSnapshot {
  Key key{};
  std::uint8_t status = 0;
  CaptureState capture = CaptureState::kIdle;
  unsigned polls = 0;
  std::uint16_t partsServed = 0;  // bit p set once part p went out
  std::uint64_t connections = 0;
};

struct EmulatorEvent {
  enum class Kind { kConnected, kCommand, kDisconnected };
  Kind kind = Kind::kConnected;
  std::uint64_t connection = 0;              // 1 for the first connection accepted
  const TranscriptEntry *command = nullptr;  // kCommand: the transcript's entry
  ScannerSnapshot scanner;                   // the state as the event left it
};

class Emulator {
 public:
  // Makes the scanner and its first image; bad options are reported by
  // Start.
  explicit Emulator(Options options = {});
  ~Emulator();  // Stops.
  Emulator(const Emulator &) = delete;
  Emulator &operator=(const Emulator &) = delete;

  // Binds the listen name and starts the thread. Returns false with the reason in *error
  // (when error is not null): bad options, already running, or another
  // scanner on the same address. State survives Stop and Start; only
  // ResetState powers the scanner off and on.
  bool Start(std::string *error);
  // Closes the listening socket and any connection and joins the thread.
  // Idempotent.
  void Stop();
  bool Running() const;

  // The abstract socket name without its leading NUL.
  std::string ListenName() const;

  // Returns false, and injects nothing, for a value out of range for its
  // kind.
  bool InjectFault(const Fault &fault);
  void ClearFaults();
  // Faults injected and not yet fired; an "every occurrence" fault stays.
  std::size_t PendingFaults() const;

  // A copy, safe to read while the emulator runs. The entry for a command
  // is written before anything of its answer is sent. It grows with every
  // command until cleared, which long benchmark runs should do.
  std::vector<TranscriptEntry> Transcript() const;
  void ClearTranscript();

  Key CurrentKey() const;
  // Puts the scanner on another key, as a host that died before restoring
  // the default key would have left it.
  void ForceKey(const Key &key);
  // What a complete transfer decodes to: the image of the capture armed
  // last (before any, the first capture's). Empty when the options are bad.
  Image ExpectedImage() const;
  ScannerSnapshot Snapshot() const;
  // Power cycle: the power-on key, idle, and the live connection (if any)
  // dropped as the radio goes down. Faults, transcript and image stay.
  void ResetState();

 private:
  struct Shared;
  void Run();
  void Serve(int connection);
  void Tell(const EmulatorEvent &event) const;
  ScannerSnapshot SnapshotLocked() const;

  Options options_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_EMULATOR_H
