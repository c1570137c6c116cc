// End-to-end tests of corvane: the built program runs in a scratch directory
// with standard output redirected to a file; its output bytes, the index
// bytes and the exit status are compared exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

using namespace corvane_text;

// The worked example: two lines, 32 bytes, the second ending in CR LF.
const std::string WorkedExample =
    "\xB0\xA1\xB0\xA2 [\xA4\xA2\xA4\xA4\xA4\xA6] /to test/\n"
    "\xB0\xA1 /a/\r\n";
const std::string WorkedIndex("\x05\x0E\x17\x00\x03\x00\x07\x00", 8);

// A valid 20-byte line (19 bytes and the LF) and its record.
const std::string Line20 = "ab [cd] efghijklmno\n";
const std::string Record20 = Record(3, 8, 19);
// A 20-byte line without a space.
const std::string BadLine20 = Repeat('z', 19) + "\n";
// A line of 45,000 bytes and the LF, and its record.
const std::string LongLine = "a " + Repeat('x', 44998) + "\n";
const std::string LongRecord = Record(2, 0, 45000);

/// Exit status, stdout and an empty stderr (the alert never reaches a file).
::testing::AssertionResult Ran(const ToolRun& run, const std::string& stdoutBytes, int status) {
  if (run.ExitStatus != status) {
    return ::testing::AssertionFailure() << "exit status " << run.ExitStatus << ", expected "
                                         << status << "; stdout [" << Hex(run.Stdout) << "]";
  }
  if (!run.Stderr.empty()) return ::testing::AssertionFailure() << "stderr: " << run.Stderr;
  return SameBytes(run.Stdout, stdoutBytes, "stdout");
}

ToolRun RunCorvane(const ScratchDirectory& scratch, const std::vector<std::string>& arguments) {
  return RunTool(CORVANE_PATH, arguments, scratch.Path());
}

// ---------------------------------------------------------------------------
// Dictionaries named "dict": content in, console text after the loading
// line, index and exit status out.

struct IndexCase {
  const char* Note;
  std::string Dictionary;
  std::string AfterLoading;
  std::string Index;
  int Status;
};

void RunIndexCases(const std::vector<IndexCase>& cases) {
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "dict", c.Dictionary);
    ToolRun run = RunCorvane(scratch, {"dict"});
    EXPECT_TRUE(Ran(run, Banner + Loading("dict") + c.AfterLoading, c.Status));
    bool exists = false;
    std::string index = ReadFileBytes(scratch / "dict.IND", &exists);
    EXPECT_TRUE(exists);
    EXPECT_TRUE(SameBytes(index, c.Index, "index"));
    EXPECT_EQ(ReadFileBytes(scratch / "dict"), c.Dictionary) << "dictionary changed";
  }
}

TEST(CorvaneIndex, LineFraming) {
  RunIndexCases({
      {"worked example", WorkedExample, WritingDone, WorkedIndex, 0},
      {"a final line without LF gets no record", WorkedExample + "AB C", WritingDone, WorkedIndex,
       0},
      {"no LF at all: empty index", "AB C", WritingDone, "", 0},
      {"a lone LF is an empty line", "\n", Invalid, "", 2},
      {"blank line of a CR LF file", "a b\r\n\r\nc d\r\n", Invalid, Record(2, 0, 4), 2},
      {"two LFs in a row", "a b\n\nc d\n", Invalid, Record(2, 0, 3), 2},
      {"tab is not a space", "a b\na\tb\n", Invalid, Record(2, 0, 3), 2},
  });
}

TEST(CorvaneIndex, PositionAndLengthLimits) {
  RunIndexCases({
      {"first space at 255", Repeat('a', 254) + " x\n", WritingDone, Record(255, 0, 256), 0},
      {"first space at 256", "a b\n" + Repeat('a', 255) + " x\n", Invalid, Record(2, 0, 3), 2},
      {"first ']' at 254", "a " + Repeat('x', 251) + "]\n", WritingDone, Record(2, 255, 254), 0},
      {"first ']' at 255", "a " + Repeat('x', 252) + "]\n", Invalid, "", 2},
      {"']' before the space", "]a b\n", WritingDone, Record(3, 2, 4), 0},
      // The line after the long one proves its length did not wrap.
      {"65,535-byte line", "a " + Repeat('x', 65533) + "\nc d\n", WritingDone,
       Record(2, 0, 65535) + Record(2, 0, 3), 0},
      {"65,536-byte line", "a b\na " + Repeat('x', 65534) + "\nc d\n", Invalid, Record(2, 0, 3), 2},
  });
}

TEST(CorvaneIndex, ProgressEvery256Records) {
  RunIndexCases({
      {"254 lines: no progress", Repeat(Line20, 254), WritingDone, Repeat(Record20, 254), 0},
      // The 255th LF is at 5,099: 509,900 / 5,100 rounds down to 99.
      {"255 lines", Repeat(Line20, 255), Progress(99) + WritingDone, Repeat(Record20, 255), 0},
      // After the 255th, 511th and 767th records, not every 255: LFs at
      // 5,099, 10,219 and 15,339 of 15,340 bytes.
      {"767 lines", Repeat(Line20, 767), Progress(33) + Progress(66) + Progress(99) + WritingDone,
       Repeat(Record20, 767), 0},
      // The message continues the progress line; 509,900 / 6,200 is 82.
      {"line 300 invalid", Repeat(Line20, 299) + BadLine20 + Repeat(Line20, 10),
       Progress(82) + Invalid, Repeat(Record20, 299), 2},
      // 23 MB of long lines: the 511th LF, at 22,995,510, is past
      // 21,474,836, where 100 times the offset no longer fits 32 bits;
      // 2,299,551,000 / 23,040,512 is 99.
      {"512 lines of 45,000 bytes", Repeat(LongLine, 512),
       Progress(49) + Progress(99) + WritingDone, Repeat(LongRecord, 512), 0},
  });
}

// ---------------------------------------------------------------------------
// Choice of the name

TEST(CorvaneNames, DefaultNameIsEdict) {
  ScratchDirectory scratch;
  WriteFileBytes(scratch / "Edict", WorkedExample);
  EXPECT_TRUE(Ran(RunCorvane(scratch, {}), Banner + Loading("Edict") + WritingDone, 0));
  EXPECT_EQ(ReadFileBytes(scratch / "Edict.IND"), WorkedIndex);
}

TEST(CorvaneNames, ExtraArgumentsAreIgnored) {
  ScratchDirectory scratch;
  WriteFileBytes(scratch / "dict", WorkedExample);
  WriteFileBytes(scratch / "other", "x y\n");
  EXPECT_TRUE(Ran(RunCorvane(scratch, {"dict", "other", "third"}),
                  Banner + Loading("dict") + WritingDone, 0));
  EXPECT_EQ(ReadFileBytes(scratch / "dict.IND"), WorkedIndex);
  EXPECT_FALSE(FileExists(scratch / "other.IND"));
  EXPECT_FALSE(FileExists(scratch / "third.IND"));
}

TEST(CorvaneNames, ExtensionIsKept) {
  ScratchDirectory scratch;
  WriteFileBytes(scratch / "edict.txt", WorkedExample);
  EXPECT_TRUE(
      Ran(RunCorvane(scratch, {"edict.txt"}), Banner + Loading("edict.txt") + WritingDone, 0));
  EXPECT_EQ(ReadFileBytes(scratch / "edict.txt.IND"), WorkedIndex);
  EXPECT_FALSE(FileExists(scratch / "edict.IND"));
}

// ---------------------------------------------------------------------------
// Stops before the index is created

TEST(CorvaneStops, LoadStopsCreateNoIndexAndLeaveAnOldOneAlone) {
  struct Case {
    const char* Note;
    std::function<void(const ScratchDirectory&)> MakeDictionary;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"zero-byte dictionary", [](const ScratchDirectory& s) { WriteFileBytes(s / "dict", ""); },
       Empty("dict")},
      {"missing dictionary", [](const ScratchDirectory&) {}, OpenError("dict")},
      {"dictionary is a directory",
       [](const ScratchDirectory& s) { std::filesystem::create_directory(s / "dict"); },
       OpenError("dict")},
  };
  for (const Case& c : cases) {
    for (bool oldIndex : {false, true}) {
      SCOPED_TRACE(std::string(c.Note) + (oldIndex ? ", old index present" : ""));
      ScratchDirectory scratch;
      c.MakeDictionary(scratch);
      if (oldIndex) WriteFileBytes(scratch / "dict.IND", "old index");
      EXPECT_TRUE(Ran(RunCorvane(scratch, {"dict"}), Banner + c.Message, 2));
      bool exists = false;
      std::string index = ReadFileBytes(scratch / "dict.IND", &exists);
      EXPECT_EQ(exists, oldIndex);
      EXPECT_EQ(index, oldIndex ? "old index" : "");
    }
  }
}

TEST(CorvaneStops, IndexThatCannotBeCreated) {
  ScratchDirectory scratch;
  WriteFileBytes(scratch / "Edict", WorkedExample);
  std::filesystem::create_directory(scratch / "Edict.IND");
  EXPECT_TRUE(Ran(RunCorvane(scratch, {}), Banner + Loading("Edict") + OpenError("Edict.IND"), 2));
  EXPECT_TRUE(std::filesystem::is_directory(scratch / "Edict.IND"));
}

TEST(CorvaneStops, IndexNameThatDesignatesTheDictionary) {
  namespace fs = std::filesystem;
  const std::vector<std::pair<const char*, void (*)(const fs::path&, const fs::path&)>> links = {
      {"symbolic link", [](const fs::path& to, const fs::path& at) { fs::create_symlink(to, at); }},
      {"hard link", [](const fs::path& to, const fs::path& at) { fs::create_hard_link(to, at); }},
  };
  for (const auto& [note, link] : links) {
    SCOPED_TRACE(note);
#ifdef DICT_TEST_WIN32
    if (std::string(note) == "symbolic link") continue;  // Wine makes none
#endif
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "x", WorkedExample);
    link(scratch / "x", scratch / "x.IND");
    EXPECT_TRUE(Ran(RunCorvane(scratch, {"x"}), Banner + Loading("x") + OpenError("x.IND"), 2));
    EXPECT_EQ(ReadFileBytes(scratch / "x"), WorkedExample);
  }
}

TEST(CorvaneStops, ExistingIndexIsReplacedEvenWhenALaterLineStops) {
  struct Case {
    const char* Note;
    std::string Dictionary;
    std::string AfterLoading;
    std::string Index;
    int Status;
  };
  const std::vector<Case> cases = {
      {"complete run", WorkedExample, WritingDone, WorkedIndex, 0},
      {"stopped at line 2", "a b\n\n", Invalid, Record(2, 0, 3), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Note);
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "dict", c.Dictionary);
    WriteFileBytes(scratch / "dict.IND", Repeat('\xFF', 100));
    EXPECT_TRUE(
        Ran(RunCorvane(scratch, {"dict"}), Banner + Loading("dict") + c.AfterLoading, c.Status));
    EXPECT_TRUE(SameBytes(ReadFileBytes(scratch / "dict.IND"), c.Index, "index"));
  }
}

// ---------------------------------------------------------------------------
// A real dictionary, checked line by line by an independent walk.

TEST(CorvaneRealDictionary, EveryRecordMatchesItsLine) {
  const std::string source = "/usr/share/edict/edict";
  SKIP_UNLESS_INSTALLED(source, "package edict");
  const std::string dictionary = ReadFileBytes(source);
  ScratchDirectory scratch;
  WriteFileBytes(scratch / "edict", dictionary);
  ToolRun run = RunCorvane(scratch, {"edict"});
  ASSERT_EQ(run.ExitStatus, 0) << run.Stdout;
  const std::string index = ReadFileBytes(scratch / "edict.IND");

  std::size_t lineFeeds = 0;
  for (char byte : dictionary) lineFeeds += byte == '\n';
  ASSERT_EQ(index.size(), 4 * lineFeeds);

  // Walk the lines with plain string searches; locate each one again from
  // the records alone, by the running sum of LineLength + 1.
  const std::vector<DecodedRecord> records = DecodeRecords(index);
  std::string progress;
  std::size_t start = 0;
  std::size_t offsetFromRecords = 0;
  for (std::size_t k = 0; k < lineFeeds; ++k) {
    const std::size_t end = dictionary.find('\n', start);
    const std::string line = dictionary.substr(start, end - start);
    const std::size_t space = line.find(' ');
    const std::size_t bracket = line.find(']');
    const DecodedRecord& record = records[k];
    ASSERT_EQ(offsetFromRecords, start) << "line " << k;
    ASSERT_EQ(record.SpacePos, space + 1) << "SpacePos, line " << k;
    ASSERT_EQ(record.BracketEnd, bracket == std::string::npos ? 0 : bracket + 2)
        << "BracketEnd, line " << k;
    ASSERT_EQ(record.LineLength, line.size()) << "LineLength, line " << k;
    if (k % 256 == 254) progress += Progress(100 * end / dictionary.size());
    offsetFromRecords += record.LineLength + 1;
    start = end + 1;
  }
  EXPECT_TRUE(SameBytes(run.Stdout, Banner + Loading("edict") + progress + WritingDone, "stdout"));
}

}  // namespace
