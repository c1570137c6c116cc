// Win32 backend of the platform services: each service is the Win32 call of
// the same name with the arguments the programs were designed with. Beyond
// the calls themselves this file only copies the system's last error into
// the layer's own error number at once, completes transfers larger than one
// call can move, and turns processor faults into the filter's records.
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

// The runtime splits the real command line itself and never reads the C
// runtime's argument vector: the runtime's start-up code need not expand
// wildcards in it by scanning directories.
extern "C" {
int _dowildcard = 0;
}

namespace platform {

namespace {

std::uint32_t LastError = 0;
ExceptionFilter Filter = nullptr;

/// The largest count handed to one ReadFile or WriteFile call: the call's
/// own count is 32 bits wide.
constexpr std::uint64_t LargestTransfer = 0x40000000u;

/// Set once a fault is being reported; from then on the process ends
/// without running anything of the runtime library.
volatile LONG InFaultHandler = 0;

/// A stack overflow is reported by a thread of its own: the faulting
/// thread has no stack left to format and write the report.
ExceptionRecord OverflowRecord{};
HANDLE OverflowEvent = nullptr;

HANDLE AsSystemHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle AsHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

/// Copies the system's last error, read at once after the failed call.
bool Fail() {
  LastError = ::GetLastError();
  return false;
}

const char* Win32GetCommandLine() { return ::GetCommandLineA(); }

std::uint32_t Win32GetModuleFileName(char* buffer, std::uint32_t size) {
  // The system gives `size` back when the path did not fit.
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, size);
  if (length == 0) Fail();
  return length;
}

Handle Win32GetStdHandle(StandardHandle which) {
  DWORD code = which == StdInputHandle    ? STD_INPUT_HANDLE
               : which == StdOutputHandle ? STD_OUTPUT_HANDLE
                                          : STD_ERROR_HANDLE;
  HANDLE handle = ::GetStdHandle(code);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return InvalidHandleValue;
  }
  // A process started without this standard handle has none at all.
  if (handle == nullptr) {
    LastError = ERROR_INVALID_HANDLE;
    return InvalidHandleValue;
  }
  return AsHandle(handle);
}

std::uint32_t Win32GetFileType(Handle handle) {
  DWORD type = ::GetFileType(AsSystemHandle(handle));
  if (type == FILE_TYPE_UNKNOWN) Fail();
  return type;
}

Handle Win32CreateFile(const char* name, std::uint32_t access, std::uint32_t share,
                       std::uint32_t disposition) {
  HANDLE handle = ::CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return InvalidHandleValue;
  }
  // After OPEN_ALWAYS the system's last error tells whether the file existed.
  LastError = ::GetLastError();
  return AsHandle(handle);
}

// One request moves all its bytes, however many: calls of at most 1 GiB
// follow each other until the count is reached (a read stops early only at
// the end of the input) or a call fails.
bool Win32ReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint64_t total = 0;
  *done = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > LargestTransfer) chunk = LargestTransfer;
    DWORD got = 0;
    if (!::ReadFile(AsSystemHandle(handle), bytes + total, static_cast<DWORD>(chunk), &got,
                    nullptr)) {
      *done = total;
      return Fail();
    }
    if (got == 0) break;
    total += got;
  }
  *done = total;
  return true;
}

bool Win32WriteFile(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint64_t total = 0;
  *done = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > LargestTransfer) chunk = LargestTransfer;
    DWORD put = 0;
    if (!::WriteFile(AsSystemHandle(handle), bytes + total, static_cast<DWORD>(chunk), &put,
                     nullptr)) {
      *done = total;
      return Fail();
    }
    // A call that takes nothing would take nothing again.
    if (put == 0) {
      *done = total;
      LastError = ERROR_DISK_FULL;
      return false;
    }
    total += put;
  }
  *done = total;
  return true;
}

bool Win32GetFileSize(Handle handle, std::int64_t* size) {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(AsSystemHandle(handle), &value)) return Fail();
  *size = value.QuadPart;
  return true;
}

bool Win32SetEndOfFile(Handle handle) {
  if (!::SetEndOfFile(AsSystemHandle(handle))) return Fail();
  return true;
}

bool Win32CloseHandle(Handle handle) {
  if (!::CloseHandle(AsSystemHandle(handle))) return Fail();
  return true;
}

bool Win32DeleteFile(const char* name) {
  if (!::DeleteFileA(name)) return Fail();
  return true;
}

bool Win32IdentityByHandle(Handle handle, FileIdentity* identity) {
  HANDLE system = AsSystemHandle(handle);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(system, &information)) {
    // A character device (a console, NUL) has no file index; it is shared
    // by everyone and never compared, so it needs none.
    DWORD error = ::GetLastError();
    if (::GetFileType(system) == FILE_TYPE_CHAR) {
      *identity = FileIdentity{0, 0, true};
      return true;
    }
    LastError = error;
    return false;
  }
  identity->Volume = information.dwVolumeSerialNumber;
  identity->Index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  identity->IsCharDevice = ::GetFileType(system) == FILE_TYPE_CHAR;
  return true;
}

// Opened with no access at all, which no other opener's share mode can
// refuse, and with backup semantics, so that a directory answers too.
bool Win32IdentityByName(const char* name, FileIdentity* identity) {
  HANDLE handle = ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  bool known = Win32IdentityByHandle(AsHandle(handle), identity);
  DWORD error = LastError;
  ::CloseHandle(handle);
  LastError = error;
  return known;
}

void Win32MessageBeep(std::uint32_t type) { ::MessageBeep(type); }

void Win32MessageBox(const char* text, const char* caption, std::uint32_t type) {
  ::MessageBoxA(nullptr, text, caption, type);
}

ExceptionRecord RecordOf(const EXCEPTION_RECORD& system) {
  ExceptionRecord record{};
  record.Code = system.ExceptionCode;
  record.Address = reinterpret_cast<std::uintptr_t>(system.ExceptionAddress);
  if (system.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && system.NumberParameters >= 2) {
    // The first parameter is 1 for a write (8 for executing data, which
    // reads it); the second is the address touched.
    record.IsWrite = system.ExceptionInformation[0] == 1;
    record.DataAddress = static_cast<std::uintptr_t>(system.ExceptionInformation[1]);
  }
  return record;
}

/// Every fault that no one handles reaches this filter, on the faulting
/// thread's own stack.
LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
  InterlockedExchange(&InFaultHandler, 1);
  ExceptionRecord record = RecordOf(*pointers->ExceptionRecord);
  if (Filter != nullptr) Filter(record);
  ::TerminateProcess(::GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

/// Sees every exception before any frame does, the compiler's own C++
/// throws included; it reacts to a stack overflow only, which never reaches
/// the top-level filter. The report is the watchdog's to make; this thread
/// waits until the watchdog ends the process.
LONG WINAPI StackOverflowHandler(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (InterlockedExchange(&InFaultHandler, 1) != 0) ::Sleep(INFINITE);
  OverflowRecord = RecordOf(*pointers->ExceptionRecord);
  ::SetEvent(OverflowEvent);
  ::Sleep(INFINITE);
  return EXCEPTION_CONTINUE_SEARCH;
}

/// Started with the filter; waits for a stack overflow and reports it with
/// a stack of its own.
DWORD WINAPI Watchdog(void*) {
  ::WaitForSingleObject(OverflowEvent, INFINITE);
  if (Filter != nullptr) Filter(OverflowRecord);
  ::TerminateProcess(::GetCurrentProcess(), 1);
  return 0;
}

void Win32SetFilter(ExceptionFilter filter) {
  Filter = filter;
  ::SetUnhandledExceptionFilter(TopLevelFilter);
  if (OverflowEvent != nullptr) return;
  OverflowEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = OverflowEvent != nullptr
                      ? ::CreateThread(nullptr, 64 * 1024, Watchdog, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                      : nullptr;
  if (thread == nullptr) return;
  ::CloseHandle(thread);
  ::AddVectoredExceptionHandler(1, StackOverflowHandler);
}

std::uintptr_t Win32GetModuleHandle() {
  return reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
}

void Win32ExitProcess(std::uint32_t status) {
  // After a fault, nothing of the libraries may run any more: a lock they
  // hold may belong to the faulting thread.
  if (InFaultHandler != 0) ::TerminateProcess(::GetCurrentProcess(), status);
  ::ExitProcess(status);
}

}  // namespace

CallTable Calls = {
    Win32GetCommandLine,  Win32GetModuleFileName, Win32GetStdHandle,    Win32GetFileType,
    Win32CreateFile,      Win32ReadFile,          Win32WriteFile,       Win32GetFileSize,
    Win32SetEndOfFile,    Win32CloseHandle,       Win32DeleteFile,      Win32IdentityByHandle,
    Win32IdentityByName,  Win32MessageBeep,       Win32MessageBox,      Win32SetFilter,
    Win32GetModuleHandle, Win32ExitProcess,
};

std::uint32_t GetLastError() { return LastError; }

void SetLastError(std::uint32_t code) { LastError = code; }

bool IsPathSeparator(char byte) { return byte == '\\' || byte == '/'; }

// The command line and the module name are the system's own; nothing needs
// preparing.
void Startup(int /*argc*/, char** /*argv*/) {}

}  // namespace platform
