#include "emulator/emulator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "emulator/cipher.h"
#include "emulator/fault_book.h"
#include "emulator/frame.h"
#include "emulator/link.h"
#include "emulator/scanner.h"

namespace bluefin::emu {
namespace {

// Checks the options and turns them into the scanner's configuration; on
// failure says why.
std::optional<ScannerConfig> Configure(const Options &options, std::string *address, std::string *error) {
  const std::optional<std::string> normalized = NormalizeAddress(options.address);
  if (!normalized) {
    *error = "Scanner address must be XX:XX:XX:XX:XX:XX, not \"" + options.address + "\"";
    return std::nullopt;
  }
  if (options.model.size() > kModelSize || options.model.find('\0') != std::string::npos) {
    *error = "Model text must be at most 7 characters without NUL, not \"" + options.model + "\"";
    return std::nullopt;
  }
  if (options.image && options.image->size() != kImagePixels) {
    *error = "Image must hold 256 x 360 = 92160 pixels, not " + std::to_string(options.image->size());
    return std::nullopt;
  }
  *address = *normalized;
  ScannerConfig config;
  std::copy(options.model.begin(), options.model.end(), config.model.begin());
  config.serial = options.serial;
  config.readyAfterPolls = options.readyAfterPolls;
  config.image = options.image;
  config.imageSeed = options.imageSeed;
  config.freshImagePerCapture = options.freshImagePerCapture;
  config.powerOnKey = options.powerOnKey;
  return config;
}

}  // namespace

struct Emulator::Shared {
  // Guards everything below up to the thread: the emulator thread holds it
  // while it turns one command into its answer, never while it waits on the
  // socket or sleeps for shaping.
  mutable std::mutex mutex;
  std::optional<Scanner> scanner;  // empty when the options are bad
  FaultBook faults;
  std::vector<TranscriptEntry> transcript;
  std::uint64_t connections = 0;
  // The connection being served, so that ResetState can shut it down; the
  // emulator thread closes it only after clearing this under the mutex, so
  // the descriptor cannot be reused under ResetState's feet.
  int liveConnection = -1;

  std::string address;
  std::string optionsError;
  Waker waker;
  Fd listen;
  std::thread thread;
  std::atomic<bool> running{false};
};

Emulator::Emulator(Options options) : options_(std::move(options)), shared_(std::make_unique<Shared>()) {
  if (std::optional<ScannerConfig> config = Configure(options_, &shared_->address, &shared_->optionsError)) {
    shared_->scanner.emplace(std::move(*config));
  }
}

Emulator::~Emulator() {
  Stop();
}

bool Emulator::Start(std::string *error) {
  std::string ignored;
  std::string &why = error != nullptr ? *error : ignored;
  if (shared_->thread.joinable()) {
    why = "Scanner emulator is already running on @" + ListenName();
    return false;
  }
  if (!shared_->scanner) {
    why = shared_->optionsError;
    return false;
  }
  if (!shared_->waker.ok()) {
    why = "Cannot create the emulator's stop event";
    return false;
  }
  Fd listen = ListenOn(ListenName(), &why);
  if (!listen) {
    return false;
  }
  shared_->listen = std::move(listen);
  shared_->waker.Drain();
  shared_->thread = std::thread(&Emulator::Run, this);
  shared_->running = true;
  return true;
}

void Emulator::Stop() {
  if (!shared_->thread.joinable()) {
    return;
  }
  // The waker stays set until drained, so every wait of the thread (accept,
  // receive, send, shaping sleep) returns, and the thread closes its
  // connection on the way out.
  shared_->waker.Wake();
  shared_->thread.join();
  shared_->listen.Reset();
  shared_->waker.Drain();
  shared_->running = false;
}

bool Emulator::Running() const {
  return shared_->running;
}

std::string Emulator::ListenName() const {
  return bluefin::emu::ListenName(shared_->address);
}

void Emulator::Run() {
  for (;;) {
    Fd connection;
    if (AcceptOne(shared_->listen.get(), shared_->waker, &connection) != Io::kOk) {
      return;
    }
    EmulatorEvent event;
    {
      std::lock_guard lock(shared_->mutex);
      ++shared_->connections;
      shared_->liveConnection = connection.get();
      event.connection = shared_->connections;
      event.scanner = SnapshotLocked();
    }
    Tell(event);
    try {
      Serve(connection.get());
    } catch (const std::exception &failure) {
      // Only libcrypto or memory can fail here; the connection is dropped
      // and the next host is served.
      std::fprintf(stderr, "bluefin emulator: connection dropped: %s\n", failure.what());
    }
    {
      std::lock_guard lock(shared_->mutex);
      shared_->liveConnection = -1;
      event.scanner = SnapshotLocked();
    }
    event.kind = EmulatorEvent::Kind::kDisconnected;
    Tell(event);
  }
}

void Emulator::Tell(const EmulatorEvent &event) const {
  if (options_.observer) {
    options_.observer(event);
  }
}

void Emulator::Serve(int connection) {
  std::uint64_t connectionNumber = 0;
  {
    std::lock_guard lock(shared_->mutex);
    connectionNumber = shared_->connections;
  }
  const LinkShaping &shaping = options_.shaping;
  for (;;) {
    std::array<std::uint8_t, kCommandHeaderSize> header{};
    if (ReadExact(connection, shared_->waker, header) != Io::kOk) {
      return;
    }
    const CommandHeader parsed = ParseCommandHeader(header);
    if (!parsed.LengthValid()) {
      return;
    }
    std::array<std::uint8_t, RoundUpToBlocks(kMaxCommandLength)> storage{};
    const std::span<std::uint8_t> body(storage.data(), parsed.BodySize());
    if (ReadExact(connection, shared_->waker, body) != Io::kOk) {
      return;
    }
    const auto arrived = std::chrono::steady_clock::now();
    ServedFrame served;
    TranscriptEntry entry;
    EmulatorEvent event{EmulatorEvent::Kind::kCommand, connectionNumber, &entry, {}};
    {
      std::lock_guard lock(shared_->mutex);
      served = ServeFrame(*shared_->scanner, shared_->faults, parsed, body);
      if (!served.ignored) {
        entry = {served.code, std::vector<std::uint8_t>(served.arguments.begin(), served.arguments.end()),
                 served.key, arrived, connectionNumber};
        shared_->transcript.push_back(entry);
        event.scanner = SnapshotLocked();
      }
    }
    if (!served.ignored) {
      Tell(event);
    }
    if (served.ignored || served.silence) {
      continue;
    }
    const Io sent = WriteShaped(connection, shared_->waker, shaping, served.out, arrived,
                                kCommandHeaderSize + body.size());
    if (sent != Io::kOk || served.close) {
      return;
    }
  }
}

bool Emulator::InjectFault(const Fault &fault) {
  std::lock_guard lock(shared_->mutex);
  return shared_->faults.Add(fault);
}

void Emulator::ClearFaults() {
  std::lock_guard lock(shared_->mutex);
  shared_->faults.Clear();
}

std::size_t Emulator::PendingFaults() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->faults.Pending();
}

std::vector<TranscriptEntry> Emulator::Transcript() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->transcript;
}

void Emulator::ClearTranscript() {
  std::lock_guard lock(shared_->mutex);
  shared_->transcript.clear();
}

Key Emulator::CurrentKey() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->scanner ? shared_->scanner->key() : options_.powerOnKey;
}

void Emulator::ForceKey(const Key &key) {
  std::lock_guard lock(shared_->mutex);
  if (shared_->scanner) {
    shared_->scanner->ForceKey(key);
  }
}

Image Emulator::ExpectedImage() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->scanner ? shared_->scanner->image().reconstruction : Image();
}

ScannerSnapshot Emulator::Snapshot() const {
  std::lock_guard lock(shared_->mutex);
  return SnapshotLocked();
}

ScannerSnapshot Emulator::SnapshotLocked() const {
  ScannerSnapshot snapshot;
  snapshot.connections = shared_->connections;
  if (const std::optional<Scanner> &scanner = shared_->scanner) {
    snapshot.key = scanner->key();
    snapshot.status = scanner->status();
    snapshot.capture = scanner->capture();
    snapshot.polls = scanner->polls();
    snapshot.partsServed = scanner->partsServed();
  }
  return snapshot;
}

void Emulator::ResetState() {
  std::lock_guard lock(shared_->mutex);
  if (shared_->scanner) {
    shared_->scanner->Reset();
  }
  if (shared_->liveConnection >= 0) {
    ShutdownConnection(shared_->liveConnection);
  }
}

}  // namespace bluefin::emu
