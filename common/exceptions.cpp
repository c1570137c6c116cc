#include "common/exceptions.h"

#include <cstring>

#include "common/platform.h"

namespace {

/// Appends bytes to a fixed buffer, dropping what does not fit.
struct FixedText {
  char* Out;
  std::size_t Size;
  std::size_t Length = 0;

  void Append(const char* text, std::size_t count) {
    for (std::size_t i = 0; i < count && Length < Size; ++i) Out[Length++] = text[i];
  }
  void Append(const char* text) { Append(text, std::strlen(text)); }
  /// Upper-case hexadecimal, zero-padded to at least `width` digits.
  void AppendHex(std::uint64_t value, int width) {
    char digits[16];
    int count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[value & 15];
      value >>= 4;
    } while (value != 0);
    for (int i = count; i < width; ++i) Append("0", 1);
    while (count > 0) Append(&digits[--count], 1);
  }
};

}  // namespace

EInOutError::EInOutError(std::int32_t code) : Exception(InOutErrorMessage(code)), ErrorCode(code) {}

EExternalException::EExternalException(std::uint32_t code) : Exception(""), ExceptionCode(code) {
  char text[64];
  FixedText message{text, sizeof text};
  message.Append("External exception ");
  message.AppendHex(code, 1);
  Message.assign(text, message.Length);
}

std::string InOutErrorMessage(std::int32_t code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
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

std::string ExceptionReport(const char* className, const std::string& moduleName,
                            std::uintptr_t address, const std::string& message) {
  std::string out(std::strlen(className) + moduleName.size() + message.size() + 64, '\0');
  out.resize(FormatExceptionReport(out.data(), out.size(), className, moduleName.c_str(), address,
                                   message.data(), message.size()));
  return out;
}

std::string RuntimeErrorReport(std::int32_t number, std::uintptr_t address) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), ' ');
  char text[32];
  FixedText hex{text, sizeof text};
  hex.AppendHex(address, 8);
  return "Runtime error " + digits + " at " + std::string(text, hex.Length);
}

namespace {

/// The exception class and fixed message of each system exception code.
struct FaultClass {
  std::uint32_t Code;
  const char* ClassName;
  const char* Message;
};

constexpr FaultClass FaultClasses[] = {
    {ExceptionArrayBoundsExceeded, "ERangeError", "Range check error"},
    {ExceptionIntDivideByZero, "EDivByZero", "Division by zero"},
    {ExceptionIntOverflow, "EIntOverflow", "Integer overflow"},
    {ExceptionFltDivideByZero, "EZeroDivide", "Floating point division by zero"},
    {ExceptionFltOverflow, "EOverflow", "Floating point overflow"},
    {ExceptionFltUnderflow, "EUnderflow", "Floating point underflow"},
    {ExceptionFltDenormalOperand, "EUnderflow", "Floating point underflow"},
    {ExceptionFltInvalidOperation, "EInvalidOp", "Invalid floating point operation"},
    {ExceptionFltInexactResult, "EInvalidOp", "Invalid floating point operation"},
    {ExceptionFltStackCheck, "EInvalidOp", "Invalid floating point operation"},
    {ExceptionPrivilegedInstruction, "EPrivilege", "Privileged instruction"},
    {ExceptionStackOverflow, "EStackOverflow", "Stack overflow"},
    {ExceptionControlCExit, "EControlC", "Control-C hit"},
};

}  // namespace

const char* DescribeFault(std::uint32_t code, std::uintptr_t codeAddress, bool isWrite,
                          std::uintptr_t dataAddress, char* message, std::size_t size) {
  FixedText text{message, size > 0 ? size - 1 : 0};
  const char* className = "EExternalException";
  if (code == ExceptionAccessViolation) {
    className = "EAccessViolation";
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
      text.Append("External exception ");
      text.AppendHex(code, 1);
    }
  }
  if (size > 0) message[text.Length] = 0;
  return className;
}
