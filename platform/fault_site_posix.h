// Where a processor fault happened, read from the machine state that Linux
// saves for a signal handler: the address of the faulting instruction and
// whether its data access was a write. Each machine keeps them differently.
// Whether the access wrote is told only by the fault's syndrome record that
// the kernel saves with it (ESR among an arm64 signal frame's records, the
// fault status in 32-bit ARM's error code, the error code of an x86-64 page
// fault); where the saved state holds no such record (s390x keeps none, and
// user-mode QEMU leaves it out on ARM), the access counts as a read. Only the
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

}  // namespace platform::posix
