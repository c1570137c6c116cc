// Where a processor fault happened, read from the machine state that Linux
// saves for a signal handler: the address of the faulting instruction and
// whether its data access was a write. Each machine keeps them differently;
// where the saved state says nothing of the access (an emulator may leave
// the record out), the faulting instruction itself is decoded. Only the
// POSIX backend and its tests include this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::posix {

/// The faulting instruction's address and the kind of its data access.
struct FaultSite {
  std::uintptr_t CodeAddress = 0;
  bool IsWrite = false;
};

/// The fault site of `signal`, from the signal information's address and the
/// handler's machine context (a ucontext_t). A machine this backend does not
/// know gives the data address as the code address and a read.
FaultSite ReadFaultSite(int signal, std::uintptr_t dataAddress, const void* context);

/// The fault status (ESR) that arm64 Linux saves among the records of a
/// signal frame's reserved area; false when no record holds one.
bool FindA64FaultStatus(const unsigned char* records, std::size_t size, std::uint64_t* status);

/// Whether an arm64 fault status tells of a data access that was a write.
bool A64StatusWrites(std::uint64_t status);

// The decoders below tell whether a memory-accessing instruction writes;
// only their answers for loads and stores mean anything, since only those
// fault on data.

/// Whether an A64 (arm64) load or store writes.
bool A64InstructionWrites(std::uint32_t instruction);
/// Whether an A32 (32-bit ARM state) load or store writes.
bool A32InstructionWrites(std::uint32_t instruction);
/// Whether a T32 (Thumb state) load or store writes, by its first halfword.
bool T32InstructionWrites(std::uint16_t first);

}  // namespace platform::posix
