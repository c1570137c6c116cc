// Processor faults end the run with the report of their exception class,
// after the text already waiting in the console buffer, and exit status 1.
// The tools themselves never fault, so a small program provokes each one.
// What a fault report can say depends on the machine; each case states what
// it checks there, and a fault the machine cannot produce is skipped, as is
// the kind of an access where the run is not told it (after the rest of the
// report is checked).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/tool_runner.h"

namespace {

// The data addresses of the two access violations (16 and 32 bytes above
// address 0) and the kind of the write. s390x reports the data address only
// to its 4 KiB page and cannot tell a write from a read.
#if defined(__s390x__)
#define DICT_READ_DATA "00000000"
#define DICT_WRITE_DATA "00000000"
#define DICT_WRITE_KIND "Read"
#else
#define DICT_READ_DATA "00000010"
#define DICT_WRITE_DATA "00000020"
#define DICT_WRITE_KIND "Write"
#endif

/// Why this run cannot check the kind of an access, or null. On arm64 and
/// 32-bit ARM the kernel hands the fault handler the fault's syndrome record,
/// which tells a write from a read; user-mode QEMU leaves it out, and every
/// access is then reported as a read (docs/differences.md).
const char* AccessKindUntold() {
#if defined(__aarch64__) || defined(__arm__)
  if (UnderEmulator()) {
    return "under the emulator the signal frame holds no syndrome record, so the report says "
           "Read for every access; the rest of the report was checked";
  }
#endif
  return nullptr;
}

// Integer division by zero traps on x86-64 and s390x only.
#if defined(__aarch64__)
constexpr const char* NoDivideTrap =
    "arm64 does not trap integer division by zero (the quotient is 0)";
#elif defined(__arm__)
constexpr const char* NoDivideTrap =
    "32-bit ARM has no division trap: the compiler's division helper sends the process a SIGFPE "
    "that carries no fault code";
#else
constexpr const char* NoDivideTrap = nullptr;
#endif

struct FaultCase {
  const char* Fault;
  const char* ClassName;
  // The message, with the full stop the report adds; an access violation's
  // captures the absolute code address it names and the kind of the access.
  const char* MessagePattern;
  const char* Unavailable;  // why the machine cannot produce the fault, or null
  const char* AccessKind;   // what an access violation's message says it was
};

const FaultCase FaultCases[] = {
    {"read", "EAccessViolation",
     "Access violation at address ([0-9A-F]{8,16})\\. (Read|Write) of address " DICT_READ_DATA
     "\\.",
     nullptr, "Read"},
    {"write", "EAccessViolation",
     "Access violation at address ([0-9A-F]{8,16})\\. (Read|Write) of address " DICT_WRITE_DATA
     "\\.",
     nullptr, DICT_WRITE_KIND},
    {"divide", "EDivByZero", "Division by zero\\.", NoDivideTrap, nullptr},
    // Caught on the handler's own stack, though the program's is used up.
    {"stack", "EStackOverflow", "Stack overflow\\.", nullptr, nullptr},
    // The allocation fails; the report needs no memory of its own.
    {"memory", "EOutOfMemory", "Out of memory\\.", nullptr, nullptr},
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.Fault; }

class FaultReport : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultReport, FollowsBufferedTextAndEndsWithStatusOne) {
  const FaultCase& c = GetParam();
  if (c.Unavailable != nullptr) GTEST_SKIP() << c.Unavailable;
  ScratchDirectory scratch;
  ToolRun run = RunTool(FAULT_RAISER_PATH, {c.Fault}, scratch.Path());
  EXPECT_EQ(run.ExitStatus, 1);
  std::string pattern = std::string("before the fault Exception ") + c.ClassName +
                        " in module fault_raiser" DICT_EXE_SUFFIX " at ([0-9A-F]{8})\\.\n" +
                        c.MessagePattern + "\r\n";
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.Stdout, match, std::regex(pattern)))
      << "stdout: " << run.Stdout << "\nexpected: " << pattern;
  if (match.size() < 3) return;  // no code address in the message
  // The report's code address is an offset from where the program is
  // loaded, the message's the absolute address of the same instruction: the
  // two differ by the load address, a page boundary above 0, and the offset
  // lies within the program's file. A data address standing in for the code
  // address would be its own offset.
  const std::uint64_t offset = std::stoull(match[1].str(), nullptr, 16);
  const std::uint64_t absolute = std::stoull(match[2].str(), nullptr, 16);
  const std::uint64_t loadAddress = absolute - offset;
  EXPECT_GT(absolute, offset) << run.Stdout;
  EXPECT_EQ(loadAddress % 4096, 0u) << run.Stdout;
  EXPECT_LT(offset, std::filesystem::file_size(FAULT_RAISER_PATH)) << run.Stdout;
  if (const char* untold = AccessKindUntold()) GTEST_SKIP() << untold;
  EXPECT_EQ(match[3].str(), c.AccessKind) << run.Stdout;
}

INSTANTIATE_TEST_SUITE_P(EachFault, FaultReport, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return std::string(info.param.Fault); });

}  // namespace
