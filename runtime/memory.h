// Blocks of memory whose size a program learns only as it runs (a whole
// dictionary): exactly that size, or the `EOutOfMemory` exception raised at
// the place of the request.
#pragma once

#include <cstdint>

/// A block of exactly `size` bytes; raises `EOutOfMemory` when there is none.
/// A size of 0 gives no block and is no failure.
std::uint8_t* AllocateMemory(std::uint64_t size);

/// Gives back a block of `AllocateMemory`; no block (nullptr) is nothing to
/// give back.
void FreeMemory(std::uint8_t* block);
