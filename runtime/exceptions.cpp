#include "runtime/exceptions.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

using namespace platform;

namespace {

/// Enough for any exception object and the message it carries.
constexpr std::size_t ExceptionReserveSize = 16 * 1024;

void* ExceptionReserve = nullptr;

/// The new handler: the failed allocation raises `std::bad_alloc` at once,
/// with the reserve back in the heap for the exception object. It is not
/// tried again, which could take the reserve and leave the raise without.
[[noreturn]] void RaiseOutOfMemory() {
  ReleaseExceptionReserve();
  throw std::bad_alloc();
}

/// Appends bytes to a fixed buffer, dropping what does not fit.
struct FixedText {
  char* Out;
  std::size_t Size;
  std::size_t Length = 0;

  void Append(const char* text, std::size_t count) {
    if (count > Size - Length) count = Size - Length;
    std::memcpy(Out + Length, text, count);
    Length += count;
  }
  void Append(const char* text) { Append(text, std::strlen(text)); }
  /// `count` bytes of `text`, after as many `fill` bytes as bring them to
  /// `width` places.
  void AppendPadded(const char* text, std::size_t count, int width, char fill) {
    for (auto place = static_cast<int>(count); place < width; ++place) Append(&fill, 1);
    Append(text, count);
  }
  /// Upper-case hexadecimal, zero-padded to at least `width` digits.
  void AppendHex(std::uint64_t value, int width) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    for (char* digit = digits; digit != end; ++digit) {
      if (*digit >= 'a') *digit = static_cast<char>(*digit - 'a' + 'A');
    }
    AppendPadded(digits, static_cast<std::size_t>(end - digits), width, '0');
  }
  /// Decimal, with "-" before a negative value; `width` places at least,
  /// right-aligned with spaces.
  void AppendDecimal(std::int32_t value, int width = 0) {
    char digits[11];  // room for "-2147483648"
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    AppendPadded(digits, static_cast<std::size_t>(end - digits), width, ' ');
  }
  /// The message of a system exception that has no class of its own.
  void AppendExternalMessage(std::uint32_t code) {
    Append("External exception ");
    AppendHex(code, 1);
  }
};

}  // namespace

bool KeepExceptionReserve() {
  if (ExceptionReserve == nullptr) ExceptionReserve = std::malloc(ExceptionReserveSize);
  if (ExceptionReserve == nullptr) return false;
  std::set_new_handler(RaiseOutOfMemory);
  return true;
}

void ReleaseExceptionReserve() {
  std::free(ExceptionReserve);
  ExceptionReserve = nullptr;
}

std::uintptr_t CodeOffset(std::uintptr_t address) {
  std::uintptr_t base = GetModuleHandleA();
  return address >= base ? address - base : address;
}

EInOutError::EInOutError(std::int32_t code) : Exception(InOutErrorMessage(code)), ErrorCode(code) {}

EExternalException::EExternalException(std::uint32_t code) : Exception(""), ExceptionCode(code) {
  char text[64];
  FixedText message{text, sizeof text};
  message.AppendExternalMessage(code);
  Message.assign(text, message.Length);
}

std::size_t FormatInOutErrorMessage(char* out, std::size_t size, std::int32_t code) {
  FixedText message{out, size};
  switch (code) {
    case 2: message.Append("File not found"); break;
    case 3: message.Append("Invalid filename"); break;
    case 4: message.Append("Too many open files"); break;
    case 5: message.Append("File access denied"); break;
    case 100: message.Append("Read beyond end of file"); break;
    case 101: message.Append("Disk full"); break;
    case 106: message.Append("Invalid numeric input"); break;
    default:
      message.Append("I/O error ");
      message.AppendDecimal(code);
      break;
  }
  return message.Length;
}

std::string InOutErrorMessage(std::int32_t code) {
  char text[32];
  return std::string(text, FormatInOutErrorMessage(text, sizeof text, code));
}

std::size_t FormatExceptionReport(char* out, std::size_t size, const char* className,
                                  const char* moduleName, std::uintptr_t address,
                                  const char* message, std::size_t messageLength) {
  FixedText report{out, size};
  report.Append("Exception ");
  report.Append(className);
  report.Append(" in module ");
  report.Append(moduleName);
  report.Append(" at ");
  report.AppendHex(address, 8);
  report.Append(".\n");
  report.Append(message, messageLength);
  // A full stop closes the message unless it is empty or has one already.
  if (messageLength > 0 && message[messageLength - 1] != '.') report.Append(".");
  return report.Length;
}

std::size_t FormatRuntimeErrorReport(char* out, std::size_t size, std::int32_t number,
                                     std::uintptr_t address) {
  FixedText report{out, size};
  report.Append("Runtime error ");
  report.AppendDecimal(number, 3);
  report.Append(" at ");
  report.AppendHex(address, 8);
  return report.Length;
}

namespace {

/// The exception class and fixed message of each system exception code.
struct FaultClass {
  std::uint32_t Code;
  const char* ClassName;
  const char* Message;
};

constexpr FaultClass FaultClasses[] = {
    {ExceptionArrayBoundsExceeded, ERangeError::Name, "Range check error"},
    {ExceptionIntDivideByZero, EDivByZero::Name, "Division by zero"},
    {ExceptionIntOverflow, EIntOverflow::Name, "Integer overflow"},
    {ExceptionFltDivideByZero, EZeroDivide::Name, "Floating point division by zero"},
    {ExceptionFltOverflow, EOverflow::Name, "Floating point overflow"},
    {ExceptionFltUnderflow, EUnderflow::Name, "Floating point underflow"},
    {ExceptionFltDenormalOperand, EUnderflow::Name, "Floating point underflow"},
    {ExceptionFltInvalidOperation, EInvalidOp::Name, "Invalid floating point operation"},
    {ExceptionFltInexactResult, EInvalidOp::Name, "Invalid floating point operation"},
    {ExceptionFltStackCheck, EInvalidOp::Name, "Invalid floating point operation"},
    {ExceptionPrivilegedInstruction, EPrivilege::Name, "Privileged instruction"},
    {ExceptionStackOverflow, EStackOverflow::Name, "Stack overflow"},
    {ExceptionControlCExit, EControlC::Name, "Control-C hit"},
};

}  // namespace

const char* DescribeFault(std::uint32_t code, std::uintptr_t codeAddress, bool isWrite,
                          std::uintptr_t dataAddress, char* message, std::size_t size) {
  FixedText text{message, size > 0 ? size - 1 : 0};
  const char* className = EExternalException::Name;
  if (code == ExceptionAccessViolation) {
    className = EAccessViolation::Name;
    text.Append("Access violation at address ");
    text.AppendHex(codeAddress, 8);
    text.Append(isWrite ? ". Write of address " : ". Read of address ");
    text.AppendHex(dataAddress, 8);
  } else {
    const FaultClass* known = nullptr;
    for (const FaultClass& fault : FaultClasses) {
      if (fault.Code == code) known = &fault;
    }
    if (known != nullptr) {
      className = known->ClassName;
      text.Append(known->Message);
    } else {
      text.AppendExternalMessage(code);
    }
  }
  if (size > 0) message[text.Length] = 0;
  return className;
}
