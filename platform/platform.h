// The operating-system services both programs use, in the shape of the Win32
// calls they were designed against. Everything above this header is portable
// code; one backend file per system (platform_posix.cpp, platform_win32.cpp)
// implements these services, and the build picks the file. No system header
// is included here or above it, and every name lives in `platform`, so that
// this header can stand next to the system's own declarations.
//
// Every service but four goes through `platform::Calls`, a table of function
// pointers that tests may replace entry by entry to make a chosen call fail
// with a chosen code or to pretend that a handle is a console. The four hold
// nothing to fake: GetLastError and SetLastError read and set the layer's own
// error number, a variable that backends and fakes set alike; IsPathSeparator
// answers from the system's rule for paths; and Startup runs once, before
// anything else, to prepare what the entries then read.
#pragma once

#include <cstdint>

#include "platform/builtins.h"

namespace platform {

using Handle = std::intptr_t;

/// The handle value that a failed open or an unknown standard handle returns.
inline constexpr Handle InvalidHandleValue = -1;

/// Which standard handle `GetStdHandle` returns.
enum StandardHandle : std::uint32_t { StdInputHandle = 0, StdOutputHandle = 1, StdErrorHandle = 2 };

/// Device types reported by `GetFileType`.
enum FileType : std::uint32_t {
  FileTypeUnknown = 0,
  FileTypeDisk = 1,
  FileTypeChar = 2,
  FileTypePipe = 3,
};

/// Access rights for `CreateFileA`.
inline constexpr std::uint32_t GenericRead = 0x80000000u;
inline constexpr std::uint32_t GenericWrite = 0x40000000u;

/// Share modes for `CreateFileA`. Where the system has no share modes, a
/// regular file opened without `FileShareWrite` is locked against other
/// runs' opens of the same kind, so that none of them empties it; nothing
/// else of the modes is kept there.
inline constexpr std::uint32_t FileShareRead = 1;
inline constexpr std::uint32_t FileShareWrite = 2;

/// Creation dispositions for `CreateFileA`. `OpenAlways` opens the file or
/// creates it, never emptying it; after it succeeds, `GetLastError` gives
/// `ErrorAlreadyExists` when the name existed and 0 when the open created it.
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t OpenAlways = 4;

/// Box types for `MessageBoxA`.
inline constexpr std::uint32_t MessageBoxOk = 0x0000;
inline constexpr std::uint32_t MessageBoxIconStop = 0x0010;
inline constexpr std::uint32_t MessageBoxTaskModal = 0x2000;

/// Error numbers, with their Win32 values, that the programs and tests name.
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorPathNotFound = 3;
inline constexpr std::uint32_t ErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidHandle = 6;
inline constexpr std::uint32_t ErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t ErrorWriteProtect = 19;
inline constexpr std::uint32_t ErrorGenFailure = 31;
inline constexpr std::uint32_t ErrorSharingViolation = 32;
inline constexpr std::uint32_t ErrorFileExists = 80;
inline constexpr std::uint32_t ErrorInvalidParameter = 87;
inline constexpr std::uint32_t ErrorBrokenPipe = 109;
inline constexpr std::uint32_t ErrorDiskFull = 112;
inline constexpr std::uint32_t ErrorAlreadyExists = 183;
inline constexpr std::uint32_t ErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t ErrorInvalidName = 123;
inline constexpr std::uint32_t ErrorFileTooLarge = 223;
inline constexpr std::uint32_t ErrorIoDevice = 1117;
inline constexpr std::uint32_t ErrorCantResolveFilename = 1921;

/// System exception codes passed to the unhandled-exception filter.
inline constexpr std::uint32_t ExceptionAccessViolation = 0xC0000005u;
inline constexpr std::uint32_t ExceptionInPageError = 0xC0000006u;
inline constexpr std::uint32_t ExceptionIllegalInstruction = 0xC000001Du;
inline constexpr std::uint32_t ExceptionArrayBoundsExceeded = 0xC000008Cu;
inline constexpr std::uint32_t ExceptionFltDenormalOperand = 0xC000008Du;
inline constexpr std::uint32_t ExceptionFltDivideByZero = 0xC000008Eu;
inline constexpr std::uint32_t ExceptionFltInexactResult = 0xC000008Fu;
inline constexpr std::uint32_t ExceptionFltInvalidOperation = 0xC0000090u;
inline constexpr std::uint32_t ExceptionFltOverflow = 0xC0000091u;
inline constexpr std::uint32_t ExceptionFltStackCheck = 0xC0000092u;
inline constexpr std::uint32_t ExceptionFltUnderflow = 0xC0000093u;
inline constexpr std::uint32_t ExceptionIntDivideByZero = 0xC0000094u;
inline constexpr std::uint32_t ExceptionIntOverflow = 0xC0000095u;
inline constexpr std::uint32_t ExceptionPrivilegedInstruction = 0xC0000096u;
inline constexpr std::uint32_t ExceptionStackOverflow = 0xC00000FDu;
inline constexpr std::uint32_t ExceptionControlCExit = 0xC000013Au;

/// What the system tells the unhandled-exception filter about a processor
/// fault. For an access violation, `IsWrite` says whether the faulting access
/// was a write and `DataAddress` is the address it touched.
struct ExceptionRecord {
  std::uint32_t Code;
  std::uintptr_t Address;
  bool IsWrite;
  std::uintptr_t DataAddress;
};

/// Called on a processor fault, on a stack of its own; must not return.
using ExceptionFilter = void (*)(const ExceptionRecord& record);

/// Identity of a file on its volume, as `GetFileInformationByHandle` reports
/// it; two names designate the same file exactly when their identities match.
struct FileIdentity {
  std::uint64_t Volume;
  std::uint64_t Index;
  /// A character device (a terminal, /dev/null) is shared by everyone and
  /// is never "the same file" in the sense of overwriting it.
  bool IsCharDevice;
};

/// True when two identities designate the same file.
inline bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.Volume == b.Volume && a.Index == b.Index;
}

/// The table behind every service below but GetLastError, SetLastError,
/// IsPathSeparator and Startup. Tests may replace entries and must restore
/// them.
struct CallTable {
  const char* (*GetCommandLineA)();
  /// The `index`-th argument after the program name exactly as the system
  /// passed it, where the system passes arguments one by one and the command
  /// line built from them cannot carry this one whole (it holds a quote
  /// byte); nullptr for every other argument, and always where the command
  /// line is the system's own string.
  const char* (*GetArgumentAsGiven)(std::int32_t index);
  /// Copies the program's full path; returns its length, or `size` when the
  /// buffer was too small (then the copy is cut and not terminated).
  std::uint32_t (*GetModuleFileNameA)(char* buffer, std::uint32_t size);
  Handle (*GetStdHandle)(StandardHandle which);
  std::uint32_t (*GetFileType)(Handle handle);
  Handle (*CreateFileA)(const char* name, std::uint32_t access, std::uint32_t share,
                        std::uint32_t disposition);
  bool (*ReadFile)(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done);
  bool (*WriteFile)(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done);
  bool (*GetFileSizeEx)(Handle handle, std::int64_t* size);
  /// Makes the file end at the handle's current position (0 right after
  /// an open): what follows is cut off.
  bool (*SetEndOfFile)(Handle handle);
  bool (*CloseHandle)(Handle handle);
  bool (*DeleteFileA)(const char* name);
  bool (*GetFileInformationByHandle)(Handle handle, FileIdentity* identity);
  /// The identity of the file a name designates, without opening it for
  /// reading or writing.
  bool (*QueryFileIdentity)(const char* name, FileIdentity* identity);
  void (*MessageBeep)(std::uint32_t type);
  void (*MessageBoxA)(const char* text, const char* caption, std::uint32_t type);
  void (*SetUnhandledExceptionFilter)(ExceptionFilter filter);
  std::uintptr_t (*GetModuleHandleA)();
  void (*ExitProcess)(std::uint32_t status);  // never returns
};

extern CallTable Calls;

/// The error number of the last failed call (Win32 numbering).
std::uint32_t GetLastError();

/// Sets the number that `GetLastError` returns; for backends and test fakes.
void SetLastError(std::uint32_t code);

/// True for a byte that ends a directory name in the paths the system
/// reports, such as the program's own path.
bool IsPathSeparator(char byte);

/// Prepares the process before anything else runs: takes the argument
/// vector (the backend derives the command line and module name from it
/// where the system has no such string) and sets up how signals and the
/// standard handles behave. May raise `std::bad_alloc`.
void Startup(int argc, char** argv);

inline const char* GetCommandLineA() { return Calls.GetCommandLineA(); }
inline const char* GetArgumentAsGiven(std::int32_t index) {
  return Calls.GetArgumentAsGiven(index);
}
inline std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) {
  return Calls.GetModuleFileNameA(buffer, size);
}
inline Handle GetStdHandle(StandardHandle which) { return Calls.GetStdHandle(which); }
inline std::uint32_t GetFileType(Handle handle) { return Calls.GetFileType(handle); }
inline Handle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition) {
  return Calls.CreateFileA(name, access, share, disposition);
}
inline bool ReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  return Calls.ReadFile(handle, buffer, count, done);
}
inline bool WriteFile(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done) {
  return Calls.WriteFile(handle, buffer, count, done);
}
inline bool GetFileSizeEx(Handle handle, std::int64_t* size) {
  return Calls.GetFileSizeEx(handle, size);
}
inline bool SetEndOfFile(Handle handle) { return Calls.SetEndOfFile(handle); }
inline bool CloseHandle(Handle handle) { return Calls.CloseHandle(handle); }
inline bool DeleteFileA(const char* name) { return Calls.DeleteFileA(name); }
inline bool GetFileInformationByHandle(Handle handle, FileIdentity* identity) {
  return Calls.GetFileInformationByHandle(handle, identity);
}
inline bool QueryFileIdentity(const char* name, FileIdentity* identity) {
  return Calls.QueryFileIdentity(name, identity);
}
inline void MessageBeep(std::uint32_t type) { Calls.MessageBeep(type); }
inline void MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  Calls.MessageBoxA(text, caption, type);
}
inline void SetUnhandledExceptionFilter(ExceptionFilter filter) {
  Calls.SetUnhandledExceptionFilter(filter);
}
inline std::uintptr_t GetModuleHandleA() { return Calls.GetModuleHandleA(); }
[[noreturn]] inline void ExitProcess(std::uint32_t status) {
  Calls.ExitProcess(status);
  DICT_UNREACHABLE();
}

}  // namespace platform
