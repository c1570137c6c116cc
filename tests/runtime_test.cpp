// Unit tests of the console runtime: the command-line splitter, decimal
// output, I/O error messages, failure reports and, through the platform
// seam, the 128-byte buffering of standard output.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/exceptions.h"
#include "platform/platform.h"
#include "tests/fake_system.h"
#include "tests/test_support.h"

using namespace platform;

namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------- splitter

struct SplitCase {
  const char* what;
  std::string line;
  std::vector<std::string> arguments;
};

TEST(RuntimeSplitter, SplitsByTheRules) {
  const std::string longArgument(10000, 'x');
  // clang-format off
  const SplitCase cases[] = {
      {"only the program name", "prog", {}},
      {"program name with separators around it", "  prog \t ", {}},
      {"a quoted program name with a space is one name", "\"C:\\My Tools\\prog\" a", {"a"}},
      {"an empty pair between separators is no argument", "prog \"\" a", {"a"}},
      {"a quoted section joins the bytes around it", "prog a\"b c\"d", {"ab cd"}},
      {"an unclosed quote runs to the end, separators and all", "prog \"a b\tc", {"a b\tc"}},
      {"an unclosed quote after bytes", "prog x\"y z", {"xy z"}},
      {"every byte 0x01-0x20 separates",
       "prog a\tb\x01" "c\x1F" "d\x0D\x0A" "e f", {"a", "b", "c", "d", "e", "f"}},
      {"control bytes inside quotes belong to the argument",
       "prog \"a\x01" "b\tc\"", {"a\x01" "b\tc"}},
      {"two quotes inside an argument add nothing", "prog a\"\"b", {"ab"}},
      {"quote pairs where an argument begins are all skipped", "prog \"\"\"\" x", {"x"}},
      {"only quote pairs: no argument", "prog \"\"\"\" \"\"", {}},
      {"a pair then bytes at an argument's start", "prog \"\"ab", {"ab"}},
      {"bytes 0x80-0xFF are kept", "prog \x80\xA4\xA2\xFF", {"\x80\xA4\xA2\xFF"}},
      {"the POSIX line: each element quoted, an empty element dropped",
       "\"/bin/prog\" \"\" \"in file.euc\" \"out\"", {"in file.euc", "out"}},
      {"a 10,000-byte argument is kept whole",
       "prog " + longArgument + " z", {longArgument, "z"}},
      {"a 10,000-byte quoted argument is kept whole",
       "prog \"" + longArgument + "\"", {longArgument}},
  };
  // clang-format on
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto count = static_cast<std::int32_t>(c.arguments.size());
    EXPECT_EQ(CountArguments(c.line.c_str()), count);
    for (std::int32_t i = 0; i < count; ++i) {
      EXPECT_TRUE(SameBytes(ArgumentOf(c.line.c_str(), i + 1), c.arguments[i])) << "at " << i + 1;
    }
    // Below 1 and beyond the last argument: empty.
    EXPECT_EQ(ArgumentOf(c.line.c_str(), -1), "");
    EXPECT_EQ(ArgumentOf(c.line.c_str(), 0), "");
    EXPECT_EQ(ArgumentOf(c.line.c_str(), count + 1), "");
  }
}

// -------------------------------------------------------- the seam fixture

// Puts the fake system in place of the platform and resets the console
// state, and restores both.
class PlatformSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    BindStandardOutput(ConsoleOutput);
    TakeIOResult();
  }
  void TearDown() override {
    BindStandardOutput(ConsoleOutput);
    TakeIOResult();
  }

  std::optional<FakeSystem> fake_{std::in_place};
};

using RuntimeArguments = PlatformSeam;

TEST_F(RuntimeArguments, ReadTheCommandLineAndModuleNameThroughTheSeam) {
  fake_->CommandLine = "tsm \"first arg\"\t\"\" second";
  fake_->ModulePath = "/opt/dict tools/tessmark";
  EXPECT_EQ(ArgumentCount(), 2);
  EXPECT_EQ(ArgumentAt(1), "first arg");
  EXPECT_EQ(ArgumentAt(2), "second");
  EXPECT_EQ(ArgumentAt(3), "");
  EXPECT_EQ(ArgumentAt(-1), "");
  // The program's full path, not the name as typed on the command line.
  EXPECT_EQ(ArgumentAt(0), "/opt/dict tools/tessmark");
}

// The POSIX layer rebuilds the command line from the argument vector: each
// argument whole, an empty one no argument, one holding a quote byte (which
// no command line carries) exactly as given in its place, and an empty
// program name never swallowing the first argument.
TEST(RuntimeArgumentVector, ArgumentsComeBackWhole) {
#ifdef DICT_TEST_WIN32
  GTEST_SKIP() << "the Windows build reads the system's own command line";
#endif
  struct Case {
    std::vector<std::string> argv;
    std::vector<std::string> expected;
  } cases[] = {
      {{"tessmark", "in put.euc", "out\t\"x\".sjs"}, {"in put.euc", "out\t\"x\".sjs"}},
      {{"tessmark", "\"", "", "a\"\"b", "c"}, {"\"", "a\"\"b", "c"}},
      {{"tessmark", "", "in.euc"}, {"in.euc"}},
      {{"", "in.euc", "out.sjs"}, {"in.euc", "out.sjs"}},
      {{"\"\"", "in.euc"}, {"in.euc"}},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const std::string& argument : c.argv) argv.push_back(const_cast<char*>(argument.c_str()));
    platform::Startup(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(ArgumentCount(), static_cast<std::int32_t>(c.expected.size())) << GetCommandLineA();
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(ArgumentAt(static_cast<std::int32_t>(i + 1)), c.expected[i]) << GetCommandLineA();
    }
    EXPECT_EQ(ArgumentAt(static_cast<std::int32_t>(c.expected.size() + 1)), "");
  }
}

// ------------------------------------------------------- console buffering

ConsoleStream& Out = ConsoleOutput;

class RuntimeConsole : public PlatformSeam {
 protected:
  void SetUp() override {
    PlatformSeam::SetUp();
    Restart(FileTypeChar);
  }
  // A fresh run: standard output, of device type `fileType`, bound but not
  // opened, no writes yet.
  void Restart(std::uint32_t fileType) {
    BindStandardOutput(Out);
    TakeIOResult();
    fake_.emplace();
    fake_->AddFile(FakeSystem::StandardOutput, "", fileType);
  }

  // The system writes so far, failed ones included, equal `want`, write by
  // write, and all went to standard output.
  ::testing::AssertionResult Writes(const std::vector<std::string>& want) const {
    std::vector<std::pair<std::string, std::string>> writes, wanted;
    std::string got, expected;
    for (const FakeSystem::Request& write : fake_->Requests(FakeSystem::Call::WriteFile)) {
      writes.emplace_back(write.Name, write.Bytes);
      got += write.Name + " [" + Hex(write.Bytes, 160) + "]\n";
    }
    for (const std::string& w : want) {
      wanted.emplace_back(FakeSystem::StandardOutput, w);
      expected += FakeSystem::StandardOutput + (" [" + Hex(w, 160) + "]\n");
    }
    if (writes == wanted) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "system writes:\n" << got << "want:\n" << expected;
  }
};

// CheckIOResult raises EInOutError with this code and message.
void ExpectRaises(std::int32_t code, const char* message) {
  try {
    CheckIOResult();
    ADD_FAILURE() << "CheckIOResult did not raise";
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.ClassName(), "EInOutError");
    EXPECT_EQ(error.ErrorCode, code);
    EXPECT_EQ(error.Message, message);
  }
  EXPECT_EQ(TakeIOResult(), 0) << "the check resets the code";
}

struct BufferCase {
  const char* what;
  std::uint32_t fileType;
  std::function<void()> group;
  std::vector<std::string> atGroupEnd;  // written by the time the group ends
  std::vector<std::string> atEnd;       // written afterwards, at program end
};

TEST_F(RuntimeConsole, BuffersGroupsBy128Bytes) {
  const std::string a126(126, 'a'), b200(200, 'b'), c300(300, 'c');
  // clang-format off
  const BufferCase cases[] = {
      {"character device: a group goes out in one write at its end", FileTypeChar,
       [] {
         WriteText(Out, "n=");
         WriteInteger(Out, -42);
         WriteCharacter(Out, '!');
         WriteLineEnd(Out);
       },
       {"n=-42!\r\n"}, {}},
      {"character device: FlushText ends a group without a line end", FileTypeChar,
       [] { WriteText(Out, "\rWriting..."); FlushText(Out); }, {"\rWriting..."}, {}},
      {"character device: a group over 128 bytes goes out as 128 + the rest", FileTypeChar,
       [&] { WriteText(Out, b200); WriteLineEnd(Out); },
       {b200.substr(0, 128), b200.substr(128) + "\r\n"}, {}},
      {"character device: exactly 128 bytes make one write, no empty one", FileTypeChar,
       [&] { WriteText(Out, a126); WriteLineEnd(Out); }, {a126 + "\r\n"}, {}},
      {"character device: a final LF is followed by CR LF, unchanged", FileTypeChar,
       [] { WriteText(Out, "line\n"); WriteLineEnd(Out); }, {"line\n\r\n"}, {}},
      {"disk file: nothing before the end, then all of it", FileTypeDisk,
       [] { WriteText(Out, "n="); WriteInteger(Out, 7); WriteLineEnd(Out); FlushText(Out); },
       {}, {"n=7\r\n"}},
      {"pipe: whole 128-byte writes, the rest at the end", FileTypePipe,
       [&] { WriteText(Out, c300); WriteLineEnd(Out); },
       {c300.substr(0, 128), c300.substr(128, 128)}, {c300.substr(256) + "\r\n"}},
      {"disk file: WriteCharacter finding the buffer full sends it first", FileTypeDisk,
       [&] {
         WriteText(Out, a126 + "b");
         WriteCharacter(Out, 'x');  // fills the buffer
         WriteCharacter(Out, 'y');  // finds it full
       },
       {a126 + "bx"}, {"y"}},
      {"character device: text not yet pushed goes out at the end", FileTypeChar,
       [] { WriteText(Out, "no line end"); }, {}, {"no line end"}},
      {"nothing written: nothing at the end either", FileTypeDisk, [] {}, {}, {}},
  };
  // clang-format on
  for (const BufferCase& c : cases) {
    SCOPED_TRACE(c.what);
    Restart(c.fileType);
    c.group();
    EXPECT_EQ(TakeIOResult(), 0);
    EXPECT_TRUE(Writes(c.atGroupEnd)) << "at the group's end";
    std::vector<std::string> all = c.atGroupEnd;
    all.insert(all.end(), c.atEnd.begin(), c.atEnd.end());
    DrainTextBuffer(ConsoleOutput);  // models program end
    EXPECT_TRUE(Writes(all)) << "at program end";
  }
}

TEST_F(RuntimeConsole, WritesIntegersInDecimal) {
  // clang-format off
  const std::pair<std::int32_t, const char*> cases[] = {
      {0, "0"},                          // one digit, no sign
      {7, "7"},
      {-1, "-1"},
      {2147483647, "2147483647"},        // the largest value
      {-2147483647 - 1, "-2147483648"},  // the most negative value has no positive twin
      {1000000, "1000000"},              // no grouping
  };
  // clang-format on
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    Restart(FileTypeChar);
    WriteInteger(Out, value);
    FlushText(Out);
    EXPECT_TRUE(Writes({text}));
  }
}

TEST_F(RuntimeConsole, FailedWriteRecordsItsCodeAndDropsTheBuffer) {
  // Character device: the group's one write fails; the next group is clean.
  fake_->Fail(FakeSystem::Call::WriteFile, 1, ErrorDiskFull);
  WriteText(Out, "lost");
  WriteLineEnd(Out);
  ExpectRaises(112, "I/O error 112");
  WriteText(Out, "next");
  WriteLineEnd(Out);
  EXPECT_TRUE(Writes({"lost\r\n", "next\r\n"}));

  // Disk file: a full buffer fails and the rest of that write is dropped;
  // the later writes of the group still run, and their success keeps the code.
  Restart(FileTypeDisk);
  fake_->Fail(FakeSystem::Call::WriteFile, 1, ErrorBrokenPipe);
  WriteText(Out, std::string(200, 'z'));
  WriteText(Out, std::string(130, 'k'));
  WriteLineEnd(Out);
  ExpectRaises(109, "I/O error 109");
  DrainTextBuffer(ConsoleOutput);
  EXPECT_TRUE(Writes({std::string(128, 'z'), std::string(128, 'k'), "kk\r\n"}));
}

TEST_F(RuntimeConsole, UnusableStandardOutputGives103AtTheGroupsCheck) {
  // Unknown device type, and a standard handle that cannot be had.
  for (bool handleFails : {false, true}) {
    SCOPED_TRACE(handleFails ? "GetStdHandle fails" : "GetFileType says unknown");
    Restart(FileTypeUnknown);
    if (handleFails) {
      fake_->Fail(FakeSystem::Call::GetStdHandle, 1, ErrorInvalidHandle, FakeSystem::Always);
    }
    WriteText(Out, "banner");
    WriteInteger(Out, 5);
    WriteLineEnd(Out);
    EXPECT_EQ(TakeIOResult(), 103);
    DrainTextBuffer(ConsoleOutput);
    EXPECT_TRUE(Writes({}));
  }
}

TEST_F(RuntimeConsole, TheResultCodeIsKeptUntilTaken) {
  SetIOResult(5);
  WriteText(Out, "ok");  // a successful group in between
  WriteLineEnd(Out);
  EXPECT_EQ(TakeIOResult(), 5);
  EXPECT_EQ(TakeIOResult(), 0);      // taken twice: 0 the second time
  EXPECT_NO_THROW(CheckIOResult());  // code 0: nothing happens
  SetIOResult(2);
  ExpectRaises(2, "File not found");
  EXPECT_TRUE(Writes({"ok\r\n"}));
}

// ------------------------------------------------------ messages, reports

TEST(RuntimeErrors, InOutErrorMessages) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {106, "Invalid numeric input"},
      {32, "I/O error 32"},    // any other code: the number in decimal
      {103, "I/O error 103"},  // the runtime's own codes 102-105 have no text of their own
      {105, "I/O error 105"},
      {112, "I/O error 112"},
      {1117, "I/O error 1117"},
  };
  for (const auto& [code, message] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(InOutErrorMessage(code), message);
    const EInOutError error(code);
    EXPECT_EQ(error.Message, message);
    EXPECT_EQ(error.ErrorCode, code);
  }
}

void ExpectReport(const char* className, std::uintptr_t address, const std::string& message,
                  const std::string& report) {
  char out[256];
  const std::size_t length = FormatExceptionReport(out, sizeof out, className, "tessmark", address,
                                                   message.data(), message.size());
  EXPECT_TRUE(SameBytes(std::string(out, length), report));
}

TEST(RuntimeReport, ExceptionReportText) {
  ExpectReport("EInOutError", 0x1A2B, "I/O error 32",
               "Exception EInOutError in module tessmark at 00001A2B.\nI/O error 32.");
  const struct {
    std::uintptr_t address;
    std::string message;
    std::string tail;  // what follows "Exception E in module tessmark at "
    // clang-format off
  } cases[] = {
      {0, "Done.", "00000000.\nDone."},            // ends in a full stop: no second one
      {0xABCDEF, "", "00ABCDEF.\n"},               // empty: no full stop at all
      {0xDEADBEEF, "a.b", "DEADBEEF.\na.b."},      // a full stop inside does not count
      {0x10, "x\0y"s, "00000010.\nx\0y."s},       // a zero byte is part of the message
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    ExpectReport("E", c.address, c.message, "Exception E in module tessmark at " + c.tail);
  }
  // A buffer too small takes the report's first bytes and nothing beyond.
  char small[24];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(FormatExceptionReport(small, 20, "EInOutError", "tessmark", 0, "x", 1), 20u);
  EXPECT_TRUE(SameBytes(std::string(small, sizeof small), "Exception EInOutErro####"));
}

std::string RuntimeErrorReport(std::int32_t number, std::uintptr_t address) {
  char out[64];
  return std::string(out, FormatRuntimeErrorReport(out, sizeof out, number, address));
}

TEST(RuntimeReport, RuntimeErrorReportAlignsTheNumber) {
  EXPECT_EQ(RuntimeErrorReport(216, 0x40A1B2), "Runtime error 216 at 0040A1B2");
  EXPECT_EQ(RuntimeErrorReport(5, 0x10), "Runtime error   5 at 00000010");
  EXPECT_EQ(RuntimeErrorReport(42, 0xFFFFFFFF), "Runtime error  42 at FFFFFFFF");
}

TEST(RuntimeReport, DescribeFaultGivesClassAndMessage) {
  const struct {
    std::uint32_t code;
    const char* className;
    const char* message;
  } cases[] = {
      {ExceptionArrayBoundsExceeded, "ERangeError", "Range check error"},
      {ExceptionIntDivideByZero, "EDivByZero", "Division by zero"},
      {ExceptionIntOverflow, "EIntOverflow", "Integer overflow"},
      {ExceptionFltDivideByZero, "EZeroDivide", "Floating point division by zero"},
      {ExceptionFltOverflow, "EOverflow", "Floating point overflow"},
      {ExceptionFltUnderflow, "EUnderflow", "Floating point underflow"},
      {ExceptionFltDenormalOperand, "EUnderflow", "Floating point underflow"},
      {ExceptionFltInvalidOperation, "EInvalidOp", "Invalid floating point operation"},
      {ExceptionFltInexactResult, "EInvalidOp", "Invalid floating point operation"},
      {ExceptionFltStackCheck, "EInvalidOp", "Invalid floating point operation"},
      {ExceptionPrivilegedInstruction, "EPrivilege", "Privileged instruction"},
      {ExceptionStackOverflow, "EStackOverflow", "Stack overflow"},
      {ExceptionControlCExit, "EControlC", "Control-C hit"},
      // Any other code: upper-case hex without leading zeros.
      {ExceptionIllegalInstruction, "EExternalException", "External exception C000001D"},
      {ExceptionInPageError, "EExternalException", "External exception C0000006"},
      {0x1A, "EExternalException", "External exception 1A"},
  };
  char message[160];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_STREQ(DescribeFault(c.code, 0, false, 0, message, sizeof message), c.className);
    EXPECT_STREQ(message, c.message);
  }
  // An access violation names the code address, the kind of access and the data address.
  EXPECT_STREQ(DescribeFault(ExceptionAccessViolation, 0x40A1B2, true, 0, message, sizeof message),
               "EAccessViolation");
  EXPECT_STREQ(message, "Access violation at address 0040A1B2. Write of address 00000000");
  DescribeFault(ExceptionAccessViolation, 0x1000, false, 0xB0, message, sizeof message);
  EXPECT_STREQ(message, "Access violation at address 00001000. Read of address 000000B0");
  // The exception object names its code the same way.
  EXPECT_EQ(EExternalException(ExceptionIllegalInstruction).Message, "External exception C000001D");
  EXPECT_EQ(EExternalException(0x1A).Message, "External exception 1A");
  EXPECT_EQ(EExternalException(0x1A).ExceptionCode, 0x1Au);
}

}  // namespace
