// The I/O result code: where an operation that does not raise leaves its
// failure, for the caller to check after each group of operations. It holds
// the error number of the system call that failed (Win32 numbering) or one
// of the runtime's own codes below; 0 when nothing has failed since it was
// last taken.
#pragma once

#include <cstdint>

/// I/O result codes of the runtime itself (the others are system error
/// numbers).
inline constexpr std::int32_t ReadBeyondEndOfFile = 100;
inline constexpr std::int32_t DiskFull = 101;
inline constexpr std::int32_t FileNotOpen = 103;
inline constexpr std::int32_t FileNotOpenForInput = 104;
inline constexpr std::int32_t FileNotOpenForOutput = 105;

/// Records a failure; replaces any earlier code. Successes never clear it.
void SetIOResult(std::int32_t code);

/// Records the error number of the system call that just failed.
void RecordSystemError();

/// Returns the I/O result code and resets it to 0.
std::int32_t TakeIOResult();

/// Raises `EInOutError` when the I/O result code is not 0 (and resets it).
void CheckIOResult();
