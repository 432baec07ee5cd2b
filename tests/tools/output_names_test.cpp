// The names a --count pattern gives, and the faults --fault spells: the
// command-line texts the command turns into its own values.
#include <gtest/gtest.h>

#include "tools/fault_spec.h"
#include "tools/output_files.h"

namespace bluefin::tool {
namespace {

TEST(ToolOutputNames, APatternNumbersTheCapturesFromOne) {
  const struct {
    const char *pattern;
    std::optional<unsigned> count;
    std::vector<std::string> names;
  } cases[] = {
      // clang-format off
      {"finger.png",      std::nullopt, {"finger.png"}},
      {"100%.png",        std::nullopt, {"100%.png"}},  // without --count a name is just a name
      {"finger-%02d.png", 3,            {"finger-01.png", "finger-02.png", "finger-03.png"}},
      {"f%d.pgm",         2,            {"f1.pgm", "f2.pgm"}},
      {"f%3d.pgm",        1,            {"f  1.pgm"}},
      {"run%%/%d%%.png",  2,            {"run%/1%.png", "run%/2%.png"}},
      {"f-%02d.png",      100,          {}},  // checked for its last name below
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    const std::optional<std::vector<std::string>> names = OutputNames(row.pattern, row.count, &failure);
    ASSERT_TRUE(names) << row.pattern << ": " << failure.message;
    if (!row.names.empty()) {
      EXPECT_EQ(*names, row.names) << row.pattern;
    } else {
      EXPECT_EQ(names->back(), "f-100.png");
    }
  }
}

TEST(ToolOutputNames, APatternNeedsExactlyOneNumber) {
  const struct {
    const char *pattern;
    const char *reason;
  } cases[] = {
      // clang-format off
      {"finger.png",        "has no %d"},
      {"f%%d.png",          "has no %d"},
      {"f%d-%d.png",        "has more than one %d"},
      {"f%s.png",           "has a % that is neither %d nor %%"},
      {"f%.png",            "has a % that is neither %d nor %%"},
      {"f%",                "has a % that is neither %d nor %%"},
      {"f%0123456789d.png", "has a % that is neither %d nor %%"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    EXPECT_FALSE(OutputNames(row.pattern, 2, &failure)) << row.pattern;
    EXPECT_EQ(failure.code, V_E_ARGUMENT);
    EXPECT_EQ(failure.message, std::string("Output pattern ") + row.pattern + " " + row.reason +
                                   ": with --count it needs one number, like finger-%02d.png");
  }
}

TEST(ToolFaultSpec, EachKindAndPlaceBecomesTheEmulatorsFault) {
  using emu::Code;
  using emu::Command;
  using emu::FaultKind;
  const struct {
    const char *spec;
    FaultKind kind;
    std::uint8_t command;
    std::optional<std::uint8_t> part;
    unsigned occurrence;
    std::uint32_t value;
  } cases[] = {
      // clang-format off
      {"silence@key",                      FaultKind::kSilence,           Code(Command::kSetKey),    std::nullopt, 1, 0},
      {"close-mid-frame=10@part3",         FaultKind::kCloseMidFrame,     Code(Command::kImagePart), 3,            1, 10},
      {"stray-frames=2@status:every",      FaultKind::kStrayFrames,       Code(Command::kGetStatus), std::nullopt, 0, 2},
      {"stray-frames@identity:3",          FaultKind::kStrayFrames,       Code(Command::kIdentity),  std::nullopt, 3, 1},
      {"bad-data-checksum@echo",           FaultKind::kBadDataChecksum,   Code(Command::kEcho),      std::nullopt, 1, 0},
      {"bad-header-checksum@set-status:2", FaultKind::kBadHeaderChecksum, Code(Command::kSetStatus), std::nullopt, 2, 0},
      {"payload-length=5@part",            FaultKind::kPayloadLength,     Code(Command::kImagePart), std::nullopt, 1, 5},
      {"declared-length=4294967295@echo",  FaultKind::kDeclaredLength,    Code(Command::kEcho),      std::nullopt, 1, 4294967295u},
      {"wrong-echo",                       FaultKind::kWrongEcho,         Code(Command::kEcho),      std::nullopt, 1, 14},
      {"refuse-key=2",                     FaultKind::kRefuseKey,         Code(Command::kSetKey),    std::nullopt, 1, 2},
      {"wrong-status-echo=7",              FaultKind::kWrongStatusEcho,   Code(Command::kSetStatus), std::nullopt, 1, 7},
      {"invalid-image-part@part11",        FaultKind::kInvalidImagePart,  Code(Command::kImagePart), 11,           1, 0},
      {"foreign-key@identity",             FaultKind::kForeignKey,        Code(Command::kIdentity),  std::nullopt, 1, 0},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    const std::optional<emu::Fault> fault = ParseFault(row.spec, &failure);
    ASSERT_TRUE(fault) << row.spec << ": " << failure.message;
    EXPECT_EQ(fault->kind, row.kind) << row.spec;
    EXPECT_EQ(fault->target.command, row.command) << row.spec;
    EXPECT_EQ(fault->target.part, row.part) << row.spec;
    EXPECT_EQ(fault->target.occurrence, row.occurrence) << row.spec;
    EXPECT_EQ(fault->value, row.value) << row.spec;
    EXPECT_EQ(fault->key != emu::Key{}, row.kind == FaultKind::kForeignKey) << row.spec;
  }
}

TEST(ToolFaultSpec, MisspelledFaultsSayWhatIsWrong) {
  const struct {
    const char *spec;
    const char *reason;
  } cases[] = {
      // clang-format off
      {"sillence@key",           "unknown kind 'sillence' (kinds: stray-frames, "},
      {"silence",                "say which command it hits: silence@COMMAND"},
      {"silence=3@key",          "silence takes no value"},
      {"payload-length@echo",    "payload-length needs a value: payload-length=N"},
      {"stray-frames=lots@echo", "the value must be a whole number, not lots"},
      {"silence@keys",           "unknown command 'keys'"},
      {"silence@part12",         "image parts are part0 to part11, not part12"},
      {"silence@key:0",          "the occurrence must be a number from 1, or 'every'"},
      {"silence@key:often",      "the occurrence must be a number from 1, or 'every'"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    EXPECT_FALSE(ParseFault(row.spec, &failure)) << row.spec;
    EXPECT_EQ(failure.code, V_E_ARGUMENT);
    EXPECT_EQ(failure.message.rfind(std::string("Fault \"") + row.spec + "\": " + row.reason, 0), 0u)
        << failure.message;
  }
}

}  // namespace
}  // namespace bluefin::tool
