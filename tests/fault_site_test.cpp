// The fault site on ARM machines: the fault status record of an arm64
// signal frame, and the decoding of the faulting instruction that stands in
// where no record tells the kind of access. The instruction words are the
// cross assemblers' encodings; the cases run on every machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/fault_site_posix.h"

namespace {

using namespace platform::posix;

struct Instruction {
  std::uint32_t Word;
  const char* Text;
  bool Writes;
};

TEST(FaultSite, A64LoadsAndStores) {
  const Instruction cases[] = {
      {0xB9002001, "str w1, [x0, #32]", true},     {0xB9401000, "ldr w0, [x0, #16]", false},
      {0x38636841, "ldrb w1, [x2, x3]", false},    {0xB9800441, "ldrsw x1, [x2, #4]", false},
      {0x3D800020, "str q0, [x1]", true},          {0x3DC00020, "ldr q0, [x1]", false},
      {0xFD000420, "str d0, [x1, #8]", true},      {0xA9BF7BFD, "stp x29, x30, [sp, #-16]!", true},
      {0xA8C17BFD, "ldp x29, x30, [sp], #16", false}, {0xC8037C41, "stxr w3, x1, [x2]", true},
      {0xC85F7C41, "ldxr x1, [x2]", false},        {0xC89FFC41, "stlr x1, [x2]", true},
      {0xC8DFFC41, "ldar x1, [x2]", false},        {0x4C007000, "st1 {v0.16b}, [x0]", true},
      {0x4C407000, "ld1 {v0.16b}, [x0]", false},   {0xF81F8041, "stur x1, [x2, #-8]", true},
      {0xF8008441, "str x1, [x2], #8", true},      {0xF8210062, "ldadd x1, x2, [x3]", true},
      {0xF8218062, "swp x1, x2, [x3]", true},      {0xC8A17C62, "cas x1, x2, [x3]", true},
      {0xF8BFC041, "ldapr x1, [x2]", false},       {0x19000041, "stlurb w1, [x2]", true},
      {0x19400041, "ldapurb w1, [x2]", false},     {0xD9200820, "stg x0, [x1]", true},
      {0xD9600020, "ldg x0, [x1]", false},         {0xF8200420, "ldraa x0, [x1]", false},
      {0x58000041, "ldr x1, <literal>", false},
  };
  for (const Instruction& c : cases) EXPECT_EQ(A64InstructionWrites(c.Word), c.Writes) << c.Text;
}

TEST(FaultSite, ThumbAndArmLoadsAndStores) {
  // Thumb by the first halfword: 16-bit instructions, then 32-bit ones.
  const Instruction thumb[] = {
      {0x621A, "str r2, [r3, #32]", true},   {0x6918, "ldr r0, [r3, #16]", false},
      {0x7051, "strb r1, [r2, #1]", true},   {0x8851, "ldrh r1, [r2, #2]", false},
      {0x52D1, "strh r1, [r2, r3]", true},   {0x56D1, "ldrsb r1, [r2, r3]", false},
      {0x9101, "str r1, [sp, #4]", true},    {0xB510, "push {r4, lr}", true},
      {0xBD10, "pop {r4, pc}", false},       {0xC006, "stmia r0!, {r1, r2}", true},
      {0x4902, "ldr r1, [pc, #8]", false},   {0xF8C2, "str.w r1, [r2, #1024]", true},
      {0xF8D2, "ldr.w r1, [r2, #1024]", false}, {0xE9C3, "strd r1, r2, [r3]", true},
      {0xE9D3, "ldrd r1, r2, [r3]", false},  {0xE92D, "stmdb sp!, {r4-r11, lr}", true},
      {0xE843, "strex r1, r2, [r3]", true},  {0xED2D, "vpush {d8}", true},
      {0xED91, "vldr d0, [r1]", false},      {0xF901, "vst1.8 {d0}, [r1]", true},
      {0xF921, "vld1.8 {d0}, [r1]", false},  {0xF9B2, "ldrsh.w r1, [r2, #2]", false},
  };
  for (const Instruction& c : thumb) {
    EXPECT_EQ(T32InstructionWrites(static_cast<std::uint16_t>(c.Word)), c.Writes) << c.Text;
  }
  const Instruction arm[] = {
      {0xE5832020, "str r2, [r3, #32]", true}, {0xE5930010, "ldr r0, [r3, #16]", false},
      {0xE7C21003, "strb r1, [r2, r3]", true}, {0xE1C210B2, "strh r1, [r2, #2]", true},
      {0xE1D210D0, "ldrsb r1, [r2]", false},   {0xE1C120F0, "strd r2, r3, [r1]", true},
      {0xE1C120D0, "ldrd r2, r3, [r1]", false}, {0xE92D4010, "push {r4, lr}", true},
      {0xE8BD8010, "pop {r4, pc}", false},     {0xE1831F92, "strex r1, r2, [r3]", true},
      {0xED810B00, "vstr d0, [r1]", true},     {0xF421070F, "vld1.8 {d0}, [r1]", false},
      {0xF401070F, "vst1.8 {d0}, [r1]", true},
  };
  for (const Instruction& c : arm) EXPECT_EQ(A32InstructionWrites(c.Word), c.Writes) << c.Text;
}

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
  } statuses[] = {{0x92000046, true}, {0x92000006, false}, {0x92000146, false},
                  {0x82000006, false}};
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
