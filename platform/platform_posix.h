// The raw system calls under the POSIX backend, in a table that tests can
// replace entry by entry: the backend's own loops (interrupted and short
// transfers, waiting on a non-blocking descriptor, moving a new descriptor
// above the standard ones, creating without emptying, translating errno) can
// then be driven through every path, any step after an open can be made to
// fail, and the setting up of the fault handlers can be watched and made to
// fail. Only the backend and its tests include this header.
#pragma once

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::posix {

struct SystemCallTable {
  int (*Open)(const char* path, int flags, mode_t mode);
  ssize_t (*Read)(int fd, void* buffer, size_t count);
  ssize_t (*Write)(int fd, const void* buffer, size_t count);
  int (*Fstat)(int fd, struct stat* info);
  int (*Stat)(const char* path, struct stat* info);
  int (*Close)(int fd);
  int (*Fcntl)(int fd, int command, int argument);
  /// fcntl with a lock record: F_OFD_SETLK.
  int (*FcntlLock)(int fd, int command, struct flock* lock);
  off_t (*Lseek)(int fd, off_t offset, int whence);
  int (*Ftruncate)(int fd, off_t length);
  int (*Unlink)(const char* path);
  int (*Poll)(struct pollfd* fds, nfds_t count, int timeout);
  ssize_t (*Readlink)(const char* path, char* buffer, size_t size);
  int (*Isatty)(int fd);
  /// Sets the stack that signal handlers asking for one run on.
  int (*Sigaltstack)(const stack_t* stack, stack_t* old);
  int (*Sigaction)(int signal, const struct sigaction* action, struct sigaction* old);
};

extern SystemCallTable SystemCalls;

/// The Win32 error number that stands for an errno value.
std::uint32_t TranslateErrno(int error);

/// The largest count handed to one read or write call.
inline constexpr std::uint64_t LargestTransfer = 0x40000000u;

}  // namespace platform::posix
