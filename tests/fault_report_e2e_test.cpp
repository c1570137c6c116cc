// Processor faults end the run with the report of their exception class,
// after the text already waiting in the console buffer, and exit status 1.
// The tools themselves never fault, so a small program provokes each one.
#include <gtest/gtest.h>

#include <regex>

#include "tests/tool_runner.h"

namespace {

struct FaultCase {
  const char* Fault;
  const char* ClassName;
  const char* MessagePattern;  // the message, with the full stop the report adds
};

const FaultCase FaultCases[] = {
    // Code address varies from run to run; the data address is fixed.
    {"read", "EAccessViolation", "Access violation at address [0-9A-F]{8,16}\\. Read of address 00000010\\."},
    {"write", "EAccessViolation", "Access violation at address [0-9A-F]{8,16}\\. Write of address 00000020\\."},
    {"divide", "EDivByZero", "Division by zero\\."},
    // Caught on the handler's own stack, though the program's is used up.
    {"stack", "EStackOverflow", "Stack overflow\\."},
    // The allocation fails; the report needs no memory of its own.
    {"memory", "EOutOfMemory", "Out of memory\\."},
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.Fault; }

class FaultReport : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultReport, FollowsBufferedTextAndEndsWithStatusOne) {
  const FaultCase& c = GetParam();
  ScratchDirectory scratch;
  ToolRun run = RunTool(FAULT_RAISER_PATH, {c.Fault}, scratch.Path());
  EXPECT_EQ(run.ExitStatus, 1);
  std::string pattern = std::string("before the fault Exception ") + c.ClassName +
                        " in module fault_raiser" DICT_EXE_SUFFIX " at [0-9A-F]{8}\\.\n" + c.MessagePattern + "\r\n";
  EXPECT_TRUE(std::regex_match(run.Stdout, std::regex(pattern)))
      << "stdout: " << run.Stdout << "\nexpected: " << pattern;
}

INSTANTIATE_TEST_SUITE_P(EachFault, FaultReport, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return std::string(info.param.Fault); });

}  // namespace
