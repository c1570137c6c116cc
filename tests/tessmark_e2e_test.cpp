// End-to-end tests of tessmark: the built program runs in a scratch directory
// with standard output redirected; standard output, the output file and the
// exit status are compared byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool_runner.h"

namespace {

const std::string Program = TESSMARK_PATH;

const std::string Banner =
    "Tessmark v1.0\n"
    "Converts a text file from EUC-JP to Shift_JIS, line by line.\n"
    "Lines are written with CR LF; bytes outside JIS X 0208 pass unchanged.\n"
    "\r\n";
const std::string Success = Banner + "Converting... done!\r\n";
const std::string Usage = Banner + "USAGE: Tessmark inputfilename.euc outputfilename.sjs\n\r\n";

std::string OpenFailure(const std::string& name) {
  return Banner + "Can not open/creat file: " + name + "\r\n";
}

// Sorted names of the entries of a directory: shows what a run created.
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

// Checks that `text` is exactly `before`, then the unhandled-exception report
// of an EInOutError with `code`, then CR LF. The address varies between
// builds, so only its form is checked: 8 upper-case hexadecimal digits.
void ExpectIOReport(const std::string& text, const std::string& before, int code) {
  const std::string head = before + "Exception EInOutError in module tessmark" DICT_EXE_SUFFIX " at ";
  const std::string tail = ".\nI/O error " + std::to_string(code) + ".\r\n";
  ASSERT_EQ(text.size(), head.size() + 8 + tail.size()) << text;
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(head.size() + 8), tail);
  for (char digit : text.substr(head.size(), 8))
    EXPECT_TRUE((digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F')) << text;
}

// --- Line framing and conversion: input bytes -> output bytes -------------

struct Conversion {
  const char* Label;
  std::string Input;
  std::string Output;
};

std::string Bytes(const char* text, std::size_t length) { return std::string(text, length); }
std::string Fill(char byte, std::size_t count) { return std::string(count, byte); }
std::string Repeat(const std::string& text, int count) {
  std::string out;
  while (count-- > 0) out += text;
  return out;
}

const Conversion Conversions[] = {
    // Nothing in, nothing out: not even a line end.
    {"Empty", "", ""},
    // CR alone ends each line.
    {"CrOnly", "ab\rcd\r", "ab\r\ncd\r\n"},
    // CR LF ends each line, and no empty line is added at the end.
    {"CrLf", "ab\r\ncd\r\n", "ab\r\ncd\r\n"},
    // LF is an ordinary byte: the whole input is one line.
    {"LfOnly", "ab\ncd\n", "ab\ncd\n\r\n"},
    // A lone CR inside a line ends it; the rest is the next line.
    {"LoneCr", "ab\rcd\r\n", "ab\r\ncd\r\n"},
    // CR then CR LF: the line, then an empty line.
    {"CrThenCrLf", "abc\r\r\n", "abc\r\n\r\n"},
    // CR LF right after a line end is an empty line.
    {"EmptyLine", "a\r\n\r\nb\r\n", "a\r\n\r\nb\r\n"},
    // LF CR: the LF stays in the first line, the CR ends it.
    {"LfCr", "a\n\rb", "a\n\r\nb\r\n"},
    // The last line without a line end still gets CR LF.
    {"NoFinalLineEnd", "abc", "abc\r\n"},
    // 26 mid-line: the bytes before it are written as a line, the rest dropped.
    {"EndMarkMidLine", "ab\x1A" "cd\r\nef\r\n", "ab\r\n"},
    // 26 right after a line end adds no line.
    {"EndMarkAfterLineEnd", "ab\r\n\x1A" "cd\r\n", "ab\r\n"},
    // 26 right after a CR: the CR's line is written, nothing more.
    {"EndMarkAfterCr", "ab\r\x1A\n", "ab\r\n"},
    // 26 as the first byte: an empty output.
    {"EndMarkFirst", "\x1A" "abc\r\n", ""},
    // 0 bytes are ordinary bytes, kept in place, even as a whole last line.
    {"ZeroBytes", Bytes("a\0b\r\n\0", 6), Bytes("a\0b\r\n\0\r\n", 8)},
    // One gathered piece exactly, then one byte more, then two pieces exactly.
    {"Line255", Fill('x', 255) + "\r\n", Fill('x', 255) + "\r\n"},
    {"Line256", Fill('x', 256) + "\r\nz", Fill('x', 256) + "\r\nz\r\n"},
    {"Line510", Fill('x', 510), Fill('x', 510) + "\r\n"},
    // A line over several 128-byte blocks and an output over several blocks.
    {"Line1000", Fill('y', 1000) + "\r\n" + Fill('z', 3), Fill('y', 1000) + "\r\n" + Fill('z', 3) + "\r\n"},
    // Exactly one block then CR LF in the next one.
    {"Line128", Fill('x', 128) + "\r\nb", Fill('x', 128) + "\r\nb\r\n"},
    // CR as the last byte of a block, LF the first of the next: one line end.
    {"CrLfAcrossBlocks", Fill('x', 127) + "\r\nb", Fill('x', 127) + "\r\nb\r\n"},
    // CR ending a block and a non-LF starting the next: a lone CR.
    {"CrAcrossBlocks", Fill('x', 127) + "\rb", Fill('x', 127) + "\r\nb\r\n"},
    // 26 as the first byte of the second block ends the input there.
    {"EndMarkStartsBlock", Fill('x', 128) + "\x1A" "b", Fill('x', 128) + "\r\n"},
    // Many short lines: the output is written in blocks plus a remainder.
    {"ManyLines", Repeat("line\r\n", 100), Repeat("line\r\n", 100)},
    // EUC-JP reaches the transcoder: hiragana, kanji, and an unconverted tail.
    {"EucJp", "\xA4\xA2\xA4\xA4 \xB0\xA1\r\n\xA4\r\n",
     "\x82\xA0\x82\xA2 \x88\x9F\r\n\xA4\r\n"},
    // A pair split by a block boundary is still one character of the line.
    {"EucJpAcrossBlocks", Fill('x', 127) + "\xA4\xA2", Fill('x', 127) + "\x82\xA0\r\n"},
};

// Failure messages name the row rather than dumping its bytes.
void PrintTo(const Conversion& row, std::ostream* out) { *out << row.Label; }

class TessmarkConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(TessmarkConversion, WritesExpectedBytes) {
  const Conversion& row = GetParam();
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", row.Input);
  ToolRun run = RunTool(Program, {"in.euc", "out.sjs"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(run.Stderr, "");
  bool exists = false;
  std::string output = ReadFileBytes(dir / "out.sjs", &exists);
  EXPECT_TRUE(exists);
  EXPECT_EQ(Hex(output), Hex(row.Output));
  EXPECT_EQ(ReadFileBytes(dir / "in.euc"), row.Input);
}

INSTANTIATE_TEST_SUITE_P(Tessmark, TessmarkConversion, ::testing::ValuesIn(Conversions),
                         [](const auto& info) { return std::string(info.param.Label); });

// --- Output names --------------------------------------------------------

struct Naming {
  const char* Label;
  std::string Directory;  // made before the run when not empty
  Names Arguments;        // the first one is the input, created before the run
  std::string Output;     // the file the run must create
};

const Naming Namings[] = {
    // No extension: ".SJS" is appended.
    {"NoExtension", "", {"words"}, "words.SJS"},
    // The extension is replaced.
    {"Extension", "", {"words.euc"}, "words.SJS"},
    // A lone final dot is an empty extension, replaced as well.
    {"TrailingDot", "", {"words."}, "words.SJS"},
    // A name that is all extension.
    {"OnlyExtension", "", {".euc"}, ".SJS"},
    // ':' ends the search for the dot.
    {"Colon", "", {"C:words"}, "C:words.SJS"},
    // '\' ends the search: the dot before it is not an extension.
    {"Backslash", "", {"dict.old\\words"}, "dict.old\\words.SJS"},
    // '/' ends the search: the output stays in the input's directory.
    {"Slash", "dict.old", {"dict.old/words"}, "dict.old/words.SJS"},
    // Only the last dot begins the extension.
    {"TwoDots", "", {"a.b.euc"}, "a.b.SJS"},
    // The upper-case ".SJS" whatever the case of the input name.
    {"LowerCaseSjs", "", {"x.sjs"}, "x.SJS"},
    // A second argument is used verbatim.
    {"SecondArgument", "", {"words.euc", "Out.txt"}, "Out.txt"},
    // Only the first two of three arguments are used.
    {"ThirdArgumentIgnored", "", {"words.euc", "out.sjs", "third"}, "out.sjs"},
    // An empty argument is no argument: the next one is the input.
    {"EmptyArgument", "", {"", "in.euc"}, "in.SJS"},
};

void PrintTo(const Naming& row, std::ostream* out) { *out << row.Label; }

class TessmarkNaming : public ::testing::TestWithParam<Naming> {};

TEST_P(TessmarkNaming, CreatesExactlyTheDerivedName) {
  const Naming& row = GetParam();
#ifdef DICT_TEST_WIN32
  // Windows reads these names otherwise: "C:" names a drive, '\' a directory,
  // a final '.' is dropped, and x.sjs and x.SJS are one file (see
  // win32_e2e_test.cpp).
  for (const char* label : {"Colon", "Backslash", "TrailingDot", "LowerCaseSjs"}) {
    if (std::string(row.Label) == label) GTEST_SKIP();
  }
#endif
  ScratchDirectory dir;
  if (!row.Directory.empty()) std::filesystem::create_directory(dir / row.Directory);
  const std::string& input = row.Arguments[0].empty() ? row.Arguments[1] : row.Arguments[0];
  WriteFileBytes(dir / input, "\xA4\xA2\r\n");
  ToolRun run = RunTool(Program, row.Arguments, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(ReadFileBytes(dir / row.Output), "\x82\xA0\r\n");
  // Nothing else is created: the input and the output are the only files.
  Names expected{input, row.Output};
  if (!row.Directory.empty()) {
    expected = {row.Directory};
    EXPECT_EQ(Entries(dir / row.Directory), (Names{"words", "words.SJS"}));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(dir.Path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Tessmark, TessmarkNaming, ::testing::ValuesIn(Namings),
                         [](const auto& info) { return std::string(info.param.Label); });

// --- Stops and refusals --------------------------------------------------

TEST(Tessmark, NoArgumentPrintsUsageAndCreatesNothing) {
  ScratchDirectory dir;
  ToolRun run = RunTool(Program, {}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Usage);
  EXPECT_EQ(Entries(dir.Path()), Names{});
}

// An input that cannot be opened: the message names it, nothing is created.
TEST(Tessmark, UnopenableInputStopsWithStatus2) {
  struct Row {
    const char* Label;
    Names Arguments;
  } rows[] = {
      {"missing, one argument", {"missing.euc"}},
      {"missing, two arguments", {"missing.euc", "out.sjs"}},
      {"a directory", {"adir"}},
      // A name the system refuses is shown whole, not cut.
      {"a component of 300 bytes", {Fill('n', 300)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Label);
    ScratchDirectory dir;
    std::filesystem::create_directory(dir / "adir");
    ToolRun run = RunTool(Program, row.Arguments, dir.Path());
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(run.Stdout, OpenFailure(row.Arguments[0]));
    EXPECT_EQ(Entries(dir.Path()), Names{"adir"});
    EXPECT_EQ(Entries(dir / "adir"), Names{});
  }
}

TEST(Tessmark, OutputInMissingDirectoryStopsWithStatus2) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", "abc\r\n");
  ToolRun run = RunTool(Program, {"in.euc", "missing/out.sjs"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 2);
  EXPECT_EQ(run.Stdout, OpenFailure("missing/out.sjs"));
  EXPECT_EQ(Entries(dir.Path()), Names{"in.euc"});
  EXPECT_EQ(ReadFileBytes(dir / "in.euc"), "abc\r\n");
}

#ifndef DICT_TEST_WIN32  // links are made with POSIX calls; see win32_e2e_test.cpp
// The output designating the input is refused before the input is emptied.
TEST(Tessmark, OutputThatIsTheInputIsRefused) {
  const std::string content = "\xA4\xA2 keep me\r\n";
  struct Row {
    const char* Label;
    std::string Input;
    Names Arguments;
    std::string Output;  // the name in the message
  } rows[] = {
      {"same name", "in.euc", {"in.euc", "in.euc"}, "in.euc"},
      {"same file by another path", "in.euc", {"in.euc", "./in.euc"}, "./in.euc"},
      {"hard link", "in.euc", {"in.euc", "hard.sjs"}, "hard.sjs"},
      {"symbolic link", "in.euc", {"in.euc", "soft.sjs"}, "soft.sjs"},
      {"derived name", "x.SJS", {"x.SJS"}, "x.SJS"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Label);
    ScratchDirectory dir;
    WriteFileBytes(dir / row.Input, content);
    ASSERT_EQ(link((dir / row.Input).c_str(), (dir / "hard.sjs").c_str()), 0);
    ASSERT_EQ(symlink(row.Input.c_str(), (dir / "soft.sjs").c_str()), 0);
    Names before = Entries(dir.Path());
    ToolRun run = RunTool(Program, row.Arguments, dir.Path());
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_EQ(run.Stdout, OpenFailure(row.Output));
    EXPECT_EQ(ReadFileBytes(dir / row.Input), content);
    EXPECT_EQ(Entries(dir.Path()), before);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "soft.sjs"));
  }
}
#endif

// --- Files ---------------------------------------------------------------

TEST(Tessmark, ExistingOutputIsReplaced) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", "ab\r\n");
  WriteFileBytes(dir / "out.sjs", "an older and much longer content\r\n");
  ToolRun run = RunTool(Program, {"in.euc", "out.sjs"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(ReadFileBytes(dir / "out.sjs"), "ab\r\n");
}

// Names over 259 bytes go to the system whole: no shortened name is created.
TEST(Tessmark, LongNamesAreNotCut) {
#ifdef DICT_TEST_WIN32
  GTEST_SKIP() << "Windows refuses paths of 260 bytes and more (see win32_e2e_test.cpp)";
#endif
  ScratchDirectory dir;
  const std::string first = Fill('a', 200);
  const std::string second = Fill('b', 200);
  std::filesystem::create_directories(dir / (first + "/" + second));
  const std::string input = first + "/" + second + "/words.euc";
  const std::string output = first + "/" + second + "/words.SJS";
  ASSERT_GT(output.size(), 259u);
  WriteFileBytes(dir / input, "ab\r\n");
  ToolRun run = RunTool(Program, {input}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(ReadFileBytes(dir / output), "ab\r\n");
  EXPECT_EQ(Entries(dir.Path()), Names{first});
  EXPECT_EQ(Entries(dir / first), Names{second});
  EXPECT_EQ(Entries(dir / (first + "/" + second)), (Names{"words.SJS", "words.euc"}));
}

// --- Standard output -----------------------------------------------------

TEST(Tessmark, PipedStandardOutputGetsTheSameBytes) {
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", "\xA4\xA2\r\n");
  ToolRun run = RunTool(Program, {"in.euc"}, dir.Path(), StdoutTarget::Pipe);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(ReadFileBytes(dir / "in.SJS"), "\x82\xA0\r\n");
}

// A failing output write is a checked failure: the fatal path reports it
// after the buffered "Converting...", and the partial output stays.
TEST(Tessmark, FailingOutputWriteTakesTheFatalPath) {
#ifdef DICT_TEST_WIN32
  GTEST_SKIP() << "Windows has no /dev/full";
#endif
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", "abc\r\n");
  ToolRun run = RunTool(Program, {"in.euc", "/dev/full"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 1);
  ExpectIOReport(run.Stdout, Banner + "Converting...", 112);
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(ReadFileBytes(dir / "in.euc"), "abc\r\n");
}

// Standard output that cannot take the banner: the report goes to standard
// error, and the run stops before any file is touched.
TEST(Tessmark, UnusableStandardOutputReportsOnStandardError) {
  struct Row {
    const char* Label;
    StdoutTarget Target;
    int Code;
  } rows[] = {
      {"closed", StdoutTarget::Closed, 103},
      {"/dev/full", StdoutTarget::DevFull, 112},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Label);
#ifdef DICT_TEST_WIN32
    if (row.Target == StdoutTarget::DevFull) continue;  // no such device on Windows
#endif
    ScratchDirectory dir;
    WriteFileBytes(dir / "in.euc", "abc\r\n");
    ToolRun run = RunTool(Program, {"in.euc"}, dir.Path(), row.Target);
    EXPECT_EQ(run.ExitStatus, 1);
    ExpectIOReport(run.Stderr, "", row.Code);
    EXPECT_EQ(ReadFileBytes(dir / "in.euc"), "abc\r\n");
    EXPECT_EQ(Entries(dir.Path()), Names{"in.euc"});
  }
}

}  // namespace
