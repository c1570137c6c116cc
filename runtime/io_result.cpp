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

// Not inlined, so that the return address is the place of the check.
DICT_NOINLINE void CheckIOResult() {
  if (IOResult == 0) return;
  ReleaseExceptionReserve();
  EInOutError error(TakeIOResult());
  error.RaiseAddress = CodeOffset(DICT_RETURN_ADDRESS());
  throw error;
}
