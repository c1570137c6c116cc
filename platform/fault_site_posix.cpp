#include "platform/fault_site_posix.h"

#include <csignal>
#include <cstring>
#include <ucontext.h>

namespace platform::posix {

namespace {

/// Bits `high` down to `low` of `word`.
constexpr std::uint32_t Bits(std::uint32_t word, int high, int low) {
  return (word >> low) & ((std::uint32_t{2} << (high - low)) - 1);
}

/// Instruction bytes of the running program, read in the fault handler.
template <typename Word>
[[maybe_unused]] Word InstructionAt(std::uintptr_t address) {
  Word word;
  std::memcpy(&word, reinterpret_cast<const void*>(address), sizeof word);
  return word;
}

/// A fault on the instruction's own bytes was its fetch, and reading them
/// again would fault again.
[[maybe_unused]] bool IsFetchFault(std::uintptr_t code, std::uintptr_t data,
                                   std::size_t length) {
  return data >= code && data - code < length;
}

// The record that arm64 Linux adds to a signal frame for a fault: an 8-byte
// header (magic number, size of the whole record) and the fault status.
constexpr std::uint32_t A64FaultStatusMagic = 0x45535201;
constexpr std::size_t A64RecordHeader = 8;

}  // namespace

bool FindA64FaultStatus(const unsigned char* records, std::size_t size, std::uint64_t* status) {
  std::size_t at = 0;
  while (size - at >= A64RecordHeader) {
    std::uint32_t magic = 0;
    std::uint32_t length = 0;
    std::memcpy(&magic, records + at, sizeof magic);
    std::memcpy(&length, records + at + sizeof magic, sizeof length);
    // A zero magic number ends the list; a malformed length ends the walk.
    if (magic == 0 || length < A64RecordHeader || length > size - at) return false;
    if (magic == A64FaultStatusMagic && length >= A64RecordHeader + sizeof *status) {
      std::memcpy(status, records + at + A64RecordHeader, sizeof *status);
      return true;
    }
    at += length;
  }
  return false;
}

bool A64StatusWrites(std::uint64_t status) {
  // A data abort from user mode (exception class 0x24) whose write-not-read
  // bit (6) is set; a cache maintenance operation (bit 8) counts as a read.
  constexpr std::uint64_t DataAbortFromUser = 0x24;
  return ((status >> 26) & 0x3F) == DataAbortFromUser && (status & (1u << 6)) != 0 &&
         (status & (1u << 8)) == 0;
}

bool A64InstructionWrites(std::uint32_t i) {
  // Loads and stores have bit 27 set and bit 25 clear; bits 29 to 27 then
  // name the family.
  if ((i & 0x0A000000) != 0x08000000) return false;
  const std::uint32_t family = Bits(i, 29, 27);
  if (family == 0b011 && Bits(i, 24, 24) == 0) return false;  // load of a literal
  // Compare and swap writes, whatever its acquire bit says.
  if (family == 0b001 && Bits(i, 26, 26) == 0 && Bits(i, 23, 23) == 1 && Bits(i, 21, 21) == 1) {
    return true;
  }
  if (family == 0b111 && Bits(i, 24, 24) == 0 && Bits(i, 21, 21) == 1) {
    // Atomic read-modify-write operations write, except the plain
    // acquiring load among them; pointer-authenticated loads only read.
    if (Bits(i, 11, 10) == 0) return Bits(i, 15, 12) != 0b1100;
    if (Bits(i, 10, 10) == 1) return false;
  }
  // Memory tags: only the tag loads (bit 22 set, bits 11 and 10 clear) read.
  if (family == 0b011 && Bits(i, 21, 21) == 1) {
    return !(Bits(i, 22, 22) == 1 && Bits(i, 11, 10) == 0);
  }
  if (family == 0b111 || family == 0b011) {
    // Single registers: opc (bits 23 and 22) 00 stores, and so does 10 for
    // a 128-bit vector register (bit 26).
    const std::uint32_t opc = Bits(i, 23, 22);
    return opc == 0 || (Bits(i, 26, 26) == 1 && opc == 0b10);
  }
  // Pairs, exclusives and vector structures: bit 22 is the load bit.
  return Bits(i, 22, 22) == 0;
}

bool A32InstructionWrites(std::uint32_t i) {
  // Vector element and structure transfers: bit 21 is the load bit.
  if ((i & 0xFF100000) == 0xF4000000) return Bits(i, 21, 21) == 0;
  // Halfword, signed and doubleword transfers: with bit 20 clear, op 10 is
  // the doubleword load.
  if ((i & 0x0E000090) == 0x00000090 && Bits(i, 6, 5) != 0) {
    return Bits(i, 20, 20) == 0 && Bits(i, 6, 5) != 0b10;
  }
  // Words and bytes, multiple registers, exclusives, swaps and floating
  // point registers: bit 20 is the load bit.
  return Bits(i, 20, 20) == 0;
}

bool T32InstructionWrites(std::uint16_t first) {
  if ((first >> 11) >= 0b11101) {  // the first half of a 32-bit instruction
    // Vector element and structure transfers: bit 5 is the load bit.
    if ((first & 0xFF10) == 0xF900) return Bits(first, 5, 5) == 0;
    // Everything else that transfers data has the load bit at bit 4.
    return Bits(first, 4, 4) == 0;
  }
  // Register offset: STR, STRH and STRB are the first three.
  if ((first & 0xF000) == 0x5000) return Bits(first, 11, 9) < 3;
  if ((first & 0xF800) == 0x4800) return false;  // load of a literal
  // Immediate offsets, the stack pointer's, PUSH and POP, multiple
  // registers: bit 11 is the load bit.
  return Bits(first, 11, 11) == 0;
}

FaultSite ReadFaultSite(int signal, std::uintptr_t dataAddress, const void* context) {
  FaultSite site;
  [[maybe_unused]] const bool onData = signal == SIGSEGV || signal == SIGBUS;
#if defined(__x86_64__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.gregs[REG_RIP]);
  // Bit 1 of the page-fault error code is set for a write access.
  site.IsWrite = (machine.gregs[REG_ERR] & 2) != 0;
  (void)dataAddress;
#elif defined(__aarch64__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.pc);
  std::uint64_t status = 0;
  if (onData && FindA64FaultStatus(machine.__reserved, sizeof machine.__reserved, &status)) {
    site.IsWrite = A64StatusWrites(status);
  } else if (onData && !IsFetchFault(site.CodeAddress, dataAddress, 4)) {
    site.IsWrite = A64InstructionWrites(InstructionAt<std::uint32_t>(site.CodeAddress));
  }
#elif defined(__arm__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.arm_pc);
  // The kernel files an abort as trap 14 with the fault status register,
  // whose bit 11 is set for a write.
  constexpr unsigned long AbortTrap = 14;
  const bool thumb = (machine.arm_cpsr & (1u << 5)) != 0;
  if (onData && machine.trap_no == AbortTrap) {
    site.IsWrite = (machine.error_code & (1u << 11)) != 0;
  } else if (onData && !IsFetchFault(site.CodeAddress, dataAddress, thumb ? 2 : 4)) {
    site.IsWrite = thumb ? T32InstructionWrites(InstructionAt<std::uint16_t>(site.CodeAddress))
                         : A32InstructionWrites(InstructionAt<std::uint32_t>(site.CodeAddress));
  }
#elif defined(__s390x__)
  // A translation fault leaves the instruction address at the instruction
  // (it is retried); other program interruptions move it past, and the
  // signal information holds the instruction's address instead. Nothing
  // tells a write from a read.
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = onData ? static_cast<std::uintptr_t>(machine.psw.addr) : dataAddress;
#else
  site.CodeAddress = dataAddress;
  (void)context;
#endif
  return site;
}

}  // namespace platform::posix
