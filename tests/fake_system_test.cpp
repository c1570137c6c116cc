// The fake system's own test, where a fault in it would hide a fault
// elsewhere: the tests and fuzz targets that check what the programs asked
// of the system read its log, so a call left out of the log, or logged with
// the wrong file, place or outcome, would let a wrong request pass unseen.
// Everything else the fake does, the tests that use it show wrong at once.
#include "tests/fake_system.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

using namespace platform;
using Call = FakeSystem::Call;

TEST(FakeSystemLog, HoldsEveryCallWithItsFilePlaceAndOutcome) {
  FakeSystem fake;
  fake.AddFile("in", "abcdef");
  char buffer[8];
  std::uint64_t done = 0;
  const Handle in = CreateFileA("in", GenericRead, FileShareRead, OpenExisting);
  EXPECT_TRUE(ReadFile(in, buffer, 4, &done));
  EXPECT_TRUE(ReadFile(in, buffer, 4, &done));
  fake.Fail(Call::WriteFile, 2, ErrorDiskFull);
  const Handle out = CreateFileA("out", GenericWrite, FileShareRead, OpenAlways);
  EXPECT_TRUE(WriteFile(out, "xy", 2, &done));
  EXPECT_FALSE(WriteFile(out, "z", 1, &done));
  EXPECT_FALSE(ReadFile(out, buffer, 1, &done));
  EXPECT_TRUE(CloseHandle(in));
  EXPECT_FALSE(CloseHandle(in));
  MessageBeep(0);

  const struct {
    Call Kind;
    const char* Name;
    std::uint32_t Error;
    std::uint64_t Position, Count, Done;
  } want[] = {
      {Call::CreateFileA, "in", 0, 0, 0, 0},
      {Call::ReadFile, "in", 0, 0, 4, 4},
      {Call::ReadFile, "in", 0, 4, 4, 2},  // the file's end
      {Call::CreateFileA, "out", 0, 0, 0, 0},
      {Call::WriteFile, "out", 0, 0, 2, 2},
      {Call::WriteFile, "out", ErrorDiskFull, 2, 1, 0},     // the fault
      {Call::ReadFile, "out", ErrorAccessDenied, 2, 1, 0},  // not open for reading
      {Call::CloseHandle, "in", 0, 0, 0, 0},
      {Call::CloseHandle, "in", ErrorInvalidHandle, 0, 0, 0},  // closed already
      {Call::MessageBeep, "", 0, 0, 0, 0},
  };
  ASSERT_EQ(fake.Log().size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const FakeSystem::Request& got = fake.Log()[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.Kind, want[i].Kind);
    EXPECT_EQ(got.Name, want[i].Name);
    EXPECT_EQ(got.Error, want[i].Error);
    EXPECT_EQ(got.Position, want[i].Position);
    EXPECT_EQ(got.Count, want[i].Count);
    EXPECT_EQ(got.Done, want[i].Done);
  }
  EXPECT_EQ(fake.Log()[5].Bytes, "z") << "a write is logged with its bytes, failed or not";
  EXPECT_EQ(fake.Contents("out"), "xy");
}
