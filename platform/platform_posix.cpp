// POSIX backend of the platform services. Only code that stands in for a
// Win32 call belongs here: translating errno into Win32 error numbers,
// completing interrupted, short and would-block transfers, opening or
// creating a file without emptying it, keeping files off the standard
// descriptors, and turning signals into system exceptions.
//
// Every system call goes through `SystemCalls`, so that a test can choose
// its answer, except these, which cannot fail as they are made here and
// which no test needs to replace: `signal` in Startup (ignoring SIGPIPE and
// SIGXFSZ), `getrlimit`, `getpid` and `raise` in the fault handler, and
// `_exit` and `exit`, which end the process.
#include "platform/platform_posix.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/fault_site_posix.h"
#include "platform/platform.h"

namespace platform {
namespace posix {

namespace {

int CallOpen(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }
int CallFcntl(int fd, int command, int argument) { return fcntl(fd, command, argument); }
int CallFcntlLock(int fd, int command, struct flock* lock) { return fcntl(fd, command, lock); }

}  // namespace

SystemCallTable SystemCalls = {
    .Open = CallOpen,
    .Read = read,
    .Write = write,
    .Fstat = fstat,
    .Stat = stat,
    .Close = close,
    .Fcntl = CallFcntl,
    .FcntlLock = CallFcntlLock,
    .Lseek = lseek,
    .Ftruncate = ftruncate,
    .Unlink = unlink,
    .Poll = poll,
    .Readlink = readlink,
    .Isatty = isatty,
    .Sigaltstack = sigaltstack,
    .Sigaction = sigaction,
};

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

}  // namespace posix

namespace {

using posix::SystemCalls;

std::uint32_t LastError = 0;
std::string CommandLine;
/// The arguments that the command line cannot carry, by their position in
/// it (1 for the first after the program name).
std::map<std::int32_t, std::string> ArgumentsAsGiven;
std::string ProgramPath;
ExceptionFilter Filter = nullptr;
std::uintptr_t StackTop = 0;
bool InFaultHandler = false;

/// Records errno, read at once after the call that set it, as the last error.
bool FailWithErrno() {
  LastError = posix::TranslateErrno(errno);
  return false;
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

/// Waits until a descriptor that was set non-blocking by someone else (a
/// parent sharing the pipe, say) can move bytes in the given direction.
/// Not inlined into the transfer loop: the entry handed to poll makes this
/// frame one that the stack protector guards, and the guard then costs
/// only when a transfer has to wait.
DICT_NOINLINE bool WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  for (;;) {
    if (SystemCalls.Poll(&entry, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

int FileStatus(int fd, struct stat* info) {
  int result;
  do {
    result = SystemCalls.Fstat(fd, info);
  } while (result != 0 && errno == EINTR);
  return result;
}

/// Gives up an open after the system call itself succeeded: closes the
/// descriptor (if it is still there), removes the file again when the open
/// created it (`created` is then its name), and keeps the error of the step
/// that failed. A failed create leaves no new name behind.
Handle Abandon(int fd, const char* created, std::uint32_t error) {
  if (fd >= 0) SystemCalls.Close(fd);
  if (created != nullptr) SystemCalls.Unlink(created);
  LastError = error;
  return InvalidHandleValue;
}

/// A file never takes descriptor 0, 1 or 2: while a standard stream is
/// closed, a newly opened file would otherwise receive its number, and
/// text meant for that stream would land in the file.
int MoveAboveStandardHandles(int fd) {
  if (fd > STDERR_FILENO) return fd;
  int moved = SystemCalls.Fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  int error = errno;
  SystemCalls.Close(fd);
  errno = error;
  return moved;
}

const char* PosixGetCommandLine() { return CommandLine.c_str(); }

const char* PosixGetArgumentAsGiven(std::int32_t index) {
  auto found = ArgumentsAsGiven.find(index);
  return found == ArgumentsAsGiven.end() ? nullptr : found->second.c_str();
}

std::uint32_t PosixGetModuleFileName(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  if (ProgramPath.size() >= size) {
    std::memcpy(buffer, ProgramPath.data(), size - 1);
    buffer[size - 1] = 0;
    return size;
  }
  auto length = static_cast<std::uint32_t>(ProgramPath.size());
  std::memcpy(buffer, ProgramPath.data(), length);
  buffer[length] = 0;
  return length;
}

Handle PosixGetStdHandle(StandardHandle which) { return static_cast<Handle>(which); }

std::uint32_t PosixGetFileType(Handle handle) {
  struct stat info {};
  if (FileStatus(static_cast<int>(handle), &info) != 0) {
    FailWithErrno();
    return FileTypeUnknown;
  }
  if (S_ISCHR(info.st_mode)) return FileTypeChar;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FileTypePipe;
  return FileTypeDisk;
}

/// One open, made again when a signal interrupts it.
int OpenName(const char* name, int flags) {
  int fd;
  do {
    fd = SystemCalls.Open(name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// Opening a FIFO for reading waits for its writer, as every reader does.
/// Opening anything for writing first tries without waiting, so that a FIFO
/// with no reader fails at once (ENXIO) instead of hanging. Whatever else
/// makes that try answer "would block" (a lease that another process holds
/// and has now been asked to give up) is opened again the usual way, and
/// waits like any writer. The flag is cleared again once the file is open.
int OpenFile(const char* name, int flags) {
  if ((flags & O_ACCMODE) == O_RDONLY) return OpenName(name, flags);
  int fd = OpenName(name, flags | O_NONBLOCK);
  if (fd < 0 && WouldBlock(errno)) fd = OpenName(name, flags);
  return fd;
}

/// Opens the file or creates it, never emptying it. Creating with O_EXCL
/// first tells whether the name existed; a name that vanishes between the
/// two opens is tried once more. A symbolic link whose target is missing
/// answers "exists" to the one and "missing" to the other each time: the
/// last try creates the target through it, and counts the name as one that
/// existed, since the link did.
int OpenOrCreate(const char* name, int flags, bool* created) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    *created = true;
    int fd = OpenFile(name, flags | O_CREAT | O_EXCL);
    if (fd >= 0 || errno != EEXIST) return fd;
    *created = false;
    fd = OpenFile(name, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  return OpenFile(name, flags | O_CREAT);
}

/// Stands in for a share mode that lets no one else write the file (the
/// dictionary while it loads, an output or index while it is written): an
/// advisory lock of the open file description, a write lock when the holder
/// writes and a read lock when it only reads. Another run's open of the same
/// kind then conflicts with it before anything is emptied, while readers
/// that take no lock (a text input, which lets others write) still get in.
/// Such a lock stays with the file until its last descriptor closes, however
/// many other descriptors of the file come and go. Returns the error of a
/// conflict, or 0; a file system that keeps no such locks leaves the file
/// unlocked rather than refusing the run.
std::uint32_t LockAgainstWriters(int fd, bool writes) {
#ifdef F_OFD_SETLK
  struct flock lock {};
  lock.l_type = writes ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;  // from the start, to the end however far it grows
  int result;
  do {
    result = SystemCalls.FcntlLock(fd, F_OFD_SETLK, &lock);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && (errno == EAGAIN || errno == EACCES)) return ErrorSharingViolation;
#else
  (void)fd;
  (void)writes;
#endif
  return 0;
}

Handle PosixCreateFile(const char* name, std::uint32_t access, std::uint32_t share,
                       std::uint32_t disposition) {
  int flags = O_CLOEXEC | O_NOCTTY;
  bool reads = (access & GenericRead) != 0;
  bool writes = (access & GenericWrite) != 0;
  if (reads && writes) flags |= O_RDWR;
  else if (writes) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  bool created = false;
  int fd = disposition == OpenAlways ? OpenOrCreate(name, flags, &created) : OpenFile(name, flags);
  if (fd < 0) {
    FailWithErrno();
    return InvalidHandleValue;
  }
  const char* madeHere = created ? name : nullptr;
  fd = MoveAboveStandardHandles(fd);
  if (fd < 0) return Abandon(fd, madeHere, posix::TranslateErrno(errno));
  struct stat info {};
  if (FileStatus(fd, &info) != 0) return Abandon(fd, madeHere, posix::TranslateErrno(errno));
  // Win32 refuses to open a directory as a file. A FIFO opened for reading
  // and writing would be its own only reader and block forever once full.
  if (S_ISDIR(info.st_mode) || (S_ISFIFO(info.st_mode) && reads && writes)) {
    return Abandon(fd, madeHere, ErrorAccessDenied);
  }
  // Only a regular file holds data that another run could destroy. A file
  // that this open created and another run locked first is that run's now,
  // and is not removed.
  if (S_ISREG(info.st_mode) && (share & FileShareWrite) == 0) {
    std::uint32_t conflict = LockAgainstWriters(fd, writes);
    if (conflict != 0) return Abandon(fd, nullptr, conflict);
  }
  if (writes) {
    int status = SystemCalls.Fcntl(fd, F_GETFL, 0);
    if (status < 0 || SystemCalls.Fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
      return Abandon(fd, madeHere, posix::TranslateErrno(errno));
    }
  }
  if (disposition == OpenAlways) LastError = created ? 0 : ErrorAlreadyExists;
  return static_cast<Handle>(fd);
}

// Reads and writes loop over short transfers, interruptions and a
// descriptor that would block, so that one request moves all its bytes
// (a read stops early only at the end of the input) or fails. The bytes of
// a write are only read: the loop is shared, hence the one pointer type.
bool TransferAll(int fd, char* bytes, std::uint64_t count, std::uint64_t* done, bool reading) {
  std::uint64_t total = 0;
  *done = 0;
  while (total < count) {
    std::uint64_t chunk = count - total;
    if (chunk > posix::LargestTransfer) chunk = posix::LargestTransfer;
    auto size = static_cast<std::size_t>(chunk);
    ssize_t moved = reading ? SystemCalls.Read(fd, bytes + total, size)
                            : SystemCalls.Write(fd, bytes + total, size);
    if (moved < 0) {
      if (errno == EINTR) continue;
      if (WouldBlock(errno) && WaitUntilReady(fd, reading ? POLLIN : POLLOUT)) continue;
      *done = total;
      return FailWithErrno();
    }
    if (moved == 0) {
      // A read of nothing is the end of the input; a write that takes
      // nothing would take nothing again.
      if (reading) break;
      *done = total;
      LastError = ErrorDiskFull;
      return false;
    }
    total += static_cast<std::uint64_t>(moved);
  }
  *done = total;
  return true;
}

bool PosixReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  return TransferAll(static_cast<int>(handle), static_cast<char*>(buffer), count, done, true);
}

bool PosixWriteFile(Handle handle, const void* buffer, std::uint64_t count, std::uint64_t* done) {
  auto* bytes = const_cast<char*>(static_cast<const char*>(buffer));
  return TransferAll(static_cast<int>(handle), bytes, count, done, false);
}

bool PosixGetFileSize(Handle handle, std::int64_t* size) {
  struct stat info {};
  if (FileStatus(static_cast<int>(handle), &info) != 0) return FailWithErrno();
  *size = static_cast<std::int64_t>(info.st_size);
  return true;
}

// Cuts the file at the descriptor's position, as Win32 cuts it at the file
// pointer. A file that has no end to set (a block device) is left as it
// is, as O_TRUNC leaves it.
bool PosixSetEndOfFile(Handle handle) {
  int fd = static_cast<int>(handle);
  off_t position = SystemCalls.Lseek(fd, 0, SEEK_CUR);
  if (position < 0) return FailWithErrno();
  int result;
  do {
    result = SystemCalls.Ftruncate(fd, position);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  int error = errno;
  struct stat info {};
  if (error == EINVAL && FileStatus(fd, &info) == 0 && !S_ISREG(info.st_mode)) return true;
  errno = error;
  return FailWithErrno();
}

bool PosixDeleteFile(const char* name) {
  if (SystemCalls.Unlink(name) != 0) return FailWithErrno();
  return true;
}

bool PosixCloseHandle(Handle handle) {
  // On Linux the descriptor is released even when close reports EINTR.
  if (SystemCalls.Close(static_cast<int>(handle)) != 0 && errno != EINTR) return FailWithErrno();
  return true;
}

void FillIdentity(const struct stat& info, FileIdentity* identity) {
  identity->Volume = static_cast<std::uint64_t>(info.st_dev);
  identity->Index = static_cast<std::uint64_t>(info.st_ino);
  identity->IsCharDevice = S_ISCHR(info.st_mode);
}

bool PosixIdentityByHandle(Handle handle, FileIdentity* identity) {
  struct stat info {};
  if (FileStatus(static_cast<int>(handle), &info) != 0) return FailWithErrno();
  FillIdentity(info, identity);
  return true;
}

bool PosixIdentityByName(const char* name, FileIdentity* identity) {
  struct stat info {};
  int result;
  do {
    result = SystemCalls.Stat(name, &info);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return FailWithErrno();
  FillIdentity(info, identity);
  return true;
}

/// Best effort: standard error is the last resort and nothing is reported
/// when it fails.
void WriteToStandardError(const char* text, std::size_t length) {
  std::uint64_t done = 0;
  std::uint32_t saved = LastError;
  PosixWriteFile(STDERR_FILENO, text, length, &done);
  LastError = saved;
}

// The alert sound of a console program is the terminal bell; it goes to
// standard error, and only when that is a terminal, so that redirected
// output never holds it.
void PosixMessageBeep(std::uint32_t /*type*/) {
  if (SystemCalls.Isatty(STDERR_FILENO)) WriteToStandardError("\a", 1);
}

// A console has no message boxes: the box becomes one line on standard
// error, its title first.
void PosixMessageBox(const char* text, const char* caption, std::uint32_t /*type*/) {
  WriteToStandardError(caption, std::strlen(caption));
  WriteToStandardError(": ", 2);
  WriteToStandardError(text, std::strlen(text));
  WriteToStandardError("\n", 1);
}

std::uint32_t FaultCode(int signal, int code, std::uintptr_t address) {
  switch (signal) {
    case SIGSEGV: {
      // A fault just below the stack in use is the stack growing into its
      // guard area.
      rlimit limit{};
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

/// True for a signal that another process sent (kill, sigqueue): no fault
/// happened, and its addresses mean nothing. A signal the program raised
/// itself (the division helper of some processors does) still is one.
bool SentByAnotherProcess(const siginfo_t* info) {
  return info->si_code <= 0 && info->si_pid != getpid();
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
  if (SentByAnotherProcess(info)) {
    // The handler is gone already (SA_RESETHAND): raised again, the signal
    // waits until the handler returns and then takes its default action,
    // as if no handler had ever been set.
    raise(signal);
    return;
  }
  InFaultHandler = true;
  ExceptionRecord record{};
  record.DataAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
  record.Code = FaultCode(signal, info->si_code, record.DataAddress);
  const posix::FaultSite site = posix::ReadFaultSite(signal, record.DataAddress, context);
  record.Address = site.CodeAddress;
  record.IsWrite = site.IsWrite;
  if (Filter != nullptr) Filter(record);
  _exit(1);
}

// The handler runs on a stack of its own, where a stack overflow can still
// be reported. Should the system refuse that stack, the handler is set all
// the same, to run on the stack that faulted: every other fault is still
// reported, and a stack overflow ends the process as an unhandled SIGSEGV
// does, without a report.
void PosixSetFilter(ExceptionFilter filter) {
  Filter = filter;
  static char alternateStack[1 << 16];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  struct sigaction action {};
  action.sa_sigaction = FaultHandler;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND;
  if (SystemCalls.Sigaltstack(&stack, nullptr) == 0) action.sa_flags |= SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
    SystemCalls.Sigaction(signal, &action, nullptr);
  }
}

extern "C" char __executable_start;

std::uintptr_t PosixGetModuleHandle() {
  return reinterpret_cast<std::uintptr_t>(&__executable_start);
}

void PosixExitProcess(std::uint32_t status) {
  // Inside a fault handler only the plain system exit is safe.
  if (InFaultHandler) _exit(static_cast<int>(status));
  std::exit(static_cast<int>(status));
}

/// The program's own file, whatever its path's length; empty when the
/// system will not say.
std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t length = SystemCalls.Readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

CallTable Calls = {
    .GetCommandLineA = PosixGetCommandLine,
    .GetArgumentAsGiven = PosixGetArgumentAsGiven,
    .GetModuleFileNameA = PosixGetModuleFileName,
    .GetStdHandle = PosixGetStdHandle,
    .GetFileType = PosixGetFileType,
    .CreateFileA = PosixCreateFile,
    .ReadFile = PosixReadFile,
    .WriteFile = PosixWriteFile,
    .GetFileSizeEx = PosixGetFileSize,
    .SetEndOfFile = PosixSetEndOfFile,
    .CloseHandle = PosixCloseHandle,
    .DeleteFileA = PosixDeleteFile,
    .GetFileInformationByHandle = PosixIdentityByHandle,
    .QueryFileIdentity = PosixIdentityByName,
    .MessageBeep = PosixMessageBeep,
    .MessageBoxA = PosixMessageBox,
    .SetUnhandledExceptionFilter = PosixSetFilter,
    .GetModuleHandleA = PosixGetModuleHandle,
    .ExitProcess = PosixExitProcess,
};

std::uint32_t GetLastError() { return LastError; }

void SetLastError(std::uint32_t code) { LastError = code; }

bool IsPathSeparator(char byte) { return byte == '/'; }

void Startup(int argc, char** argv) {
  int marker = 0;
  StackTop = reinterpret_cast<std::uintptr_t>(&marker);
  // Writing to a closed pipe, or past the file-size limit, must fail like
  // any other write (errors 109 and 223), not end the process unreported.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  ProgramPath = ExecutablePath();
  if (ProgramPath.empty() && argc > 0) ProgramPath = argv[0];
  // The one command-line string: every argument wrapped in quote bytes, so
  // that the splitter gives back each argument whole and an empty argument
  // is no argument. An argument holding a quote byte cannot pass through it
  // whole: it is kept as given, and the command line holds a stand-in at its
  // place, its quote bytes turned into '?', so that the arguments keep their
  // count and positions. The program name is only skipped.
  CommandLine.clear();
  ArgumentsAsGiven.clear();
  std::int32_t position = 0;
  for (int i = 0; i < argc; ++i) {
    std::string argument = argv[i];
    if (i == 0) {
      // An empty program name would be skipped like an empty argument, and
      // the first argument taken for the name; the program's path stands in.
      if (argument.empty()) argument = ProgramPath.empty() ? "program" : ProgramPath;
    } else if (!argument.empty()) {
      ++position;
      if (argument.find('"') != std::string::npos) ArgumentsAsGiven[position] = argument;
    }
    std::replace(argument.begin(), argument.end(), '"', '?');
    if (i > 0) CommandLine += ' ';
    CommandLine += '"';
    CommandLine += argument;
    CommandLine += '"';
  }
}

}  // namespace platform
