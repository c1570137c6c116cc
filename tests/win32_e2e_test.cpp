// End-to-end cases of the Windows build only: exact command lines through
// the system's own command-line string, share modes held by another
// process, a missing or character-device standard output, and the file
// names that Windows reads in its own way (drives, '\', a final '.', case,
// the 260-byte path limit). The other cases run on both builds from the
// shared test files.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

const std::string TessmarkBanner =
    "Tessmark v1.0\n"
    "Converts a text file from EUC-JP to Shift_JIS, line by line.\n"
    "Lines are written with CR LF; bytes outside JIS X 0208 pass unchanged.\n"
    "\r\n";
const std::string TessmarkSuccess = TessmarkBanner + "Converting... done!\r\n";
const std::string TessmarkUsage =
    TessmarkBanner + "USAGE: Tessmark inputfilename.euc outputfilename.sjs\n\r\n";
const std::string CorvaneBanner = "Corvane Test v0.2\n\r\n";

std::string TessmarkRefuses(const std::string& name) {
  return TessmarkBanner + "Can not open/creat file: " + name + "\r\n";
}

std::string CorvaneRefuses(const std::string& name) {
  return CorvaneBanner + "Error while opening file or file not found: " + name + "\r\n";
}

std::string CorvaneLoaded(const std::string& name) {
  return CorvaneBanner + "Loading: [" + name + "] done!\r\n";
}

// tessmark's input and its conversion; corvane's dictionary and its index.
const std::string Text = "\xA4\xA2\xA4\xA4 \xB0\xA1\r\n";
const std::string Converted = "\x82\xA0\x82\xA2 \x88\x9F\r\n";
const std::string Dictionary = "a b\n";
const std::string DictionaryIndex("\x02\x00\x03\x00", 4);

/// The full Windows path of a program built beside the tests: the child
/// starts in the scratch directory, on another drive.
std::string FullPath(const std::string& name) {
  char path[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(name.c_str(), sizeof path, path, nullptr);
  return length == 0 || length >= sizeof path ? name : std::string(path, length);
}

/// Runs `program` with exactly `commandLine` as its command-line string.
ToolRun RunWithCommandLine(const std::string& program, const std::string& commandLine,
                           const ScratchDirectory& dir, bool nulOutput = false) {
  WriteFileBytes(dir / "command-line", commandLine);
  std::vector<std::string> arguments = {"command-line", FullPath(program)};
  if (nulOutput) arguments.push_back("nul");
  return RunTool(FullPath(COMMAND_LAUNCHER_PATH), arguments, dir.Path());
}

/// The unhandled-exception report of an EInOutError with `code`, its code
/// address in 8 hexadecimal digits.
::testing::AssertionResult IsIOReport(const std::string& text, const std::string& module,
                                      int code) {
  const std::string head = "Exception EInOutError in module " + module + " at ";
  const std::string tail = ".\nI/O error " + std::to_string(code) + ".\r\n";
  bool shaped = text.size() == head.size() + 8 + tail.size() &&
                text.compare(0, head.size(), head) == 0 &&
                text.compare(head.size() + 8, tail.size(), tail) == 0 &&
                text.find_first_not_of("0123456789ABCDEF", head.size()) == head.size() + 8;
  if (shaped) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not the report of I/O error " << code << ": [" << text
                                       << "]";
}

// --- The command line, byte for byte ------------------------------------------

struct CommandLineCase {
  const char* Note;
  std::string Line;    // the whole command line; "tsm" stands for the program
  std::string Input;   // created before the run when not empty
  std::string Stdout;  // exact
  int Status;
  std::string Output;  // the file the run must create, when not empty
};

TEST(Win32CommandLine, TessmarkSplitsTheSystemsCommandLine) {
  const CommandLineCase cases[] = {
      {"a quoted section joins the bytes around it", "tsm a\"b c\"d", "",
       TessmarkRefuses("ab cd"), 2, ""},
      {"a lone pair of quotes is no argument", "tsm \"\"", "", TessmarkUsage, 0, ""},
      {"a pair of quotes before the input", "tsm \"\" in.euc", "in.euc", TessmarkSuccess, 0,
       "in.SJS"},
      {"an unclosed quote runs to the end", "tsm \"ab c\tx", "", TessmarkRefuses("ab c\tx"), 2,
       ""},
      {"a tab separates", "tsm in.euc\tout.sjs", "in.euc", TessmarkSuccess, 0, "out.sjs"},
      {"a control byte separates", "tsm\x01in.euc\x1Fout.sjs\x0D\x0A", "in.euc",
       TessmarkSuccess, 0, "out.sjs"},
      {"bytes of 0x80 and above stay", "tsm \xA4\xA2\x80\xFF.euc", "",
       TessmarkRefuses("\xA4\xA2\x80\xFF.euc"), 2, ""},
      {"a quoted program name with a space", "\"C:\\My Tools\\tsm\" in.euc o.sjs", "in.euc",
       TessmarkSuccess, 0, "o.sjs"},
  };
  for (const CommandLineCase& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory dir;
    if (!c.Input.empty()) WriteFileBytes(dir / c.Input, Text);
    ToolRun run = RunWithCommandLine(TESSMARK_PATH, c.Line, dir);
    EXPECT_EQ(run.ExitStatus, c.Status);
    EXPECT_EQ(Hex(run.Stdout), Hex(c.Stdout)) << run.Stdout;
    EXPECT_EQ(run.Stderr, "");
    if (!c.Output.empty()) {
      EXPECT_EQ(Hex(ReadFileBytes(dir / c.Output)), Hex(Converted));
    }
  }
}

TEST(Win32CommandLine, NamesWithBytesOf0x80AndAboveReachTheFileSystem) {
  CPINFO codePage{};
  if (!GetCPInfo(CP_ACP, &codePage) || codePage.MaxCharSize != 1) {
    GTEST_SKIP() << "the ANSI code page is not a single-byte one";
  }
  ScratchDirectory dir;
  WriteFileBytes(dir / "\xE4\xF6\xFC.euc", Text);
  ToolRun run = RunWithCommandLine(TESSMARK_PATH, "tsm \xE4\xF6\xFC.euc", dir);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, TessmarkSuccess);
  EXPECT_EQ(Hex(ReadFileBytes(dir / "\xE4\xF6\xFC.SJS")), Hex(Converted));
}

TEST(Win32CommandLine, CorvaneTakesTheDefaultNameAfterEmptyPairs) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "Edict", Dictionary);
  ToolRun run = RunWithCommandLine(CORVANE_PATH, "corvane \"\" \"\"", dir);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, CorvaneLoaded("Edict") + "\rWriting... done!\r\n");
  EXPECT_EQ(Hex(ReadFileBytes(dir / "Edict.IND")), Hex(DictionaryIndex));
}

// --- Share modes held by another process ----------------------------------------

struct ShareCase {
  const char* Note;
  bool Corvane;
  const char* Held;    // the file the holder keeps open
  const char* Access;  // the holder's access: r, w, rw
  const char* Share;   // the holder's share mode: none, r, w, rw
  bool Refused;        // whether the run meets a sharing violation
};

// corvane reads its dictionary sharing reading only and creates its index,
// for reading and writing, sharing reading only; tessmark reads its input
// sharing writing only and creates its output, for writing, sharing reading
// only.
const ShareCase ShareCases[] = {
    {"dictionary read by another", true, "x", "r", "r", false},
    {"dictionary written by another", true, "x", "w", "rw", true},
    {"dictionary held without sharing reading", true, "x", "r", "w", true},
    {"index read by another that shares writing", true, "x.IND", "r", "rw", false},
    {"index read by another that shares reading only", true, "x.IND", "r", "r", true},
    {"input written by another", false, "in.euc", "w", "rw", false},
    {"input read by another", false, "in.euc", "r", "rw", true},
    {"output read by another", false, "out.sjs", "r", "rw", false},
    {"output written by another", false, "out.sjs", "w", "rw", true},
};

void PrintTo(const ShareCase& c, std::ostream* out) { *out << c.Note; }

class Win32ShareModes : public ::testing::TestWithParam<ShareCase> {};

TEST_P(Win32ShareModes, OpenFailsExactlyWhereTheModesConflict) {
  const ShareCase& c = GetParam();
  ScratchDirectory dir;
  WriteFileBytes(dir / "x", Dictionary);
  WriteFileBytes(dir / "x.IND", "old index");
  WriteFileBytes(dir / "in.euc", Text);
  WriteFileBytes(dir / "out.sjs", "old output");
  ToolProcess holder(FullPath(FILE_HOLDER_PATH), {c.Held, c.Access, c.Share, "held"}, dir.Path());
  for (int waited = 0; !FileExists(dir / "held"); ++waited) {
    ASSERT_FALSE(holder.HasEnded()) << "the holder could not open " << c.Held;
    ASSERT_LT(waited, 5000) << "the holder did not open " << c.Held;
    Sleep(2);
  }
  ToolRun run = c.Corvane ? RunTool(CORVANE_PATH, {"x"}, dir.Path())
                          : RunTool(TESSMARK_PATH, {"in.euc", "out.sjs"}, dir.Path());
  EXPECT_EQ(run.Stderr, "");
  if (!c.Refused) {
    EXPECT_EQ(run.ExitStatus, 0);
    if (c.Corvane) {
      EXPECT_EQ(Hex(ReadFileBytes(dir / "x.IND")), Hex(DictionaryIndex));
    } else {
      EXPECT_EQ(Hex(ReadFileBytes(dir / "out.sjs")), Hex(Converted));
    }
    return;
  }
  EXPECT_EQ(run.ExitStatus, 2);
  std::string held = c.Held;
  if (c.Corvane) {
    EXPECT_EQ(run.Stdout, held == "x" ? CorvaneRefuses("x") : CorvaneLoaded("x") +
                          "Error while opening file or file not found: x.IND\r\n");
  } else {
    EXPECT_EQ(run.Stdout, TessmarkRefuses(held));
  }
  // Nothing was replaced.
  EXPECT_EQ(ReadFileBytes(dir / "x.IND"), "old index");
  EXPECT_EQ(ReadFileBytes(dir / "out.sjs"), "old output");
}

INSTANTIATE_TEST_SUITE_P(EachFile, Win32ShareModes, ::testing::ValuesIn(ShareCases));

// --- Standard output ------------------------------------------------------------

// With no standard output handle at all, the banner's group fails with code
// 103; the report goes to standard error and no file is touched.
TEST(Win32StandardOutput, NoHandleReports103OnStandardError) {
  for (bool corvane : {false, true}) {
    SCOPED_TRACE(corvane ? "corvane" : "tessmark");
    ScratchDirectory dir;
    WriteFileBytes(dir / "in.euc", Text);
    WriteFileBytes(dir / "x", Dictionary);
    ToolRun run = corvane ? RunTool(CORVANE_PATH, {"x"}, dir.Path(), StdoutTarget::Closed)
                          : RunTool(TESSMARK_PATH, {"in.euc"}, dir.Path(), StdoutTarget::Closed);
    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(IsIOReport(run.Stderr, corvane ? "corvane.exe" : "tessmark.exe", 103));
    EXPECT_FALSE(FileExists(dir / "x.IND"));
    EXPECT_FALSE(FileExists(dir / "in.SJS"));
  }
}

// A pipe that no process reads: the banner's buffer fails with the system's
// error for a closing pipe, 232, reported on standard error.
TEST(Win32StandardOutput, PipeWithoutReaderReports232) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  ToolRun run = RunTool(TESSMARK_PATH, {"in.euc"}, dir.Path(), StdoutTarget::BrokenPipe);
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(IsIOReport(run.Stderr, "tessmark.exe", 232));
  EXPECT_FALSE(FileExists(dir / "in.SJS"));
}

// NUL is a character device: every group is pushed out, and nothing fails.
TEST(Win32StandardOutput, NulDeviceTakesEverything) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  ToolRun run = RunWithCommandLine(TESSMARK_PATH, "tsm in.euc", dir, true);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, "");
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(Hex(ReadFileBytes(dir / "in.SJS")), Hex(Converted));
}

// --- File names as Windows reads them ----------------------------------------

struct NameCase {
  const char* Note;
  std::string Directory;  // made before the run when not empty
  std::string Input;      // the file created before the run
  std::vector<std::string> Arguments;
  std::string Output;  // the file the run must create
};

TEST(Win32Names, DerivedOutputNames) {
  const NameCase cases[] = {
      // The scratch directory is the current one on drive C:.
      {"a drive-relative name", "", "words", {"C:words"}, "words.SJS"},
      {"'\\' ends the extension search", "dict.old", "dict.old\\words", {"dict.old\\words"},
       "dict.old\\words.SJS"},
      // Windows drops a final '.' of a name: "words." opens "words".
      {"a final dot", "", "words", {"words."}, "words.SJS"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory dir;
    if (!c.Directory.empty()) CreateDirectoryA((dir / c.Directory).c_str(), nullptr);
    WriteFileBytes(dir / c.Input, Text);
    ToolRun run = RunTool(TESSMARK_PATH, c.Arguments, dir.Path());
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Stdout, TessmarkSuccess);
    EXPECT_EQ(Hex(ReadFileBytes(dir / c.Output)), Hex(Converted));
  }
}

// Names that designate the input on Windows, case-insensitive names and the
// other separator included, are refused before the input is emptied.
TEST(Win32Names, OutputThatIsTheInputIsRefused) {
  struct Case {
    const char* Note;
    std::string Input;
    std::vector<std::string> Arguments;
    std::string Refused;  // the name in the message
  } cases[] = {
      {"same name", "in.euc", {"in.euc", "in.euc"}, "in.euc"},
      {"another case", "in.euc", {"in.euc", "IN.EUC"}, "IN.EUC"},
      {"through '.\\'", "in.euc", {"in.euc", ".\\in.euc"}, ".\\in.euc"},
      {"a hard link", "in.euc", {"in.euc", "hard.sjs"}, "hard.sjs"},
      {"derived name in another case", "x.sjs", {"x.sjs"}, "x.SJS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory dir;
    WriteFileBytes(dir / c.Input, Text);
    ASSERT_TRUE(CreateHardLinkA((dir / "hard.sjs").c_str(), (dir / c.Input).c_str(), nullptr));
    ToolRun run = RunTool(TESSMARK_PATH, c.Arguments, dir.Path());
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(run.Stdout, TessmarkRefuses(c.Refused));
    EXPECT_EQ(ReadFileBytes(dir / c.Input), Text);
  }
}

// A name of 260 bytes and more goes to the system whole, which refuses it:
// an ordinary open failure naming it whole, and no file of a shortened name.
TEST(Win32Names, NamesBeyondTheSystemLimitAreRefusedWhole) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", Text);
  const std::string directory = "d/" + std::string(200, 'b');
  ASSERT_TRUE(CreateDirectoryA((dir / "d").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((dir / directory).c_str(), nullptr));
  const std::string output = directory + "/" + std::string(60, 'c') + ".sjs";
  ASSERT_GE(output.size(), 260u);
  ToolRun run = RunTool(TESSMARK_PATH, {"in.euc", output}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 2);
  EXPECT_EQ(run.Stdout, TessmarkRefuses(output));
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((dir / directory + "/*").c_str(), &found);
  int entries = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (found.cFileName[0] != '.') ++entries;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(entries, 0) << "a file of a shortened name was created";
}

}  // namespace
