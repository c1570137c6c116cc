// End-to-end tests of tessmark: the built program runs in a scratch directory
// with standard output redirected; standard output, the output file and the
// exit status are compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

const std::string Program = TESSMARK_PATH;

using namespace tessmark_text;

// Sorted names of the entries of a directory: shows what a run created.
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

// --- Line framing and conversion: input bytes -> output bytes -------------

struct Conversion {
  const char* Label;
  std::string Input;
  std::string Output;
};

std::string Bytes(const char* text, std::size_t length) { return std::string(text, length); }

// clang-format off
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
    {"Line255", Repeat('x', 255) + "\r\n", Repeat('x', 255) + "\r\n"},
    {"Line256", Repeat('x', 256) + "\r\nz", Repeat('x', 256) + "\r\nz\r\n"},
    {"Line510", Repeat('x', 510), Repeat('x', 510) + "\r\n"},
    // A line over several 128-byte blocks and an output over several blocks.
    {"Line1000", Repeat('y', 1000) + "\r\n" + Repeat('z', 3), Repeat('y', 1000) + "\r\n" + Repeat('z', 3) + "\r\n"},
    // Exactly one block then CR LF in the next one.
    {"Line128", Repeat('x', 128) + "\r\nb", Repeat('x', 128) + "\r\nb\r\n"},
    // CR as the last byte of a block, LF the first of the next: one line end.
    {"CrLfAcrossBlocks", Repeat('x', 127) + "\r\nb", Repeat('x', 127) + "\r\nb\r\n"},
    // CR ending a block and a non-LF starting the next: a lone CR.
    {"CrAcrossBlocks", Repeat('x', 127) + "\rb", Repeat('x', 127) + "\r\nb\r\n"},
    // 26 as the first byte of the second block ends the input there.
    {"EndMarkStartsBlock", Repeat('x', 128) + "\x1A" "b", Repeat('x', 128) + "\r\n"},
    // Many short lines: the output is written in blocks plus a remainder.
    {"ManyLines", Repeat("line\r\n", 100), Repeat("line\r\n", 100)},
    // EUC-JP reaches the transcoder: hiragana, kanji, and an unconverted tail.
    {"EucJp", "\xA4\xA2\xA4\xA4 \xB0\xA1\r\n\xA4\r\n",
     "\x82\xA0\x82\xA2 \x88\x9F\r\n\xA4\r\n"},
    // A pair split by a block boundary is still one character of the line.
    {"EucJpAcrossBlocks", Repeat('x', 127) + "\xA4\xA2", Repeat('x', 127) + "\x82\xA0\r\n"},
};
// clang-format on

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
  EXPECT_TRUE(SameBytes(output, row.Output, "output"));
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

// --- Usage -----------------------------------------------------------------
// Files that cannot be opened or created, and an unusable standard output,
// are cases of fault_matrix_e2e_test.cpp.

TEST(Tessmark, NoArgumentPrintsUsageAndCreatesNothing) {
  ScratchDirectory dir;
  ToolRun run = RunTool(Program, {}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, Usage);
  EXPECT_EQ(Entries(dir.Path()), Names{});
}

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
  const std::string first = Repeat('a', 200);
  const std::string second = Repeat('b', 200);
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
  EXPECT_TRUE(IsIOReport(run.Stdout, "tessmark", 112, Banner + "Converting..."));
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(ReadFileBytes(dir / "in.euc"), "abc\r\n");
}

}  // namespace
