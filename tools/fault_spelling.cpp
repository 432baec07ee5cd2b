#include "tools/fault_spelling.h"

#include <charconv>
#include <string>

namespace bluefin::tool {
namespace {

using emu::Command;
using emu::FaultKind;

enum class ValueUse { kNone, kOptional, kRequired };

struct KindSpelling {
  const char *name;
  FaultKind kind;
  ValueUse value;
  std::uint32_t defaultValue;
  std::optional<Command> naturalTarget;  // hit without @WHERE
};

constexpr std::uint32_t kLastEchoPatternByte = 14;

const KindSpelling kKinds[] = {
    {"stray-frames", FaultKind::kStrayFrames, ValueUse::kOptional, 1, std::nullopt},
    {"bad-data-checksum", FaultKind::kBadDataChecksum, ValueUse::kNone, 0, std::nullopt},
    {"bad-header-checksum", FaultKind::kBadHeaderChecksum, ValueUse::kNone, 0, std::nullopt},
    {"payload-length", FaultKind::kPayloadLength, ValueUse::kRequired, 0, std::nullopt},
    {"declared-length", FaultKind::kDeclaredLength, ValueUse::kRequired, 0, std::nullopt},
    {"wrong-echo", FaultKind::kWrongEcho, ValueUse::kOptional, kLastEchoPatternByte, Command::kEcho},
    {"refuse-key", FaultKind::kRefuseKey, ValueUse::kOptional, 0, Command::kSetKey},
    {"wrong-status-echo", FaultKind::kWrongStatusEcho, ValueUse::kRequired, 0, Command::kSetStatus},
    {"invalid-image-part", FaultKind::kInvalidImagePart, ValueUse::kOptional, 0, Command::kImagePart},
    {"silence", FaultKind::kSilence, ValueUse::kNone, 0, std::nullopt},
    {"close-mid-frame", FaultKind::kCloseMidFrame, ValueUse::kOptional, 0, std::nullopt},
    {"foreign-key", FaultKind::kForeignKey, ValueUse::kNone, 0, std::nullopt},
};

struct CommandSpelling {
  const char *name;
  Command command;
};

const CommandSpelling kCommandNames[] = {
    {"echo", Command::kEcho},        {"identity", Command::kIdentity},    {"key", Command::kSetKey},
    {"status", Command::kGetStatus}, {"set-status", Command::kSetStatus}, {"part", Command::kImagePart},
};

constexpr unsigned kImageParts = 12;

// A key no host holds: answers under it decrypt to garbage.
constexpr emu::Key kForeignKey = [] {
  emu::Key key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<std::uint8_t>(0xA5 ^ i);
  }
  return key;
}();

std::optional<std::uint32_t> Number(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

std::string KindList() {
  std::string list;
  for (const KindSpelling &kind : kKinds) {
    list += list.empty() ? "" : ", ";
    list += kind.name;
  }
  return list;
}

bool Refuse(std::string_view spelling, const std::string &why, Failure *failure) {
  *failure = Failure{V_E_ARGUMENT, "Fault \"" + std::string(spelling) + "\": " + why};
  return false;
}

bool ParseWhere(std::string_view spelling, std::string_view where, emu::FaultTarget *target,
                Failure *failure) {
  std::string_view name = where;
  std::string_view occurrence;
  if (const std::size_t colon = where.find(':'); colon != std::string_view::npos) {
    name = where.substr(0, colon);
    occurrence = where.substr(colon + 1);
  }
  std::optional<std::uint8_t> part;
  if (name.size() > 4 && name.substr(0, 4) == "part") {
    const std::optional<std::uint32_t> index = Number(name.substr(4));
    if (!index || *index >= kImageParts) {
      return Refuse(spelling, "image parts are part0 to part11, not " + std::string(name), failure);
    }
    part = static_cast<std::uint8_t>(*index);
    name = "part";
  }
  const CommandSpelling *command = nullptr;
  for (const CommandSpelling &spelling : kCommandNames) {
    if (name == spelling.name) {
      command = &spelling;
    }
  }
  if (command == nullptr) {
    return Refuse(spelling,
                  "unknown command '" + std::string(name) +
                      "' (commands: echo, identity, key, status, set-status, part, part0 to part11)",
                  failure);
  }
  *target = emu::FaultTarget{emu::Code(command->command), part, 1};
  if (occurrence == "every") {
    target->occurrence = 0;
  } else if (!occurrence.empty()) {
    const std::optional<std::uint32_t> count = Number(occurrence);
    if (!count || *count == 0) {
      return Refuse(spelling, "the occurrence must be a number from 1, or 'every'", failure);
    }
    target->occurrence = *count;
  }
  return true;
}

}  // namespace

std::optional<emu::Fault> ParseFault(std::string_view spelling, Failure *failure) {
  std::string_view head = spelling;
  std::string_view where;
  if (const std::size_t at = spelling.find('@'); at != std::string_view::npos) {
    head = spelling.substr(0, at);
    where = spelling.substr(at + 1);
  }
  std::string_view name = head;
  std::optional<std::string_view> valueText;
  if (const std::size_t equals = head.find('='); equals != std::string_view::npos) {
    name = head.substr(0, equals);
    valueText = head.substr(equals + 1);
  }
  const KindSpelling *kind = nullptr;
  for (const KindSpelling &spelling : kKinds) {
    if (name == spelling.name) {
      kind = &spelling;
    }
  }
  if (kind == nullptr) {
    Refuse(spelling, "unknown kind '" + std::string(name) + "' (kinds: " + KindList() + ")", failure);
    return std::nullopt;
  }
  emu::Fault fault{kind->kind, {}, kind->defaultValue, {}};
  if (valueText) {
    const std::optional<std::uint32_t> value = Number(*valueText);
    if (kind->value == ValueUse::kNone) {
      Refuse(spelling, std::string(kind->name) + " takes no value", failure);
      return std::nullopt;
    }
    if (!value) {
      Refuse(spelling, "the value must be a whole number, not " + std::string(*valueText), failure);
      return std::nullopt;
    }
    fault.value = *value;
  } else if (kind->value == ValueUse::kRequired) {
    Refuse(spelling, std::string(kind->name) + " needs a value: " + kind->name + "=N", failure);
    return std::nullopt;
  }
  if (kind->kind == FaultKind::kForeignKey) {
    fault.key = kForeignKey;
  }
  if (!where.empty()) {
    if (!ParseWhere(spelling, where, &fault.target, failure)) {
      return std::nullopt;
    }
  } else if (kind->naturalTarget) {
    fault.target = emu::On(*kind->naturalTarget);
  } else {
    Refuse(spelling, "say which command it hits: " + std::string(head) + "@COMMAND, e.g. @key or @part3",
           failure);
    return std::nullopt;
  }
  return fault;
}

}  // namespace bluefin::tool
