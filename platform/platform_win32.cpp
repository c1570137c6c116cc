// Win32 backend of the platform services: each service is the Win32 call of
// the same name with the arguments the programs were designed with. Beyond
// the calls themselves this file only copies the system's last error into
// the layer's own error number at once, completes transfers larger than one
// call can move, keeps the same-file query away from named pipes, and turns
// processor faults into the filter's records.
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

/// Stack the system keeps in reserve on the main thread for the dispatch of
/// a stack overflow to its handler, which needs little itself: it only
/// moves the thread on to where the report is made. Wine's dispatch takes
/// about 2 KiB; Windows also saves the processor's extended state, a few
/// KiB more.
constexpr ULONG OverflowDispatchReserve = 16 * 1024;

/// Where the faulting thread makes the report of a stack overflow (it takes
/// about 2.5 KiB): the top of the stack below the start-up frame that set
/// the filter. That frame stays for the whole run, and every frame below it
/// belongs to the run of the main block, which the report ends; so the
/// report may take their place.
std::uintptr_t OverflowReportStack = 0;
ExceptionRecord OverflowRecord{};

HANDLE AsSystemHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle AsHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

/// Copies the system's last error, read at once after the failed call.
bool Fail() {
  LastError = ::GetLastError();
  return false;
}

const char* Win32GetCommandLine() { return ::GetCommandLineA(); }

// The command line is the system's own string: every argument is in it.
const char* Win32GetArgumentAsGiven(std::int32_t /*index*/) { return nullptr; }

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
  HANDLE handle =
      ::CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return InvalidHandleValue;
  }
  // After OPEN_ALWAYS the system's last error tells whether the file existed.
  const DWORD opened = ::GetLastError();
  // A create that replaces a file asks for plain attributes, which the
  // system refuses for an existing hidden or system file; opening it
  // without emptying it must refuse it too.
  BY_HANDLE_FILE_INFORMATION information{};
  if (disposition == OpenAlways && opened == ERROR_ALREADY_EXISTS &&
      ::GetFileInformationByHandle(handle, &information) &&
      (information.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
    ::CloseHandle(handle);
    LastError = ERROR_ACCESS_DENIED;
    return InvalidHandleValue;
  }
  LastError = opened;
  return AsHandle(handle);
}

// One request moves all its bytes, however many: calls of at most 1 GiB
// follow each other until the count is reached (a read stops early only at
// the end of the input) or a call fails. A pipe whose writer has closed its
// end fails a read with ERROR_BROKEN_PIPE, and one whose server has
// disconnected it with ERROR_PIPE_NOT_CONNECTED: either is the end of the
// input, and the bytes gathered before it belong to the request. The bytes of a
// write are only read: the loop is shared, hence the one pointer type.
bool TransferAll(HANDLE handle, char* bytes, std::uint64_t count, std::uint64_t* done,
                 bool reading) {
  std::uint64_t total = 0;
  *done = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > LargestTransfer) chunk = LargestTransfer;
    DWORD moved = 0;
    BOOL called =
        reading ? ::ReadFile(handle, bytes + total, static_cast<DWORD>(chunk), &moved, nullptr)
                : ::WriteFile(handle, bytes + total, static_cast<DWORD>(chunk), &moved, nullptr);
    if (!called) {
      const DWORD error = ::GetLastError();
      if (reading && (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)) break;
      *done = total;
      return Fail();
    }
    if (moved == 0) {
      // A read of nothing is the end of the input; a write that takes
      // nothing would take nothing again.
      if (reading) break;
      *done = total;
      LastError = ERROR_DISK_FULL;
      return false;
    }
    total += moved;
  }
  *done = total;
  return true;
}

bool Win32ReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  return TransferAll(AsSystemHandle(handle), static_cast<char*>(buffer), count, done, true);
}

bool Win32WriteFile(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done) {
  auto* bytes = const_cast<char*>(static_cast<const char*>(buffer));
  return TransferAll(AsSystemHandle(handle), bytes, count, done, false);
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

/// Skips `part` at `at`, ASCII case ignored; a backslash in `part` also
/// matches '/'.
bool SkipPart(const char*& at, const char* part) {
  const char* from = at;
  for (; *part != 0; ++part, ++from) {
    char byte = *from;
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte - 'A' + 'a');
    if (byte == '/') byte = '\\';
    if (byte != *part) return false;
  }
  at = from;
  return true;
}

/// Skips a server's name and the separator after it.
bool SkipServer(const char*& at) {
  const char* from = at;
  while (*from != 0 && *from != '\\' && *from != '/') ++from;
  if (from == at || *from == 0) return false;
  at = from + 1;
  return true;
}

/// Whether the rest of a name after \\.\ or \\?\ lies in the pipe
/// device: pipe\X, also through the Global link and from the root of the
/// object names (GLOBALROOT\Device\NamedPipe\X, GLOBALROOT\??\pipe\X).
bool InPipeDevice(const char* at) {
  do {
    if (SkipPart(at, "pipe\\")) return true;
  } while (SkipPart(at, "global\\"));
  if (!SkipPart(at, "globalroot\\")) return false;
  if (SkipPart(at, "device\\namedpipe\\")) return true;
  return (SkipPart(at, "??\\") || SkipPart(at, "global??\\") || SkipPart(at, "dosdevices\\")) &&
         InPipeDevice(at);
}

/// Whether a name designates a named pipe, told from the name alone. The
/// name is made full first (a string operation that opens nothing), so that
/// '/', '.' and '..' read as the system's own open reads them.
/// \\server\pipe\X is a pipe served through the network redirector.
bool IsPipeName(const char* name) {
  char full[MAX_PATH * 4];
  DWORD length = ::GetFullPathNameA(name, sizeof full, full, nullptr);
  const char* at = length > 0 && length < sizeof full ? full : name;
  if (SkipPart(at, "\\\\?\\unc\\")) return SkipServer(at) && SkipPart(at, "pipe\\");
  if (SkipPart(at, "\\\\.\\") || SkipPart(at, "\\\\?\\")) return InPipeDevice(at);
  if (SkipPart(at, "\\\\")) return SkipServer(at) && SkipPart(at, "pipe\\");
  return false;
}

// Opened with no access at all, which no other opener's share mode can
// refuse, and with backup semantics, so that a directory answers too. A
// named pipe is never opened: any open of its name connects to one of its
// instances, which may be the only one its server offers. It has no
// identity to compare anyway, so its name is reported as not known.
bool Win32IdentityByName(const char* name, FileIdentity* identity) {
  if (IsPipeName(name)) {
    LastError = ERROR_NOT_SUPPORTED;
    return false;
  }
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

/// Marks a fault report as begun. A fault met while a report is being made
/// ends the process at once, with the status of a failed run and no second
/// report.
void BeginFaultReport() {
  if (InterlockedExchange(&InFaultHandler, 1) != 0) {
    ::TerminateProcess(::GetCurrentProcess(), 1);
  }
}

/// Reports a fault through the runtime's filter and ends the process.
[[noreturn]] void ReportFault(const ExceptionRecord& record) {
  if (Filter != nullptr) Filter(record);
  ::TerminateProcess(::GetCurrentProcess(), 1);
  DICT_UNREACHABLE();
}

/// Every fault that no one handles reaches this filter, on the faulting
/// thread's own stack.
LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
  BeginFaultReport();
  ReportFault(RecordOf(*pointers->ExceptionRecord));
}

/// Reports the stack overflow kept in `OverflowRecord`; the thread comes
/// here from the handler below, on the stack it had at start-up.
void ReportOverflow() { ReportFault(OverflowRecord); }

/// Sees every exception before any frame does, the compiler's own C++
/// throws included, and reacts to a stack overflow only. What is left of
/// the stack there may not hold the report: Wine raises the exception two
/// pages before the end whatever guarantee was asked for, and its dispatch
/// leaves about 2 KiB. So the same thread goes on in ReportOverflow, as if
/// called there with the stack pointer at `OverflowReportStack`, with no
/// caller to return to.
LONG WINAPI StackOverflowHandler(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  BeginFaultReport();
  OverflowRecord = RecordOf(*pointers->ExceptionRecord);
  // A call leaves the stack pointer 16-byte aligned with 32 bytes of home
  // space for the callee above it, then pushes the return address.
  CONTEXT* context = pointers->ContextRecord;
  context->Rsp = OverflowReportStack - 32 - 8;
  *reinterpret_cast<DWORD64*>(context->Rsp) = 0;
  context->Rip = reinterpret_cast<DWORD64>(&ReportOverflow);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// The programs run on their main thread alone, which sets the filter once,
// during start-up.
void Win32SetFilter(ExceptionFilter filter) {
  Filter = filter;
  ::SetUnhandledExceptionFilter(TopLevelFilter);
  if (OverflowReportStack != 0) return;
  volatile char here = 0;
  OverflowReportStack = reinterpret_cast<std::uintptr_t>(&here) & ~std::uintptr_t{15};
  ULONG reserve = OverflowDispatchReserve;
  ::SetThreadStackGuarantee(&reserve);
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
    .GetCommandLineA = Win32GetCommandLine,
    .GetArgumentAsGiven = Win32GetArgumentAsGiven,
    .GetModuleFileNameA = Win32GetModuleFileName,
    .GetStdHandle = Win32GetStdHandle,
    .GetFileType = Win32GetFileType,
    .CreateFileA = Win32CreateFile,
    .ReadFile = Win32ReadFile,
    .WriteFile = Win32WriteFile,
    .GetFileSizeEx = Win32GetFileSize,
    .SetEndOfFile = Win32SetEndOfFile,
    .CloseHandle = Win32CloseHandle,
    .DeleteFileA = Win32DeleteFile,
    .GetFileInformationByHandle = Win32IdentityByHandle,
    .QueryFileIdentity = Win32IdentityByName,
    .MessageBeep = Win32MessageBeep,
    .MessageBoxA = Win32MessageBox,
    .SetUnhandledExceptionFilter = Win32SetFilter,
    .GetModuleHandleA = Win32GetModuleHandle,
    .ExitProcess = Win32ExitProcess,
};

std::uint32_t GetLastError() { return LastError; }

void SetLastError(std::uint32_t code) { LastError = code; }

bool IsPathSeparator(char byte) { return byte == '\\' || byte == '/'; }

// The command line and the module name are the system's own; nothing needs
// preparing.
void Startup(int /*argc*/, char** /*argv*/) {}

}  // namespace platform
