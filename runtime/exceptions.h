// The exception classes. Every failure that a program does not test for
// itself becomes one of these; none is ever caught by the programs, so each
// one ends the run through the fatal error path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Root of the class hierarchy; knows its own class name as text. Each
/// class also names itself in `Name`, so that the fault table can name a
/// class without making an object of it.
class TObject {
 public:
  static constexpr const char* Name = "TObject";
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return Name; }
};

/// A failure with a message text and the code address it was raised at.
class Exception : public TObject {
 public:
  static constexpr const char* Name = "Exception";
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* ClassName() const override { return Name; }
  std::string Message;
  /// Offset of the raising code from the start of the program's code.
  std::uintptr_t RaiseAddress = 0;
};

#define DECLARE_EXCEPTION_CLASS(Class, Base)                \
  class Class : public Base {                               \
   public:                                                  \
    static constexpr const char* Name = #Class;             \
    using Base::Base;                                       \
    const char* ClassName() const override { return Name; } \
  }

DECLARE_EXCEPTION_CLASS(EOutOfMemory, Exception);
DECLARE_EXCEPTION_CLASS(EInvalidPointer, Exception);
DECLARE_EXCEPTION_CLASS(EIntError, Exception);
DECLARE_EXCEPTION_CLASS(EDivByZero, EIntError);
DECLARE_EXCEPTION_CLASS(ERangeError, EIntError);
DECLARE_EXCEPTION_CLASS(EIntOverflow, EIntError);
DECLARE_EXCEPTION_CLASS(EMathError, Exception);
DECLARE_EXCEPTION_CLASS(EInvalidOp, EMathError);
DECLARE_EXCEPTION_CLASS(EZeroDivide, EMathError);
DECLARE_EXCEPTION_CLASS(EOverflow, EMathError);
DECLARE_EXCEPTION_CLASS(EUnderflow, EMathError);
DECLARE_EXCEPTION_CLASS(EAccessViolation, Exception);
DECLARE_EXCEPTION_CLASS(EPrivilege, Exception);
DECLARE_EXCEPTION_CLASS(EStackOverflow, Exception);
DECLARE_EXCEPTION_CLASS(EControlC, Exception);

/// A class whose objects also hold the code that caused them; its
/// constructor makes the message from the code.
#define DECLARE_CODED_EXCEPTION_CLASS(Class, CodeType, CodeField) \
  class Class : public Exception {                                \
   public:                                                        \
    static constexpr const char* Name = #Class;                   \
    explicit Class(CodeType code);                                \
    const char* ClassName() const override { return Name; }       \
    CodeType CodeField;                                           \
  }

/// A failed I/O operation; holds the I/O result code that caused it.
DECLARE_CODED_EXCEPTION_CLASS(EInOutError, std::int32_t, ErrorCode);
/// A system exception with no class of its own; holds the system's code.
DECLARE_CODED_EXCEPTION_CLASS(EExternalException, std::uint32_t, ExceptionCode);

#undef DECLARE_CODED_EXCEPTION_CLASS
#undef DECLARE_EXCEPTION_CLASS

/// The message of `EOutOfMemory`. It fits a string's own storage, so that
/// neither making nor copying an exception that carries it takes memory from
/// the heap.
inline constexpr const char* OutOfMemoryMessage = "Out of memory";

/// The offset of a code address from the start of the program's code, as
/// `RaiseAddress` and the reports give it; an address below that start is
/// given as it is.
std::uintptr_t CodeOffset(std::uintptr_t address);

/// Sets a block of memory aside and has every allocation that the heap
/// cannot satisfy give it back before `std::bad_alloc` is raised: raising
/// an exception takes memory for the exception object too, and where the
/// C++ library could not set its own emergency memory aside at load time, a
/// raise without that memory ends the process in an abort. False when not
/// even the reserve could be had.
bool KeepExceptionReserve();

/// Gives the reserve back to the heap. Every raise of the runtime does this
/// first; since no exception is ever caught but to end the run, the reserve
/// is needed once.
void ReleaseExceptionReserve();

/// The message that `EInOutError` carries for an I/O result code.
std::string InOutErrorMessage(std::int32_t code);

/// The same message written into `out` (no terminating 0), without the
/// heap. Returns the length written.
std::size_t FormatInOutErrorMessage(char* out, std::size_t size, std::int32_t code);

/// The longest report either format produces; every class and message of
/// the runtime fits.
inline constexpr std::size_t ReportCapacity = 256;

/// Writes the unhandled-exception report, "Exception <class> in module
/// <module> at <address>.\n<message>" plus a full stop when the message does
/// not already end in one, into `out` (no terminating 0). Uses no heap, so
/// that it may run inside a fault handler. Returns the length written.
std::size_t FormatExceptionReport(char* out, std::size_t size, const char* className,
                                  const char* moduleName, std::uintptr_t address,
                                  const char* message, std::size_t messageLength);

/// Writes "Runtime error NNN at XXXXXXXX", the number right-aligned in three
/// places, into `out` (no terminating 0). Uses no heap. Returns the length.
std::size_t FormatRuntimeErrorReport(char* out, std::size_t size, std::int32_t number,
                                     std::uintptr_t address);

/// Class name and message that a processor fault of this system exception
/// record becomes. Uses no heap; `message` receives a 0-terminated text.
const char* DescribeFault(std::uint32_t code, std::uintptr_t codeAddress, bool isWrite,
                          std::uintptr_t dataAddress, char* message, std::size_t size);
