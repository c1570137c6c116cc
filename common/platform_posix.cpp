// POSIX backend of the platform services. Only code that stands in for a
// Win32 call belongs here: translating errno into Win32 error numbers,
// completing short transfers, and turning signals into system exceptions.
#include "common/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

std::uint32_t LastError = 0;
std::string CommandLine;
std::string ProgramPath;
ExceptionFilter Filter = nullptr;
std::uintptr_t StackTop = 0;
bool InFaultHandler = false;

/// Win32 error number for an errno value, so that messages keyed on Win32
/// numbers keep their meaning.
std::uint32_t TranslateErrno(int error) {
  switch (error) {
    case ENOENT: return ErrorFileNotFound;
    case ENOTDIR: return ErrorPathNotFound;
    case EMFILE: return ErrorTooManyOpenFiles;
    case ENFILE: return ErrorTooManyOpenFiles;
    case EACCES: return ErrorAccessDenied;
    case EPERM: return ErrorAccessDenied;
    case EISDIR: return ErrorAccessDenied;
    case EBADF: return ErrorInvalidHandle;
    case ENOMEM: return ErrorNotEnoughMemory;
    case EROFS: return ErrorWriteProtect;
    case EBUSY: return ErrorSharingViolation;
    case ETXTBSY: return ErrorSharingViolation;
    case EEXIST: return ErrorFileExists;
    case EINVAL: return ErrorInvalidParameter;
    case EPIPE: return ErrorBrokenPipe;
    case ENOSPC: return ErrorDiskFull;
    case EDQUOT: return ErrorDiskFull;
    case ENAMETOOLONG: return ErrorFilenameExcedRange;
    case EFBIG: return ErrorFileTooLarge;
    case EIO: return ErrorIoDevice;
    case ELOOP: return ErrorCantResolveFilename;
    default: return ErrorGenFailure;
  }
}

bool FailWithErrno() {
  LastError = TranslateErrno(errno);
  return false;
}

const char* PosixGetCommandLine() { return CommandLine.c_str(); }

std::uint32_t PosixGetModuleFileName(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  std::uint32_t length = static_cast<std::uint32_t>(ProgramPath.size());
  if (length >= size) length = size - 1;
  std::memcpy(buffer, ProgramPath.data(), length);
  buffer[length] = 0;
  return length;
}

Handle PosixGetStdHandle(StandardHandle which) { return static_cast<Handle>(which); }

std::uint32_t PosixGetFileType(Handle handle) {
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0) {
    FailWithErrno();
    return FileTypeUnknown;
  }
  if (S_ISCHR(info.st_mode)) return FileTypeChar;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FileTypePipe;
  return FileTypeDisk;
}

Handle PosixCreateFile(const char* name, std::uint32_t access, std::uint32_t /*share*/,
                       std::uint32_t disposition) {
  int flags = O_CLOEXEC | O_NOCTTY;
  bool reads = (access & GenericRead) != 0;
  bool writes = (access & GenericWrite) != 0;
  if (reads && writes) flags |= O_RDWR;
  else if (writes) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  if (disposition == CreateAlways) flags |= O_CREAT | O_TRUNC;
  // A FIFO is opened without waiting for its other end: a program must not
  // hang in an open. Reads and writes on it block as usual afterwards.
  int fd;
  do {
    fd = open(name, flags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailWithErrno();
    return InvalidHandleValue;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    FailWithErrno();
    close(fd);
    return InvalidHandleValue;
  }
  // Win32 refuses to open a directory as a file. A FIFO opened for reading
  // and writing would be its own only reader and block forever once full.
  if (S_ISDIR(info.st_mode) || (S_ISFIFO(info.st_mode) && reads && writes)) {
    close(fd);
    LastError = ErrorAccessDenied;
    return InvalidHandleValue;
  }
  int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
    FailWithErrno();
    close(fd);
    return InvalidHandleValue;
  }
  return static_cast<Handle>(fd);
}

// Reads and writes loop over short transfers and interruptions, so that one
// request moves all its bytes or fails, as on a Win32 disk file.
bool PosixReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint64_t total = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > 0x40000000u) chunk = 0x40000000u;
    ssize_t got = read(static_cast<int>(handle), bytes + total, static_cast<std::size_t>(chunk));
    if (got < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return FailWithErrno();
    }
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  *done = total;
  return true;
}

bool PosixWriteFile(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint64_t total = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > 0x40000000u) chunk = 0x40000000u;
    ssize_t put = write(static_cast<int>(handle), bytes + total, static_cast<std::size_t>(chunk));
    if (put < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return FailWithErrno();
    }
    if (put == 0) {
      *done = total;
      LastError = ErrorDiskFull;
      return false;
    }
    total += static_cast<std::uint64_t>(put);
  }
  *done = total;
  return true;
}

bool PosixGetFileSize(Handle handle, std::int64_t* size) {
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0) return FailWithErrno();
  *size = static_cast<std::int64_t>(info.st_size);
  return true;
}

bool PosixCloseHandle(Handle handle) {
  // On Linux the descriptor is released even when close reports EINTR.
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR) return FailWithErrno();
  return true;
}

void FillIdentity(const struct stat& info, FileIdentity* identity) {
  identity->Volume = static_cast<std::uint64_t>(info.st_dev);
  identity->Index = static_cast<std::uint64_t>(info.st_ino);
  identity->IsRegular = S_ISREG(info.st_mode);
}

bool PosixIdentityByHandle(Handle handle, FileIdentity* identity) {
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0) return FailWithErrno();
  FillIdentity(info, identity);
  return true;
}

bool PosixIdentityByName(const char* name, FileIdentity* identity) {
  struct stat info {};
  if (stat(name, &info) != 0) return FailWithErrno();
  FillIdentity(info, identity);
  return true;
}

void WriteAll(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t put = write(fd, text, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    text += put;
    length -= static_cast<std::size_t>(put);
  }
}

// The alert sound of a console program is the terminal bell; it goes to
// standard error, and only when that is a terminal, so that redirected
// output never holds it.
void PosixMessageBeep(std::uint32_t /*type*/) {
  if (isatty(STDERR_FILENO)) WriteAll(STDERR_FILENO, "\a", 1);
}

void PosixMessageBox(const char* text, const char* caption) {
  WriteAll(STDERR_FILENO, caption, std::strlen(caption));
  WriteAll(STDERR_FILENO, ": ", 2);
  WriteAll(STDERR_FILENO, text, std::strlen(text));
  WriteAll(STDERR_FILENO, "\n", 1);
}

std::uint32_t FaultCode(int signal, int code, std::uintptr_t address) {
  switch (signal) {
    case SIGSEGV: {
      // A fault just below the stack in use is the stack growing into its
      // guard area.
      rlimit limit {};
      std::uintptr_t size = 8u << 20;
      if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        size = static_cast<std::uintptr_t>(limit.rlim_cur);
      }
      std::uintptr_t slack = 1u << 20;
      if (address < StackTop && StackTop - address <= size + slack) return ExceptionStackOverflow;
      return ExceptionAccessViolation;
    }
    case SIGBUS: return ExceptionInPageError;
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV: return ExceptionIntDivideByZero;
        case FPE_INTOVF: return ExceptionIntOverflow;
        case FPE_FLTDIV: return ExceptionFltDivideByZero;
        case FPE_FLTOVF: return ExceptionFltOverflow;
        case FPE_FLTUND: return ExceptionFltUnderflow;
        case FPE_FLTRES: return ExceptionFltInexactResult;
        case FPE_FLTSUB: return ExceptionArrayBoundsExceeded;
        default: return ExceptionFltInvalidOperation;
      }
    case SIGILL:
      return code == ILL_PRVOPC || code == ILL_PRVREG ? ExceptionPrivilegedInstruction
                                                      : ExceptionIllegalInstruction;
    default: return ExceptionIllegalInstruction;
  }
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
  InFaultHandler = true;
  ExceptionRecord record {};
  record.DataAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
  record.Code = FaultCode(signal, info->si_code, record.DataAddress);
  record.Address = record.DataAddress;
#if defined(__x86_64__)
  const auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
  record.Address = static_cast<std::uintptr_t>(machine->gregs[REG_RIP]);
  // Bit 1 of the page-fault error code is set for a write access.
  record.IsWrite = (machine->gregs[REG_ERR] & 2) != 0;
#else
  (void)context;
#endif
  if (Filter != nullptr) Filter(record);
  _exit(1);
}

void PosixSetFilter(ExceptionFilter filter) {
  Filter = filter;
  static char alternateStack[1 << 16];
  stack_t stack {};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = FaultHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signal, &action, nullptr);
}

std::string WithoutQuotes(const char* text) {
  std::string bare;
  for (const char* p = text; *p != 0; ++p) {
    if (*p != '"') bare += *p;
  }
  return bare;
}

extern "C" char __executable_start;

std::uintptr_t PosixGetModuleHandle() { return reinterpret_cast<std::uintptr_t>(&__executable_start); }

void PosixExitProcess(std::uint32_t status) {
  // Inside a fault handler only the plain system exit is safe.
  if (InFaultHandler) _exit(static_cast<int>(status));
  std::exit(static_cast<int>(status));
}

}  // namespace

PlatformCallTable PlatformCalls = {
    PosixGetCommandLine,   PosixGetModuleFileName, PosixGetStdHandle,     PosixGetFileType,
    PosixCreateFile,       PosixReadFile,          PosixWriteFile,        PosixGetFileSize,
    PosixCloseHandle,      PosixIdentityByHandle,  PosixIdentityByName,   PosixMessageBeep,
    PosixMessageBox,       PosixSetFilter,         PosixGetModuleHandle,  PosixExitProcess,
};

std::uint32_t GetLastError() { return LastError; }

void SetLastError(std::uint32_t code) { LastError = code; }

void PlatformStartup(int argc, char** argv) {
  int marker = 0;
  StackTop = reinterpret_cast<std::uintptr_t>(&marker);
  // Writing to a closed pipe must fail like any other write, not kill us.
  signal(SIGPIPE, SIG_IGN);
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) ProgramPath.assign(path, static_cast<std::size_t>(length));
  else if (argc > 0) ProgramPath = argv[0];
  // The one command-line string: every argument wrapped in quote bytes, its
  // own quote bytes dropped, so that the splitter gives back each argument
  // whole and an empty argument is no argument.
  CommandLine.clear();
  for (int i = 0; i < argc; ++i) {
    // An empty program name would be skipped like an empty argument, and
    // the first argument taken for the name; the program's path stands in.
    const char* argument = argv[i];
    if (i == 0 && WithoutQuotes(argument).empty()) {
      argument = WithoutQuotes(ProgramPath.c_str()).empty() ? "program" : ProgramPath.c_str();
    }
    if (i > 0) CommandLine += ' ';
    CommandLine += '"';
    CommandLine += WithoutQuotes(argument);
    CommandLine += '"';
  }
}
