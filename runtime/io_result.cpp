#include "runtime/io_result.h"

#include "platform/builtins.h"
#include "platform/platform.h"
#include "runtime/exceptions.h"

namespace {

std::int32_t IOResult = 0;

}  // namespace

void SetIOResult(std::int32_t code) { IOResult = code; }

void RecordSystemError() { SetIOResult(static_cast<std::int32_t>(platform::GetLastError())); }

std::int32_t TakeIOResult() {
  std::int32_t code = IOResult;
  IOResult = 0;
  return code;
}

namespace {

/// Raises the recorded I/O result, as raised at `checkAddress`. Kept apart
/// from the check, which runs after every step of every line, so that only
/// this rare path pays for the stack protector's guard of its frame.
[[noreturn]] DICT_NOINLINE void RaiseIOResult(std::uintptr_t checkAddress) {
  ReleaseExceptionReserve();
  EInOutError error(TakeIOResult());
  error.RaiseAddress = CodeOffset(checkAddress);
  throw error;
}

}  // namespace

// Not inlined, so that the return address is the place of the check.
DICT_NOINLINE void CheckIOResult() {
  if (IOResult != 0) RaiseIOResult(DICT_RETURN_ADDRESS());
}
