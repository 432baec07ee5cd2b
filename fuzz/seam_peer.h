// An in-process scanner behind the transport's platform seam, for the fuzz
// targets: no socket, no thread, no real wait. Command frames the module
// sends are answered at once by the emulator's scanner (with the emulator's
// faults applied), or, with answering off, the module reads whatever bytes
// the target queued. A read wait with nothing queued is a time-out at once,
// so a silent scanner costs no time.
#ifndef VDM_FUZZ_SEAM_PEER_H
#define VDM_FUZZ_SEAM_PEER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "emulator/fault_book.h"
#include "emulator/scanner.h"

namespace vdm::fuzz {

namespace emu = ::bluefin::emu;

class SeamPeer {
 public:
  // The seam is one table for the process, so there is one peer.
  static SeamPeer &Instance();

  void Install();  // for the rest of the process
  // Serves a copy of scanner (copies share its coded image), restarted.
  void Use(const emu::Scanner &scanner);
  // Power cycle of the scanner in use, which keeps its image.
  void Restart();

  // How the peer behaves until the next Restart.
  struct Behaviour {
    bool answering = true;      // off: the module reads only what is queued
    std::size_t readChunk = 0;  // at most this many bytes per receive (0: no limit)
    bool connectFails = false;
  };
  void Behave(const Behaviour &behaviour) {
    Locked([&] { run_.behaviour = behaviour; });
  }
  // Bytes the module will read, after anything queued already.
  void Queue(std::span<const std::uint8_t> bytes) {
    Locked([&] { run_.inbound.insert(run_.inbound.end(), bytes.begin(), bytes.end()); });
  }
  bool InjectFault(const emu::Fault &fault) {
    return Locked([&] { return run_.faults.Add(fault); });
  }
  // Called before every wait, receive and send with their running number
  // from 0 on, on the calling thread and outside the peer's lock.
  void SetCallHook(std::function<void(std::uint64_t)> hook) {
    Locked([&] {
      run_.hook = std::move(hook);
      run_.calls = 0;
    });
  }

  // Every byte queued for the module since Restart, answers included.
  std::vector<std::uint8_t> Inbound() const {
    return Locked([&] { return run_.inbound; });
  }
  int OpenSockets() const {
    return Locked([&] { return run_.openSockets; });
  }

 private:
  SeamPeer() = default;
  template <class F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard lock(mutex_);
    return f();
  }
  void Answer();  // under mutex_
  void Tick();

  mutable std::mutex mutex_;
  std::optional<emu::Scanner> scanner_;
  // What a Restart clears.
  struct Run {
    emu::FaultBook faults;
    std::vector<std::uint8_t> outbound;
    std::vector<std::uint8_t> inbound;
    std::size_t inboundRead = 0;
    Behaviour behaviour;
    bool closed = false;
    int openSockets = 0;
    std::uint64_t calls = 0;
    std::uint32_t randomState = 1;
    std::function<void(std::uint64_t)> hook;
  } run_;
  // The peer's Run for the table's calls, under its lock.
  static std::pair<std::unique_lock<std::mutex>, Run &> Held();
  vdm::platform::PlatformCalls table_{};
};

}  // namespace vdm::fuzz

#endif  // VDM_FUZZ_SEAM_PEER_H
