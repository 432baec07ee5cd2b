#include "fuzz/seam_peer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/frame.h"

namespace vdm::fuzz {

using vdm::platform::Failure;
using vdm::platform::PlatformDefault;
using vdm::platform::Readiness;
using vdm::platform::SocketHandle;
using vdm::platform::WaitLimit;

namespace {

constexpr SocketHandle kPeerSocket = 7;

bool Fail(Failure *pFailure, int code, const wchar_t *szAt) {
  pFailure->code = code;
  pFailure->szAt = szAt;
  return false;
}

}  // namespace

SeamPeer &SeamPeer::Instance() {
  static SeamPeer peer;
  return peer;
}

void SeamPeer::Install() {
  table_ = PlatformDefault();
  table_.startup = [](Failure *) { return true; };
  table_.cleanup = [](Failure *) { return true; };
  table_.open = [](SocketHandle *pSocket, Failure *) {
    SeamPeer &peer = Instance();
    std::lock_guard lock(peer.mutex_);
    ++peer.openSockets_;
    *pSocket = kPeerSocket;
    return true;
  };
  table_.connect = [](SocketHandle, const VBluetoothSocketAddress *, Failure *pFailure) {
    SeamPeer &peer = Instance();
    std::lock_guard lock(peer.mutex_);
    return !peer.behaviour_.connectFails || Fail(pFailure, ECONNREFUSED, L"   at connect\r\n");
  };
  table_.wait = [](SocketHandle, Readiness readiness, WaitLimit, Failure *) {
    SeamPeer &peer = Instance();
    peer.Tick();
    std::lock_guard lock(peer.mutex_);
    if (readiness == Readiness::kWritable) {
      return 1;
    }
    // Nothing queued: the scanner stays silent, and the wait's limit runs
    // out at once instead of seconds later.
    return peer.closed_ || peer.inboundRead_ < peer.inbound_.size() ? 1 : 0;
  };
  table_.receive = [](SocketHandle, void *pBuffer, VUInt32 size, Failure *) -> std::int64_t {
    SeamPeer &peer = Instance();
    peer.Tick();
    std::lock_guard lock(peer.mutex_);
    std::size_t count = std::min<std::size_t>(size, peer.inbound_.size() - peer.inboundRead_);
    if (peer.behaviour_.readChunk != 0) {
      count = std::min(count, peer.behaviour_.readChunk);
    }
    std::memcpy(pBuffer, peer.inbound_.data() + peer.inboundRead_, count);
    peer.inboundRead_ += count;
    return static_cast<std::int64_t>(count);
  };
  table_.send = [](SocketHandle, const void *pBuffer, VUInt32 size, Failure *pFailure) -> std::int64_t {
    SeamPeer &peer = Instance();
    peer.Tick();
    std::lock_guard lock(peer.mutex_);
    if (peer.closed_) {
      Fail(pFailure, EPIPE, L"   at send\r\n");
      return -1;
    }
    const auto *bytes = static_cast<const std::uint8_t *>(pBuffer);
    peer.outbound_.insert(peer.outbound_.end(), bytes, bytes + size);
    peer.Answer();
    return size;
  };
  table_.shutdown = [](SocketHandle, Failure *) { return true; };
  table_.close = [](SocketHandle, Failure *) {
    SeamPeer &peer = Instance();
    std::lock_guard lock(peer.mutex_);
    --peer.openSockets_;
    return true;
  };
  table_.secureRandom = [](VUInt8 *pBuffer, VUInt32 size, Failure *) {
    SeamPeer &peer = Instance();
    std::lock_guard lock(peer.mutex_);
    for (VUInt32 i = 0; i < size; ++i) {
      peer.randomState_ = peer.randomState_ * 1103515245u + 12345u;
      pBuffer[i] = static_cast<VUInt8>(peer.randomState_ >> 16);
    }
    return true;
  };
  vdm::platform::SetPlatformCalls(&table_);
}

void SeamPeer::Use(const emu::Scanner &scanner) {
  {
    std::lock_guard lock(mutex_);
    scanner_.emplace(scanner);
  }
  Restart();
}

void SeamPeer::Restart() {
  std::lock_guard lock(mutex_);
  scanner_->Reset();
  faults_.Clear();
  outbound_.clear();
  inbound_.clear();
  inboundRead_ = 0;
  behaviour_ = {};
  closed_ = false;
  openSockets_ = 0;
  calls_ = 0;
  randomState_ = 1;
  hook_ = nullptr;
}

void SeamPeer::Behave(const Behaviour &behaviour) {
  std::lock_guard lock(mutex_);
  behaviour_ = behaviour;
}

void SeamPeer::Queue(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
}

bool SeamPeer::InjectFault(const emu::Fault &fault) {
  std::lock_guard lock(mutex_);
  return faults_.Add(fault);
}

void SeamPeer::SetCallHook(std::function<void(std::uint64_t)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

std::uint64_t SeamPeer::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::uint8_t> SeamPeer::Inbound() const {
  std::lock_guard lock(mutex_);
  return inbound_;
}

int SeamPeer::OpenSockets() const {
  std::lock_guard lock(mutex_);
  return openSockets_;
}

const emu::Image &SeamPeer::ExpectedImage() const {
  std::lock_guard lock(mutex_);
  return scanner_->image().reconstruction;
}

const emu::Key &SeamPeer::ScannerKey() const {
  std::lock_guard lock(mutex_);
  return scanner_->key();
}

void SeamPeer::Tick() {
  std::function<void(std::uint64_t)> hook;
  std::uint64_t call = 0;
  {
    std::lock_guard lock(mutex_);
    call = calls_++;
    hook = hook_;
  }
  if (hook) {
    hook(call);
  }
}

// The emulator's serving loop, one frame at a time as the bytes come in.
void SeamPeer::Answer() {
  while (behaviour_.answering && !closed_ && outbound_.size() >= emu::kCommandHeaderSize) {
    const emu::CommandHeader header = emu::ParseCommandHeader(
        std::span<const std::uint8_t, emu::kCommandHeaderSize>(outbound_.data(), emu::kCommandHeaderSize));
    if (!header.LengthValid()) {
      closed_ = true;  // no way to find the next frame: the scanner hangs up
      return;
    }
    const std::size_t frameSize = emu::kCommandHeaderSize + header.BodySize();
    if (outbound_.size() < frameSize) {
      return;
    }
    std::vector<std::uint8_t> body(outbound_.begin() + emu::kCommandHeaderSize,
                                   outbound_.begin() + frameSize);
    outbound_.erase(outbound_.begin(), outbound_.begin() + frameSize);
    const emu::ServedFrame served = emu::ServeFrame(*scanner_, faults_, header, body);
    if (!served.ignored && !served.silence) {
      inbound_.insert(inbound_.end(), served.out.begin(), served.out.end());
      closed_ = served.close;
    }
  }
}

}  // namespace vdm::fuzz
