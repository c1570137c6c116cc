// The fault status record of an arm64 signal frame, from which the fault
// handler tells a write from a read: found among the frame's other records,
// and read. The cases run on every machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/fault_site_posix.h"

namespace {

using namespace platform::posix;

/// A record list as arm64 Linux lays it out: header (magic, size), body. The
/// list ends with a bare header of zeros.
void AddRecord(std::vector<unsigned char>& records, std::uint32_t magic, std::uint32_t size,
               std::uint64_t value = 0) {
  const std::size_t at = records.size();
  records.resize(at + (size < 8 ? 8 : size));
  std::memcpy(&records[at], &magic, 4);
  std::memcpy(&records[at + 4], &size, 4);
  if (size >= 16) std::memcpy(&records[at + 8], &value, 8);
}

TEST(FaultSite, A64FaultStatusRecord) {
  constexpr std::uint32_t FloatingPoint = 0x46508001;
  constexpr std::uint32_t FaultStatus = 0x45535201;
  // Data aborts from user mode, a translation fault: a write, a read, a
  // cache maintenance operation; then an instruction abort.
  const struct {
    std::uint64_t Status;
    bool Writes;
  } statuses[] = {
      {0x92000046, true}, {0x92000006, false}, {0x92000146, false}, {0x82000006, false}};
  for (const auto& c : statuses) {
    std::vector<unsigned char> records;
    AddRecord(records, FloatingPoint, 528);
    AddRecord(records, FaultStatus, 16, c.Status);
    AddRecord(records, 0, 0);
    std::uint64_t status = 0;
    ASSERT_TRUE(FindA64FaultStatus(records.data(), records.size(), &status));
    EXPECT_EQ(status, c.Status);
    EXPECT_EQ(A64StatusWrites(status), c.Writes) << std::hex << c.Status;
  }
  // No record, a list cut short, or a record whose size runs past the end.
  std::vector<unsigned char> none;
  AddRecord(none, FloatingPoint, 528);
  AddRecord(none, 0, 0);
  std::vector<unsigned char> overrun;
  AddRecord(overrun, FloatingPoint, 16);
  AddRecord(overrun, FaultStatus, 16, 0x92000046);
  const std::uint32_t tooLong = 64;
  std::memcpy(&overrun[4], &tooLong, 4);
  std::uint64_t status = 0;
  EXPECT_FALSE(FindA64FaultStatus(none.data(), none.size(), &status));
  EXPECT_FALSE(FindA64FaultStatus(none.data(), 12, &status));
  EXPECT_FALSE(FindA64FaultStatus(overrun.data(), overrun.size(), &status));
}

}  // namespace
