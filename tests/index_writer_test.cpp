#include "indexer/index_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/io_result.h"
#include "platform/platform.h"
#include "indexer/blockfile.h"
#include "indexer/dictionary.h"
#include "tests/fake_system.h"
#include "tests/test_support.h"

using namespace platform;

namespace {

// ---------------------------------------------------------------------------
// ScanLine

struct ScanCase {
  const char* Note;
  std::string Line;
  bool Valid;
  int SpacePos;
  int BracketEnd;
};

::testing::AssertionResult Scans(const ScanCase& c) {
  std::uint8_t spacePos = 0xEE;
  std::uint8_t bracketEnd = 0xEE;
  bool valid = ScanLine(reinterpret_cast<const std::uint8_t*>(c.Line.data()), c.Line.size(),
                        spacePos, bracketEnd);
  if (valid != c.Valid) {
    return ::testing::AssertionFailure()
           << c.Note << " (" << c.Line.size() << " bytes): " << (valid ? "accepted" : "refused");
  }
  if (valid && (spacePos != c.SpacePos || bracketEnd != c.BracketEnd)) {
    return ::testing::AssertionFailure()
           << c.Note << ": SpacePos " << int(spacePos) << " BracketEnd " << int(bracketEnd)
           << ", expected " << c.SpacePos << " and " << c.BracketEnd;
  }
  return ::testing::AssertionSuccess();
}

TEST(ScanLine, FindsFirstSpaceAndFirstBracket) {
  const std::vector<ScanCase> cases = {
      {"headword, reading, glosses", "\xB0\xA1\xB0\xA2 [\xA4\xA2\xA4\xA4\xA4\xA6] /to test/", true,
       5, 14},
      {"no reading, CR kept in the line", "\xB0\xA1 /a/\r", true, 3, 0},
      {"a ']' before the first space counts", "]a b", true, 3, 2},
      {"space as the first byte", " x", true, 1, 0},
      {"space as the only byte", " ", true, 1, 0},
      {"only the first space and first ']' count", "a ]b ]c", true, 2, 4},
      {"'[' is not looked for", "a [b", true, 2, 0},
      {"NUL bytes are ordinary", std::string("\0 \0", 3), true, 2, 0},
  };
  for (const ScanCase& c : cases) EXPECT_TRUE(Scans(c));
}

TEST(ScanLine, PositionLimits) {
  const std::vector<ScanCase> cases = {
      // The first space must fit a byte.
      {"first space at 255", Repeat('a', 254) + " ", true, 255, 0},
      {"first space at 256", Repeat('a', 255) + " ", false, 0, 0},
      {"first space at 256, early ']'", "]" + Repeat('a', 254) + " ", false, 0, 0},
      // BracketEnd is the position after the ']' and must fit a byte too.
      {"first ']' at 254", "a " + Repeat('x', 251) + "]", true, 2, 255},
      {"first ']' at 255", "a " + Repeat('x', 252) + "]", false, 0, 0},
      {"first ']' far into the glosses", "a /" + Repeat('x', 400) + "]/", false, 0, 0},
      {"a later ']' past 255 is ignored", "a ]" + Repeat('x', 400) + "]", true, 2, 4},
      // LineLength has 16 bits.
      {"65,535 bytes", "a " + Repeat('x', 65533), true, 2, 0},
      {"65,536 bytes", "a " + Repeat('x', 65534), false, 0, 0},
  };
  for (const ScanCase& c : cases) EXPECT_TRUE(Scans(c));
}

TEST(ScanLine, RefusesLinesWithoutSpace) {
  const std::vector<ScanCase> cases = {
      {"empty line", "", false, 0, 0},
      {"blank line of a CR LF file", "\r", false, 0, 0},
      {"tab is not a space", "a\tb", false, 0, 0},
      {"two-byte EUC-JP space is not a space",
       "\xA1\xA1"
       "b",
       false, 0, 0},
      {"a ']' alone", "]", false, 0, 0},
  };
  for (const ScanCase& c : cases) EXPECT_TRUE(Scans(c));
}

// ---------------------------------------------------------------------------
// Block file, through the platform seam

using Call = FakeSystem::Call;

class BlockFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeIOResult(); }
  void TearDown() override {
    FileAccessMode = 2;
    TakeIOResult();
  }
  /// "f" created, holding `bytes`, with nothing logged yet.
  BlockFile OpenFake(const std::string& bytes = "") {
    BlockFile file;
    CreateBlockFile(file, "f");
    fake_.AddFile("f", bytes);
    fake_.ClearLog();
    return file;
  }
  /// The last file opened or created.
  FakeSystem::Request LastCreate() const {
    const std::vector<FakeSystem::Request> creates = fake_.Requests(Call::CreateFileA);
    if (!creates.empty()) return creates.back();
    ADD_FAILURE() << "no file was opened or created";
    return {};
  }

  FakeSystem fake_;
};

TEST_F(BlockFileTest, OperationsOnAHandleNotOpenRecord103AndCallNothing) {
  std::uint8_t buffer[4] = {};
  const std::vector<std::pair<const char*, std::function<void(BlockFile&)>>> operations = {
      {"BlockFileSize", [](BlockFile& f) { EXPECT_EQ(BlockFileSize(f), -1); }},
      {"ReadBlock", [&](BlockFile& f) { ReadBlock(f, buffer, 4); }},
      {"WriteBlock", [&](BlockFile& f) { WriteBlock(f, buffer, 4); }},
      {"CloseBlockFile", [](BlockFile& f) { CloseBlockFile(f); }},
  };
  for (const auto& [name, operation] : operations) {
    BlockFile fresh;
    operation(fresh);
    EXPECT_EQ(TakeIOResult(), FileNotOpen) << name;
    EXPECT_TRUE(fake_.Log().empty()) << name;
  }
  // A closed handle is not open again.
  BlockFile file = OpenFake();
  CloseBlockFile(file);
  ASSERT_EQ(TakeIOResult(), 0);
  CloseBlockFile(file);
  EXPECT_EQ(TakeIOResult(), FileNotOpen);
  EXPECT_EQ(fake_.Log().size(), 1u);
}

TEST_F(BlockFileTest, TransfersReportShortCountsAndSystemFailures) {
  struct Case {
    const char* Note;
    bool Write;
    bool Fail;
    std::uint64_t ShortBy;
    std::int32_t Code;
  };
  const std::vector<Case> cases = {
      {"whole read", false, false, 0, 0},
      {"short read", false, false, 1, ReadBeyondEndOfFile},
      {"failed read keeps the system's number", false, true, 0, 32},
      {"whole write", true, false, 0, 0},
      {"short write", true, false, 3, DiskFull},
      {"failed write keeps the system's number", true, true, 0, 112},
  };
  for (const Case& c : cases) {
    std::uint8_t buffer[8] = {};
    BlockFile file = OpenFake(std::string(sizeof buffer, 'r'));
    const Call kind = c.Write ? Call::WriteFile : Call::ReadFile;
    if (c.Fail) fake_.Fail(kind, 1, static_cast<std::uint32_t>(c.Code));
    if (c.ShortBy > 0) fake_.Shorten(kind, 1, c.ShortBy);
    if (c.Write) WriteBlock(file, buffer, sizeof buffer);
    else ReadBlock(file, buffer, sizeof buffer);
    EXPECT_EQ(TakeIOResult(), c.Code) << c.Note;
    EXPECT_EQ(fake_.Log().size(), 1u) << c.Note << ": one request per call";
  }
}

TEST_F(BlockFileTest, OpenTakesAccessFromTheModeAndCreateIgnoresIt) {
  struct Case {
    std::uint8_t Mode;
    std::uint32_t Access;
  };
  const std::vector<Case> cases = {
      {0, GenericRead},
      {1, GenericWrite},
      {2, GenericRead | GenericWrite},
      {3, GenericRead | GenericWrite},  // larger values count as 2
      {255, GenericRead | GenericWrite},
  };
  fake_.AddFile("dict");
  for (const Case& c : cases) {
    FileAccessMode = c.Mode;
    BlockFile opened;
    OpenBlockFile(opened, "dict");
    EXPECT_EQ(LastCreate().Access, c.Access) << "mode " << int(c.Mode);
    EXPECT_EQ(LastCreate().Share, FileShareRead);
    EXPECT_EQ(LastCreate().Disposition, OpenExisting);
    BlockFile created;
    CreateBlockFile(created, "dict.IND");
    EXPECT_EQ(LastCreate().Access, GenericRead | GenericWrite) << "mode " << int(c.Mode);
    EXPECT_EQ(LastCreate().Share, FileShareRead);
    EXPECT_EQ(LastCreate().Disposition, OpenAlways);
    EXPECT_EQ(TakeIOResult(), 0);
  }
}

TEST_F(BlockFileTest, FailedOpenLeavesHandleNotOpenAndNameWhole) {
  // No file has the name.
  const std::string name = Repeat('n', 300);
  BlockFile file;
  OpenBlockFile(file, name);
  EXPECT_EQ(TakeIOResult(), 2);
  EXPECT_FALSE(IsBlockFileOpen(file));
  EXPECT_EQ(LastCreate().Name, name) << "the bound name is never cut";
  EXPECT_EQ(file.Name, name);
}

TEST_F(BlockFileTest, CloseFailureStillLeavesHandleNotOpen) {
  BlockFile file = OpenFake();
  fake_.Fail(Call::CloseHandle, 1, ErrorIoDevice);
  CloseBlockFile(file);
  EXPECT_EQ(TakeIOResult(), 1117);
  EXPECT_FALSE(IsBlockFileOpen(file));
}

TEST_F(BlockFileTest, UncheckedOpensAnswerAndLeaveNoCode) {
  struct Case {
    const char* Note;
    bool (*Open)(BlockFile&);
    std::uint32_t Access;
  };
  const std::vector<Case> cases = {
      {"TryOpenRead opens read-only whatever the mode",
       [](BlockFile& f) { return TryOpenRead("dict", f); }, GenericRead},
      {"TryCreateWrite", [](BlockFile& f) { return TryCreateWrite("dict.IND", f); },
       GenericRead | GenericWrite},
  };
  fake_.AddFile("dict");
  for (const Case& c : cases) {
    for (bool fail : {false, true}) {
      fake_.ClearLog();
      if (fail) fake_.Fail(Call::CreateFileA, 1, ErrorAccessDenied);
      FileAccessMode = 2;
      BlockFile file;
      EXPECT_EQ(c.Open(file), !fail) << c.Note;
      EXPECT_EQ(LastCreate().Access, c.Access) << c.Note;
      EXPECT_EQ(TakeIOResult(), 0) << c.Note;
    }
  }
}

}  // namespace
