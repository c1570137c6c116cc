// End-to-end cases of the Windows build only: exact command lines through
// the system's own command-line string, share modes held by another
// process, a missing or character-device standard output, the file names
// that Windows reads in its own way (drives, '\', a final '.', case, the
// 260-byte path limit), input from a named pipe, outputs with the hidden or
// system attribute, and the one thread of a run. The other cases run on
// both builds from the shared test files.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

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

/// Waits until a helper has made the file `marker`, which it does once its
/// file or pipe is ready.
::testing::AssertionResult MarkerAppears(ToolProcess& helper, const std::string& marker) {
  for (int waited = 0; !FileExists(marker); ++waited) {
    if (helper.HasEnded()) return ::testing::AssertionFailure() << "the helper ended first";
    if (waited >= 5000) return ::testing::AssertionFailure() << "the helper took too long";
    Sleep(2);
  }
  return ::testing::AssertionSuccess();
}

/// Runs `program` with exactly `commandLine` as its command-line string.
ToolRun RunWithCommandLine(const std::string& program, const std::string& commandLine,
                           const ScratchDirectory& dir, bool nulOutput = false) {
  WriteFileBytes(dir / "command-line", commandLine);
  std::vector<std::string> arguments = {"command-line", FullPath(program)};
  if (nulOutput) arguments.push_back("nul");
  return RunTool(FullPath(COMMAND_LAUNCHER_PATH), arguments, dir.Path());
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
  // clang-format off
  const CommandLineCase cases[] = {
      {"a quoted section joins the bytes around it", "tsm a\"b c\"d", "",
       tessmark_text::Refuses("ab cd"), 2, ""},
      {"a lone pair of quotes is no argument", "tsm \"\"", "", tessmark_text::Usage, 0, ""},
      {"a pair of quotes before the input", "tsm \"\" in.euc", "in.euc", tessmark_text::Success, 0,
       "in.SJS"},
      {"an unclosed quote runs to the end", "tsm \"ab c\tx", "",
       tessmark_text::Refuses("ab c\tx"), 2, ""},
      {"a tab separates", "tsm in.euc\tout.sjs", "in.euc", tessmark_text::Success, 0, "out.sjs"},
      {"a control byte separates", "tsm\x01in.euc\x1Fout.sjs\x0D\x0A", "in.euc",
       tessmark_text::Success, 0, "out.sjs"},
      {"bytes of 0x80 and above stay", "tsm \xA4\xA2\x80\xFF.euc", "",
       tessmark_text::Refuses("\xA4\xA2\x80\xFF.euc"), 2, ""},
      {"a quoted program name with a space", "\"C:\\My Tools\\tsm\" in.euc o.sjs", "in.euc",
       tessmark_text::Success, 0, "o.sjs"},
  };
  // clang-format on
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
  EXPECT_EQ(run.Stdout, tessmark_text::Success);
  EXPECT_EQ(Hex(ReadFileBytes(dir / "\xE4\xF6\xFC.SJS")), Hex(Converted));
}

TEST(Win32CommandLine, CorvaneTakesTheDefaultNameAfterEmptyPairs) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "Edict", Dictionary);
  ToolRun run = RunWithCommandLine(CORVANE_PATH, "corvane \"\" \"\"", dir);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout,
            corvane_text::Banner + corvane_text::Loading("Edict") + corvane_text::WritingDone);
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
  ASSERT_TRUE(MarkerAppears(holder, dir / "held")) << "holding " << c.Held;
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
    EXPECT_EQ(run.Stdout,
              corvane_text::Banner +
                  (held == "x" ? corvane_text::OpenError("x")
                               : corvane_text::Loading("x") + corvane_text::OpenError("x.IND")));
  } else {
    EXPECT_EQ(run.Stdout, tessmark_text::Refuses(held));
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
  // clang-format off
  const NameCase cases[] = {
      // The scratch directory is the current one on drive C:.
      {"a drive-relative name", "", "words", {"C:words"}, "words.SJS"},
      {"'\\' ends the extension search", "dict.old", "dict.old\\words", {"dict.old\\words"},
       "dict.old\\words.SJS"},
      // Windows drops a final '.' of a name: "words." opens "words".
      {"a final dot", "", "words", {"words."}, "words.SJS"},
  };
  // clang-format on
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory dir;
    if (!c.Directory.empty()) CreateDirectoryA((dir / c.Directory).c_str(), nullptr);
    WriteFileBytes(dir / c.Input, Text);
    ToolRun run = RunTool(TESSMARK_PATH, c.Arguments, dir.Path());
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Stdout, tessmark_text::Success);
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
    EXPECT_EQ(run.Stdout, tessmark_text::Refuses(c.Refused));
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
  EXPECT_EQ(run.Stdout, tessmark_text::Refuses(output));
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

// --- Input from a named pipe -----------------------------------------------------

// The server writes 3 bytes at a time, so requests come back short and
// characters arrive split; the last line has no line end and stops at the
// pipe's end, whether the server closes its end or disconnects the client
// first. No form of the name may take an instance before the real open
// (a one-instance pipe would then refuse it), and the bytes read in the
// request that meets the pipe's end belong to the input.
TEST(Win32NamedPipe, InputIsReadToThePipesEnd) {
  const struct {
    const char* Note;
    int Instances;
    std::string Prefix;            // the pipe's name follows
    const char* Ending = "close";  // or "disconnect": the server disconnects first
  } cases[] = {
      {"one instance", 1, "\\\\.\\pipe\\"},
      {"disconnected by its server", 1, "\\\\.\\pipe\\", "disconnect"},
      {"disconnected, two instances", 2, "\\\\.\\pipe\\", "disconnect"},
      {"two instances", 2, "\\\\.\\pipe\\"},
      {"'/' and another case", 1, "//./PIPE/"},
      {"the literal device prefix", 1, "\\\\?\\pipe\\"},
      {"through '..' and the Global link", 1, "\\\\.\\x\\..\\Global\\pipe\\"},
      {"from the root of the object names", 1, "\\\\.\\GLOBALROOT\\Device\\NamedPipe\\"},
  };
  const std::string input = Repeat(Text, 20) + "\xB0\xA1 end";
  const std::string converted = Repeat(Converted, 20) + "\x88\x9F end\r\n";
  int served = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory dir;
    WriteFileBytes(dir / "data", input);
    const std::string name =
        "tessmark-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++served);
    ToolProcess server(FullPath(PIPE_SERVER_PATH),
                       {name, std::to_string(c.Instances), "data", "ready", c.Ending}, dir.Path());
    ASSERT_TRUE(MarkerAppears(server, dir / "ready"));
    ToolRun run = RunTool(TESSMARK_PATH, {c.Prefix + name, "out.sjs"}, dir.Path());
    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Stdout, tessmark_text::Success);
    EXPECT_EQ(run.Stderr, "");
    EXPECT_TRUE(SameBytes(ReadFileBytes(dir / "out.sjs"), converted));
  }
}

// --- Hidden and system files ----------------------------------------------------

// An existing output or index with the hidden or system attribute is not
// replaced, as a create with plain attributes is refused on it.
TEST(Win32Attributes, HiddenAndSystemFilesAreNotReplaced) {
  for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    for (bool corvane : {false, true}) {
      SCOPED_TRACE(std::string(corvane ? "corvane" : "tessmark") +
                   (attribute == FILE_ATTRIBUTE_HIDDEN ? ", hidden" : ", system"));
      ScratchDirectory dir;
      WriteFileBytes(dir / "in.euc", Text);
      WriteFileBytes(dir / "x", Dictionary);
      const std::string made = corvane ? "x.IND" : "out.sjs";
      WriteFileBytes(dir / made, "old bytes");
      ASSERT_TRUE(SetFileAttributesA((dir / made).c_str(), attribute));
      ToolRun run = corvane ? RunTool(CORVANE_PATH, {"x"}, dir.Path())
                            : RunTool(TESSMARK_PATH, {"in.euc", "out.sjs"}, dir.Path());
      EXPECT_EQ(run.ExitStatus, 2);
      EXPECT_EQ(run.Stdout, corvane ? corvane_text::Banner + corvane_text::Loading("x") +
                                          corvane_text::OpenError("x.IND")
                                    : tessmark_text::Refuses("out.sjs"));
      EXPECT_EQ(ReadFileBytes(dir / made), "old bytes");
      SetFileAttributesA((dir / made).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

// --- One thread ------------------------------------------------------------------

// The count before start-up is what a plain program shows under the same
// system.
TEST(Win32Threads, StartUpStartsNoThread) {
  ScratchDirectory dir;
  ToolRun run = RunTool(FAULT_RAISER_PATH, {"threads"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  std::smatch counts;
  ASSERT_TRUE(
      std::regex_match(run.Stdout, counts, std::regex("before the fault ([0-9]+) ([0-9]+)\r\n")))
      << run.Stdout;
  EXPECT_EQ(counts[2], counts[1]) << "threads after start-up, and before";
}

}  // namespace
