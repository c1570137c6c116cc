#include "runtime/memory.h"

#include <cstdlib>

#include "platform/builtins.h"
#include "runtime/exceptions.h"

// Not inlined, so that the return address is the place of the request.
DICT_NOINLINE std::uint8_t* AllocateMemory(std::uint64_t size) {
  if (size == 0) return nullptr;
  void* block = size > SIZE_MAX ? nullptr : std::malloc(static_cast<std::size_t>(size));
  if (block == nullptr) {
    ReleaseExceptionReserve();
    EOutOfMemory error(OutOfMemoryMessage);
    error.RaiseAddress = CodeOffset(DICT_RETURN_ADDRESS());
    throw error;
  }
  return static_cast<std::uint8_t*>(block);
}

void FreeMemory(std::uint8_t* block) { std::free(block); }
