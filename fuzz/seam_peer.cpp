#include "fuzz/seam_peer.h"

#include <algorithm>
#include <cerrno>

#include "emulator/frame.h"

namespace vdm::fuzz {

using vdm::platform::Failure;
using vdm::platform::Readiness;
using vdm::platform::SocketHandle;
using vdm::platform::WaitLimit;

SeamPeer &SeamPeer::Instance() {
  static SeamPeer peer;
  return peer;
}

std::pair<std::unique_lock<std::mutex>, SeamPeer::Run &> SeamPeer::Held() {
  SeamPeer &peer = Instance();
  return {std::unique_lock(peer.mutex_), peer.run_};
}

void SeamPeer::Install() {
  table_ = vdm::platform::PlatformDefault();
  table_.startup = [](Failure *) { return true; };
  table_.cleanup = [](Failure *) { return true; };
  table_.open = [](SocketHandle *pSocket, Failure *) {
    auto [lock, run] = Held();
    ++run.openSockets;
    *pSocket = 7;
    return true;
  };
  table_.connect = [](SocketHandle, const VBluetoothSocketAddress *, Failure *pFailure) {
    auto [lock, run] = Held();
    if (run.behaviour.connectFails) {
      *pFailure = {ECONNREFUSED, L"   at connect\r\n"};
    }
    return !run.behaviour.connectFails;
  };
  table_.wait = [](SocketHandle, Readiness readiness, WaitLimit, Failure *) {
    Instance().Tick();
    auto [lock, run] = Held();
    // Nothing queued: the scanner stays silent, and the wait's limit runs
    // out at once instead of seconds later.
    return readiness == Readiness::kWritable || run.closed || run.inboundRead < run.inbound.size() ? 1 : 0;
  };
  table_.receive = [](SocketHandle, void *pBuffer, VUInt32 size, Failure *) -> std::int64_t {
    Instance().Tick();
    auto [lock, run] = Held();
    std::size_t count = std::min<std::size_t>(size, run.inbound.size() - run.inboundRead);
    if (run.behaviour.readChunk != 0) {
      count = std::min(count, run.behaviour.readChunk);
    }
    std::copy_n(run.inbound.begin() + static_cast<std::ptrdiff_t>(run.inboundRead), count,
                static_cast<std::uint8_t *>(pBuffer));
    run.inboundRead += count;
    return static_cast<std::int64_t>(count);
  };
  table_.send = [](SocketHandle, const void *pBuffer, VUInt32 size, Failure *pFailure) -> std::int64_t {
    Instance().Tick();
    auto [lock, run] = Held();
    if (run.closed) {
      *pFailure = {EPIPE, L"   at send\r\n"};
      return -1;
    }
    const auto *bytes = static_cast<const std::uint8_t *>(pBuffer);
    run.outbound.insert(run.outbound.end(), bytes, bytes + size);
    Instance().Answer();
    return size;
  };
  table_.shutdown = [](SocketHandle, Failure *) { return true; };
  table_.close = [](SocketHandle, Failure *) {
    auto [lock, run] = Held();
    --run.openSockets;
    return true;
  };
  table_.secureRandom = [](VUInt8 *pBuffer, VUInt32 size, Failure *) {
    auto [lock, run] = Held();
    for (VUInt32 i = 0; i < size; ++i) {
      run.randomState = run.randomState * 1103515245u + 12345u;
      pBuffer[i] = static_cast<VUInt8>(run.randomState >> 16);
    }
    return true;
  };
  vdm::platform::SetPlatformCalls(&table_);
}

void SeamPeer::Use(const emu::Scanner &scanner) {
  Locked([&] { scanner_.emplace(scanner); });
  Restart();
}

void SeamPeer::Restart() {
  std::lock_guard lock(mutex_);
  scanner_->Reset();
  run_ = {};
}

void SeamPeer::Tick() {
  const auto [call, hook] = Locked([&] { return std::pair(run_.calls++, run_.hook); });
  if (hook) {
    hook(call);
  }
}

// The emulator's serving loop, one frame at a time as the bytes come in.
void SeamPeer::Answer() {
  while (run_.behaviour.answering && !run_.closed && run_.outbound.size() >= emu::kCommandHeaderSize) {
    const emu::CommandHeader header =
        emu::ParseCommandHeader(std::span<const std::uint8_t, emu::kCommandHeaderSize>(
            run_.outbound.data(), emu::kCommandHeaderSize));
    if (!header.LengthValid()) {
      run_.closed = true;  // no way to find the next frame: the scanner hangs up
      return;
    }
    const std::size_t frameSize = emu::kCommandHeaderSize + header.BodySize();
    if (run_.outbound.size() < frameSize) {
      return;
    }
    std::vector<std::uint8_t> body(run_.outbound.begin() + emu::kCommandHeaderSize,
                                   run_.outbound.begin() + frameSize);
    run_.outbound.erase(run_.outbound.begin(), run_.outbound.begin() + frameSize);
    const emu::ServedFrame served = emu::ServeFrame(*scanner_, run_.faults, header, body);
    if (!served.ignored && !served.silence) {
      run_.inbound.insert(run_.inbound.end(), served.out.begin(), served.out.end());
      run_.closed = served.close;
    }
  }
}

}  // namespace vdm::fuzz
