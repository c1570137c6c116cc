// Big inputs, opt-in (DICT_BIG_TESTS=1): corvane on a dictionary larger than
// 2 GiB, beyond any 32-bit size, tessmark on a file larger than 2 GiB and on
// a single line of 100 MiB, far beyond the 16-bit scan position of a line.
// They run on 32-bit builds too, where a dictionary that the address space
// cannot hold must end in the out-of-memory report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

bool BigTestsEnabled() {
  const char* value = std::getenv("DICT_BIG_TESTS");
  return value != nullptr && std::string(value) == "1";
}

#define SKIP_UNLESS_BIG_TESTS_ENABLED()                                                \
  do {                                                                                 \
    if (!BigTestsEnabled())                                                            \
      GTEST_SKIP() << "big-input tests are opt-in: set DICT_BIG_TESTS=1 to run them "  \
                      "(they need about 2.5 GB of memory and 2.5 GB of disk in /tmp)"; \
  } while (false)

/// Seconds taken by `action`, for the log: the tests assert nothing on time.
template <typename Action>
double Timed(Action action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uint64_t FreeBytes(const std::string& directory) {
  struct statvfs info {};
  if (statvfs(directory.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

/// A sparse file of `size` bytes, zero but for `pieces` (offset, bytes).
::testing::AssertionResult MakeSparseFile(
    const std::string& path, std::uint64_t size,
    const std::vector<std::pair<std::uint64_t, std::string>>& pieces) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool made = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const auto& [offset, bytes] : pieces) {
    made = made && pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                       static_cast<ssize_t>(bytes.size());
  }
  if (fd >= 0 && close(fd) != 0) made = false;
  if (made) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "cannot make " << path << " of " << size << " bytes";
}

/// corvane's console text when the dictionary does not fit in memory.
bool IsOutOfMemoryReport(const std::string& console) {
  static const std::regex report(corvane_text::Banner +
                                 "Exception EOutOfMemory in module corvane at [0-9A-F]{8}\\.\n"
                                 "Out of memory\\.\r\n");
  return std::regex_match(console, report);
}

constexpr bool AddressesAre32Bit = sizeof(void*) == 4;

// --- corvane on a dictionary of more than 2 GiB -----------------------------

/// One line of the big dictionary: `Head` is written at `Offset`, the rest
/// of its `Length` bytes are left as a hole (0 bytes, ordinary line bytes),
/// and an LF follows unless the line is the unterminated tail.
struct BigLine {
  std::uint64_t Offset = 0;
  std::string Head;
  std::uint64_t Length = 0;
  std::string Record;  // empty for the tail, which gets none
};

class BigDictionary {
 public:
  /// Filler lines "F " + 0 bytes up to `end`, each at most 65,535 bytes long.
  void FillUpTo(std::uint64_t end) {
    while (end - size_ > 2 * 65536) AddFiller(65535);
    const std::uint64_t rest = end - size_;  // 2 lines: each from 32,768 to 65,536 bytes with LF
    AddFiller(rest / 2 - 1);
    AddFiller(rest - rest / 2 - 1);
  }
  void Add(const std::string& text, const std::string& record) {
    lines_.push_back({size_, text, text.size(), record});
    size_ += text.size() + 1;
  }
  void AddTail(const std::string& text) {
    lines_.push_back({size_, text, text.size(), ""});
    size_ += text.size();
  }
  std::uint64_t Size() const { return size_; }
  const std::vector<BigLine>& Lines() const { return lines_; }

 private:
  void AddFiller(std::uint64_t length) {
    // First space at position 2, no ']': SpacePos 2, BracketEnd 0.
    lines_.push_back({size_, "F ", length, Record(2, 0, static_cast<unsigned>(length))});
    size_ += length + 1;
  }
  std::vector<BigLine> lines_;
  std::uint64_t size_ = 0;
};

// EDICT lines of known records (the first two are the worked example).
const std::string EdictLine1 = "\xB0\xA1\xB0\xA2 [\xA4\xA2\xA4\xA4\xA4\xA6] /to test/";
const std::string EdictLine2 = "\xB0\xA1 /a/\r";
const std::string EdictLine3 =
    "\xB4\xC1\xBB\xFA [\xA4\xAB\xA4\xF3\xA4\xB8] /(n) Chinese characters/kanji/";
// ']' at 254 and the first space at 255: both positions at their limit.
const std::string LimitLine = std::string(253, 'x') + "] /gloss/";

constexpr std::uint64_t TwoGiB = std::uint64_t{1} << 31;

// The records of lines lying beyond 2^31 must be right, the whole file must
// be read, and each progress percentage must be floor(100 * j / size) for the
// offset j of the LF that ended the 255th, 511th, ... line.
TEST(CorvaneBigInput, IndexesADictionaryLargerThan2GiB) {
  SKIP_UNLESS_BIG_TESTS_ENABLED();
  ScratchDirectory dir;
  if (FreeBytes(dir.Path()) < (std::uint64_t{1} << 30))
    GTEST_SKIP() << "less than 1 GiB free in " << dir.Path();

  BigDictionary dictionary;
  dictionary.FillUpTo(TwoGiB - 10);  // the next line spans 2^31
  dictionary.Add(EdictLine1, Record(5, 14, 23));
  dictionary.Add(EdictLine2, Record(3, 0, 7));  // the CR counts in the length
  dictionary.Add(EdictLine3, Record(5, 14, 44));
  dictionary.Add(LimitLine, Record(255, 255, 262));
  dictionary.FillUpTo(TwoGiB + (std::uint64_t{48} << 20));
  dictionary.Add("]a b", Record(3, 2, 4));
  dictionary.AddTail("AB C");  // no LF: no record
  const std::uint64_t size = dictionary.Size();
  ASSERT_GT(size, TwoGiB);

  // A sparse file: only the line heads and the LF bytes are written.
  const std::string path = dir / "big.dict";
  std::vector<std::pair<std::uint64_t, std::string>> pieces;
  for (const BigLine& line : dictionary.Lines()) {
    pieces.emplace_back(line.Offset, line.Head);
    if (!line.Record.empty()) pieces.emplace_back(line.Offset + line.Length, "\n");
  }
  const double writeSeconds = Timed([&] { ASSERT_TRUE(MakeSparseFile(path, size, pieces)); });
  if (HasFatalFailure()) return;
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  ASSERT_EQ(static_cast<std::uint64_t>(info.st_size), size);

  std::string expectedIndex;
  std::string expectedStdout = corvane_text::Banner + corvane_text::Loading("big.dict");
  std::uint32_t records = 0;
  for (const BigLine& line : dictionary.Lines()) {
    if (line.Record.empty()) continue;
    expectedIndex += line.Record;
    if (++records % 256 == 255) {
      const std::uint64_t j = line.Offset + line.Length;  // the LF
      expectedStdout += corvane_text::Progress(100 * j / size);
    }
  }
  expectedStdout += corvane_text::WritingDone;

  ToolRun run;
  const double runSeconds = Timed([&] { run = RunTool(CORVANE_PATH, {"big.dict"}, dir.Path()); });
  const std::string index = ReadFileBytes(dir / "big.dict.IND");
  unlink(path.c_str());  // give the space back at once
  // More than half of a 32-bit address space in one block is more than most
  // 32-bit systems can give; the run must then end in the report.
  if (AddressesAre32Bit && IsOutOfMemoryReport(run.Stdout) && run.ExitStatus == 1 &&
      !FileExists(dir / "big.dict.IND")) {
    GTEST_SKIP() << "this 32-bit system cannot hold the " << size
                 << "-byte dictionary in memory; corvane gave the out-of-memory report";
  }
  std::cout << "[ BigInput ] corvane on " << size << " bytes (" << info.st_blocks * 512
            << " allocated), " << records << " lines: written in " << writeSeconds
            << " s, indexed in " << runSeconds << " s\n";

  EXPECT_EQ(run.ExitStatus, 0) << run.Stdout;
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(run.Stdout, expectedStdout);
  ASSERT_EQ(index.size(), expectedIndex.size());
  int reported = 0;
  std::size_t k = 0;
  for (const BigLine& line : dictionary.Lines()) {
    if (line.Record.empty()) continue;
    if (index.compare(4 * k, 4, line.Record) != 0 && reported++ < 5) {
      ADD_FAILURE() << "record " << k << " (line at offset " << line.Offset
                    << "): " << Hex(index.substr(4 * k, 4)) << ", expected " << Hex(line.Record);
    }
    ++k;
  }
}

// A dictionary larger than a 32-bit address space cannot be loaded: the
// out-of-memory report, status 1, and no index. Nothing is read, so the
// test is cheap and runs without DICT_BIG_TESTS.
TEST(CorvaneBigInput, ReportsExhaustedMemoryBeyondA32BitAddressSpace) {
  if (!AddressesAre32Bit) {
    GTEST_SKIP() << "a 64-bit build would load the whole 4 GiB dictionary; this case is for "
                    "32-bit builds";
  }
  ScratchDirectory dir;
  ASSERT_TRUE(MakeSparseFile(dir / "huge.dict", (std::uint64_t{1} << 32) + 4, {{0, "a b\n"}}));
  ToolRun run = RunTool(CORVANE_PATH, {"huge.dict"}, dir.Path());
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(IsOutOfMemoryReport(run.Stdout)) << run.Stdout;
  EXPECT_EQ(run.Stderr, "");
  EXPECT_FALSE(FileExists(dir / "huge.dict.IND"));
}

// --- tessmark on a file of more than 2 GiB ------------------------------------

// A first line of 2 GiB of zero bytes (a hole in a sparse file) whose last
// pair spans offset 2^31, then a line of kanji and a last line without a
// line end: on a 32-bit build too, the file opens and every byte is converted.
TEST(TessmarkBigInput, ConvertsAFileLargerThan2GiB) {
  SKIP_UNLESS_BIG_TESTS_ENABLED();
  ScratchDirectory dir;
  if (FreeBytes(dir.Path()) < (std::uint64_t{5} << 29))
    GTEST_SKIP() << "less than 2.5 GiB free in " << dir.Path();
  const std::uint64_t zeros = TwoGiB - 3;
  const std::string tailIn =
      "\xA4\xA2\xA4\xA4\r\n"
      "\xB0\xA1\xB4\xC1\r\n"
      "AB";
  const std::string tailOut =
      "\x82\xA0\x82\xA2\r\n"
      "\x88\x9F\x8A\xBF\r\n"
      "AB\r\n";
  ASSERT_TRUE(MakeSparseFile(dir / "big.euc", zeros + tailIn.size(), {{zeros, tailIn}}));

  ToolRun run;
  const double seconds = Timed([&] {
    run = RunTool(TESSMARK_PATH, {"big.euc", "big.sjs"}, dir.Path());
  });
  unlink((dir / "big.euc").c_str());
  std::cout << "[ BigInput ] tessmark on " << zeros + tailIn.size() << " bytes: " << seconds
            << " s\n";
  EXPECT_EQ(run.ExitStatus, 0) << run.Stdout;
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(run.Stdout, tessmark_text::Success);
  struct stat info {};
  ASSERT_EQ(stat((dir / "big.sjs").c_str(), &info), 0);
  ASSERT_EQ(static_cast<std::uint64_t>(info.st_size), zeros + tailOut.size());
  // The system's cmp reads the zeros: this test program may be 32-bit.
  EXPECT_EQ(ToolProcess("/usr/bin/cmp", {"-n", std::to_string(zeros), "big.sjs", "/dev/zero"},
                        dir.Path(), StdoutTarget::File, ProgramMachine::Host)
                .Finish(0)
                .ExitStatus,
            0)
      << "the output does not start with the input's zeros";
  std::string tail(tailOut.size(), '\0');
  int fd = open((dir / "big.sjs").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pread(fd, tail.data(), tail.size(), static_cast<off_t>(zeros)),
            static_cast<ssize_t>(tail.size()));
  close(fd);
  EXPECT_TRUE(SameBytes(tail, tailOut, "the end of the output"));
}

// --- tessmark on one line of 100 MiB ----------------------------------------

// A block whose conversion is known piece by piece (each piece ends where no
// pair can reach into the next): a hiragana, a kanji, 0xFF accepted in row 1,
// half-width katakana and a row-9 byte and row 84 cell 5 that each shift the
// scan, and JIS X 0212 whose last two bytes are taken as a kanji.
// One literal a character.
// clang-format off
const std::string BlockIn =
    "\xA4\xA2" "\xB0\xA1" "\xA1\xFF" "\x8E\xB1\xA4\xA2" "\n"
    "\xA9\xA1\xA4\xA2" "A" "\xF4\xA5\xA4\xA2" "\t" "\x8F\xB0\xA1" "B";
const std::string BlockOut =
    "\x82\xA0" "\x88\x9F" "\x81\x9F" "\x8E\x89\x43\xA2" "\n"
    "\xA9\x81\x43\xA2" "A" "\xF4\x83\x43\xA2" "\t" "\x8F\x88\x9F" "B";
// clang-format on

TEST(TessmarkBigInput, ConvertsASingleLineOf100MiB) {
  SKIP_UNLESS_BIG_TESTS_ENABLED();
  ScratchDirectory dir;
  constexpr std::size_t LineBytes = std::size_t{100} << 20;
  ASSERT_EQ(BlockIn.size(), 25u);
  ASSERT_EQ(BlockOut.size(), BlockIn.size());
  ASSERT_EQ(LineBytes % BlockIn.size(), 0u);

  std::string input, expected;
  input.reserve(LineBytes);
  expected.reserve(LineBytes + 2);
  for (std::size_t i = 0; i < LineBytes / BlockIn.size(); ++i) {
    input += BlockIn;
    expected += BlockOut;
  }
  expected += "\r\n";
  WriteFileBytes(dir / "line.euc", input);

  ToolRun run;
  const double seconds = Timed([&] {
    run = RunTool(TESSMARK_PATH, {"line.euc", "line.sjs"}, dir.Path());
  });
  std::cout << "[ BigInput ] tessmark on one line of " << LineBytes << " bytes: " << seconds
            << " s\n";
  EXPECT_EQ(run.ExitStatus, 0) << run.Stdout;
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(run.Stdout, tessmark_text::Success);
  const std::string output = ReadFileBytes(dir / "line.sjs");
  ASSERT_EQ(output.size(), expected.size());
  EXPECT_TRUE(SameBytes(output, expected, "output"));
}

}  // namespace
