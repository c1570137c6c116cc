#include "platform/fault_site_posix.h"

#include <csignal>
#include <cstring>
#include <ucontext.h>

namespace platform::posix {

namespace {

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

FaultSite ReadFaultSite(int signal, [[maybe_unused]] std::uintptr_t dataAddress,
                        [[maybe_unused]] const void* context) {
  FaultSite site;
  [[maybe_unused]] const bool onData = signal == SIGSEGV || signal == SIGBUS;
#if defined(__x86_64__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.gregs[REG_RIP]);
  // Bit 1 of the page-fault error code is set for a write access.
  site.IsWrite = (machine.gregs[REG_ERR] & 2) != 0;
#elif defined(__aarch64__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.pc);
  // A frame without the fault status (user-mode QEMU leaves it out) tells
  // nothing of the access, which then counts as a read.
  std::uint64_t status = 0;
  if (onData && FindA64FaultStatus(machine.__reserved, sizeof machine.__reserved, &status)) {
    site.IsWrite = A64StatusWrites(status);
  }
#elif defined(__arm__)
  const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  site.CodeAddress = static_cast<std::uintptr_t>(machine.arm_pc);
  // The kernel files an abort as trap 14 with the fault status register,
  // whose bit 11 is set for a write. Any other trap number (user-mode QEMU
  // saves 0 for every signal) tells nothing of the access: a read.
  constexpr unsigned long AbortTrap = 14;
  if (onData && machine.trap_no == AbortTrap) {
    site.IsWrite = (machine.error_code & (1u << 11)) != 0;
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
#endif
  return site;
}

}  // namespace platform::posix
