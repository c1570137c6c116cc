// The POSIX backend through its table of raw system calls: every loop and
// translation in it (interrupted calls, short transfers, descriptors that
// would block, new files kept off the standard descriptors, opening or
// creating without emptying, errno values turned into Win32 error numbers,
// setting up the fault handlers) driven by a scripted fake system; and the
// runtime's create on real files with each step after the open made to fail.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_posix.h"
#include "runtime/io_result.h"
#include "runtime/files.h"
#include "tests/scoped_table.h"
#include "tests/tool_runner.h"

namespace {

using platform::posix::SystemCalls;

/// One scripted answer of a fake call: a result, and the errno it sets when
/// it is negative.
struct Answer {
  long Result;
  int Error = 0;
};

/// The fake system: what each call will answer, in order (an empty script
/// means success with the whole count), and what was asked of it.
struct FakeSystem {
  std::deque<Answer> Opens, Reads, Writes, Stats, Polls, Fcntls;
  mode_t FileMode = S_IFREG;
  std::vector<std::string> Log;
} Fake;

long Next(std::deque<Answer>& script, long otherwise) {
  if (script.empty()) return otherwise;
  Answer answer = script.front();
  script.pop_front();
  if (answer.Result < 0) errno = answer.Error;
  return answer.Result;
}

int FakeOpen(const char* path, int flags, mode_t) {
  Fake.Log.push_back(std::string("open ") + path + ((flags & O_EXCL) ? " exclusive" : "") +
                     ((flags & (O_CREAT | O_EXCL)) == O_CREAT ? " create" : "") +
                     ((flags & O_NONBLOCK) ? " nonblocking" : ""));
  return static_cast<int>(Next(Fake.Opens, 7));
}
ssize_t FakeRead(int, void*, size_t count) {
  Fake.Log.push_back("read " + std::to_string(count));
  return Next(Fake.Reads, static_cast<long>(count));
}
ssize_t FakeWrite(int, const void*, size_t count) {
  Fake.Log.push_back("write " + std::to_string(count));
  return Next(Fake.Writes, static_cast<long>(count));
}
int FakeFstat(int fd, struct stat* info) {
  Fake.Log.push_back("fstat " + std::to_string(fd));
  *info = {};
  info->st_mode = Fake.FileMode;
  info->st_dev = 3;
  info->st_ino = 99;
  return static_cast<int>(Next(Fake.Stats, 0));
}
int FakeStat(const char* path, struct stat* info) {
  Fake.Log.push_back(std::string("stat ") + path);
  *info = {};
  info->st_mode = Fake.FileMode;
  return static_cast<int>(Next(Fake.Stats, 0));
}
int FakeClose(int fd) {
  Fake.Log.push_back("close " + std::to_string(fd));
  return 0;
}
int FakeFcntl(int fd, int command, int argument) {
  std::string name = command == F_DUPFD_CLOEXEC ? "dup"
                     : command == F_GETFL       ? "getfl"
                     : command == F_SETFL       ? "setfl"
                                                : "fcntl";
  if (command == F_SETFL) argument &= O_NONBLOCK;  // only the flag under test
  Fake.Log.push_back(name + " " + std::to_string(fd) + " " + std::to_string(argument));
  return static_cast<int>(Next(Fake.Fcntls, command == F_DUPFD_CLOEXEC ? 9 : O_NONBLOCK));
}
int FakeUnlink(const char* path) {
  Fake.Log.push_back(std::string("unlink ") + path);
  return 0;
}
int FakePoll(pollfd* fds, nfds_t, int timeout) {
  Fake.Log.push_back(std::string("poll ") + ((fds[0].events & POLLIN) ? "in" : "out") + " " +
                     std::to_string(timeout));
  return static_cast<int>(Next(Fake.Polls, 1));
}

class PosixBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake = FakeSystem{};
    const auto& real = calls_.Saved();
    SystemCalls = {
        .Open = FakeOpen,
        .Read = FakeRead,
        .Write = FakeWrite,
        .Fstat = FakeFstat,
        .Stat = FakeStat,
        .Close = FakeClose,
        .Fcntl = FakeFcntl,
        .FcntlLock = real.FcntlLock,
        .Lseek = real.Lseek,
        .Ftruncate = real.Ftruncate,
        .Unlink = FakeUnlink,
        .Poll = FakePoll,
        .Readlink = real.Readlink,
        .Isatty = real.Isatty,
        .Sigaltstack = real.Sigaltstack,
        .Sigaction = real.Sigaction,
    };
    platform::SetLastError(0);
  }

  using Log = std::vector<std::string>;

 private:
  ScopedTable<platform::posix::SystemCallTable> calls_{SystemCalls};
};

// ------------------------------------------------------------------ opening

TEST_F(PosixBackend, OpensKeepFilesOffTheStandardDescriptorsAndNeverEmptyThem) {
  const std::uint32_t existed = platform::ErrorAlreadyExists;
  const Log writable = {"fstat 7", "getfl 7 0", "setfl 7 0"};
  struct Case {
    const char* what;
    std::uint32_t access;
    std::uint32_t disposition;
    std::deque<Answer> opens;
    mode_t mode;
    platform::Handle handle;
    Log calls;
    std::uint32_t lastError;  // after the open
    // clang-format off
  } cases[] = {
      {"a read waits for a FIFO's writer: no O_NONBLOCK", platform::GenericRead,
       platform::OpenExisting, {}, S_IFIFO, 7, {"open f", "fstat 7"}, 0},
      {"a new file: created, never waiting for a reader, then blocking as usual",
       platform::GenericWrite, platform::OpenAlways, {}, S_IFREG, 7,
       {"open f exclusive nonblocking"}, 0},
      {"a file that exists is opened as it is", platform::GenericWrite, platform::OpenAlways,
       {{-1, EEXIST}}, S_IFREG, 7, {"open f exclusive nonblocking", "open f nonblocking"},
       existed},
      {"a lease makes the open wait like any writer's", platform::GenericWrite,
       platform::OpenAlways, {{-1, EEXIST}, {-1, EWOULDBLOCK}}, S_IFREG, 7,
       {"open f exclusive nonblocking", "open f nonblocking", "open f"}, existed},
      {"a name that vanishes between the opens is created after all", platform::GenericWrite,
       platform::OpenAlways, {{-1, EEXIST}, {-1, ENOENT}}, S_IFREG, 7,
       {"open f exclusive nonblocking", "open f nonblocking", "open f exclusive nonblocking"}, 0},
      {"a link to a missing file: created through the link, which existed",
       platform::GenericWrite, platform::OpenAlways,
       {{-1, EEXIST}, {-1, ENOENT}, {-1, EEXIST}, {-1, ENOENT}}, S_IFREG, 7,
       {"open f exclusive nonblocking", "open f nonblocking", "open f exclusive nonblocking",
        "open f nonblocking", "open f create nonblocking"},
       existed},
      {"an interrupted open is tried again", platform::GenericRead, platform::OpenExisting,
       {{-1, EINTR}}, S_IFREG, 7, {"open f", "open f", "fstat 7"}, 0},
      {"a file given descriptor 2 moves above the standard ones", platform::GenericRead,
       platform::OpenExisting, {{2}}, S_IFREG, 9, {"open f", "dup 2 3", "close 2", "fstat 9"},
       0},
      {"descriptor 0 too", platform::GenericWrite, platform::OpenAlways, {{0}}, S_IFREG, 9,
       {"open f exclusive nonblocking", "dup 0 3", "close 0", "fstat 9", "getfl 9 0",
        "setfl 9 0"},
       0},
  };
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fake = FakeSystem{};
    Fake.Opens = c.opens;
    Fake.FileMode = c.mode;
    platform::SetLastError(12345);
    if (c.disposition == platform::OpenAlways && c.handle == 7) {
      c.calls.insert(c.calls.end(), writable.begin(), writable.end());
    }
    EXPECT_EQ(platform::CreateFileA("f", c.access, platform::FileShareRead, c.disposition),
              c.handle);
    EXPECT_EQ(Fake.Log, c.calls);
    if (c.disposition == platform::OpenAlways) {
      EXPECT_EQ(platform::GetLastError(), c.lastError);
    }
  }
}

TEST_F(PosixBackend, RefusedOpensCloseWhatTheyOpenedAndSayWhy) {
  struct Case {
    const char* what;
    std::uint32_t access;
    mode_t mode;
    std::deque<Answer> fcntls;
    std::uint32_t error;
    // clang-format off
  } cases[] = {
      {"a directory is no file", platform::GenericRead, S_IFDIR, {}, platform::ErrorAccessDenied},
      {"a FIFO read and written by the process itself would block for ever",
       platform::GenericRead | platform::GenericWrite, S_IFIFO, {}, platform::ErrorAccessDenied},
      {"the blocking mode cannot be restored", platform::GenericWrite, S_IFREG, {{-1, EBADF}},
       platform::ErrorInvalidHandle},
  };
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fake = FakeSystem{};
    Fake.FileMode = c.mode;
    Fake.Fcntls = c.fcntls;
    EXPECT_EQ(platform::CreateFileA("f", c.access, 0, platform::OpenExisting),
              platform::InvalidHandleValue);
    EXPECT_EQ(platform::GetLastError(), c.error);
    EXPECT_EQ(Fake.Log.back(), "close 7");
  }
  // A descriptor that cannot be moved is closed all the same.
  Fake = FakeSystem{};
  Fake.Opens = {{1}};
  Fake.Fcntls = {{-1, EMFILE}};
  EXPECT_EQ(platform::CreateFileA("f", platform::GenericRead, 0, platform::OpenExisting),
            platform::InvalidHandleValue);
  EXPECT_EQ(platform::GetLastError(), platform::ErrorTooManyOpenFiles);
  EXPECT_EQ(Fake.Log, (Log{"open f", "dup 1 3", "close 1"}));
}

// Every errno the backend names becomes its Win32 number; any other one
// becomes the general failure.
TEST_F(PosixBackend, TranslatesEveryErrnoOfTheTable) {
  const struct {
    int error;
    std::uint32_t code;
    // clang-format off
  } table[] = {
      {ENOENT, 2},   {ENOTDIR, 3},   {EMFILE, 4},   {ENFILE, 4},        {EACCES, 5},
      {EPERM, 5},    {EISDIR, 5},    {EBADF, 6},    {ENOMEM, 8},        {EROFS, 19},
      {EBUSY, 32},   {ETXTBSY, 32},  {EEXIST, 80},  {EINVAL, 87},       {EPIPE, 109},
      {ENOSPC, 112}, {EDQUOT, 112},  {EFBIG, 223},  {ENAMETOOLONG, 206}, {EIO, 1117},
      {ELOOP, 1921}, {ENXIO, 31},    {EAGAIN, 31},
  };
  // clang-format on
  for (const auto& row : table) {
    SCOPED_TRACE(row.error);
    EXPECT_EQ(platform::posix::TranslateErrno(row.error), row.code);
    // And through a real call: the open fails with that errno.
    Fake = FakeSystem{};
    Fake.Opens = {{-1, row.error}};
    if (row.error == EAGAIN) continue;  // an open is never retried on it, nor asked to be
    EXPECT_EQ(platform::CreateFileA("f", platform::GenericRead, 0, platform::OpenExisting),
              platform::InvalidHandleValue);
    EXPECT_EQ(platform::GetLastError(), row.code);
  }
}

// ------------------------------------------------------------ transfers

struct TransferCase {
  const char* what;
  std::deque<Answer> script;  // the answers of read or write
  std::deque<Answer> polls;
  std::uint64_t count;
  bool succeeds;
  std::uint64_t done;
  std::uint32_t error;
  std::vector<std::string> calls;  // without the "read"/"write" prefix
};

/// Runs one case against ReadFile or WriteFile and checks the outcome and
/// every call made.
void CheckTransfer(const TransferCase& c, bool reading) {
  SCOPED_TRACE(std::string(reading ? "read: " : "write: ") + c.what);
  Fake = FakeSystem{};
  (reading ? Fake.Reads : Fake.Writes) = c.script;
  Fake.Polls = c.polls;
  platform::SetLastError(0);
  char buffer[512] = {};
  std::uint64_t done = 12345;
  bool ok = reading ? platform::ReadFile(5, buffer, c.count, &done)
                    : platform::WriteFile(5, buffer, c.count, &done);
  EXPECT_EQ(ok, c.succeeds);
  EXPECT_EQ(done, c.done);
  if (!c.succeeds) {
    EXPECT_EQ(platform::GetLastError(), c.error);
  }
  std::vector<std::string> expected;
  for (const std::string& call : c.calls) {
    expected.push_back(call.rfind("poll", 0) == 0 ? call : (reading ? "read " : "write ") + call);
  }
  EXPECT_EQ(Fake.Log, expected);
}

TEST_F(PosixBackend, OneRequestMovesAllItsBytesOrFails) {
  // clang-format off
  const TransferCase both[] = {
      {"whole at once", {}, {}, 128, true, 128, 0, {"128"}},
      {"interrupted, then whole", {{-1, EINTR}}, {}, 128, true, 128, 0, {"128", "128"}},
      {"short, then the rest", {{100}, {20}}, {}, 128, true, 128, 0, {"128", "28", "8"}},
      {"would block: waits, then goes on", {{-1, EAGAIN}}, {}, 128, true, 128, 0,
       {"128", "@", "128"}},
      {"would block, the wait interrupted", {{40}, {-1, EWOULDBLOCK}}, {{-1, EINTR}}, 128, true,
       128, 0, {"128", "88", "@", "@", "88"}},
      {"fails part way: the count so far", {{64}, {-1, EIO}}, {}, 128, false, 64, 1117,
       {"128", "64"}},
      {"the wait itself fails", {{-1, EAGAIN}}, {{-1, EBADF}}, 128, false, 0, 6, {"128", "@"}},
      {"nothing asked, nothing done", {}, {}, 0, true, 0, 0, {}},
  };
  // clang-format on
  for (bool reading : {true, false}) {
    for (TransferCase c : both) {
      for (std::string& call : c.calls) {
        if (call == "@") call = reading ? "poll in -1" : "poll out -1";
      }
      CheckTransfer(c, reading);
    }
  }
  // Only a read ends early: at the end of the input. A write the system
  // takes nothing of is a full disk.
  CheckTransfer({"the end of the input", {{50}, {0}}, {}, 128, true, 50, 0, {"128", "78"}}, true);
  CheckTransfer({"nothing taken", {{50}, {0}}, {}, 128, false, 50, 112, {"128", "78"}}, false);
}

// A request beyond what one call may move goes in pieces of at most 1 GiB.
TEST_F(PosixBackend, LargeRequestsGoInPiecesOfAtMostOneGibibyte) {
  const std::uint64_t gib = platform::posix::LargestTransfer;
  std::uint64_t done = 0;
  // The fake moves nothing: the buffer is never touched.
  char buffer[1];
  Fake = FakeSystem{};
  EXPECT_TRUE(platform::WriteFile(5, buffer, 2 * gib + 3, &done));
  EXPECT_EQ(done, 2 * gib + 3);
  EXPECT_EQ(Fake.Log,
            (Log{"write " + std::to_string(gib), "write " + std::to_string(gib), "write 3"}));
}

// Queries that are interrupted are asked again; identities carry what the
// same-file refusals need.
TEST_F(PosixBackend, QueriesRetryInterruptionsAndTellCharacterDevices) {
  Fake.Stats = {{-1, EINTR}};
  Fake.FileMode = S_IFCHR;
  platform::FileIdentity identity{};
  EXPECT_TRUE(platform::QueryFileIdentity("/dev/null", &identity));
  EXPECT_TRUE(identity.IsCharDevice);
  EXPECT_EQ(Fake.Log, (Log{"stat /dev/null", "stat /dev/null"}));

  Fake = FakeSystem{};
  Fake.Stats = {{-1, EINTR}};
  EXPECT_TRUE(platform::GetFileInformationByHandle(4, &identity));
  EXPECT_FALSE(identity.IsCharDevice);
  EXPECT_EQ(identity.Volume, 3u);
  EXPECT_EQ(identity.Index, 99u);
  std::int64_t size = -1;
  Fake.Stats = {{-1, ENOENT}};
  EXPECT_FALSE(platform::GetFileSizeEx(4, &size));
  EXPECT_EQ(platform::GetLastError(), platform::ErrorFileNotFound);
  Fake.FileMode = S_IFIFO;
  EXPECT_EQ(platform::GetFileType(4), platform::FileTypePipe);
}

// ------------------------------------------------------------ fault handlers

int StackAnswer = 0;  // what the fake sigaltstack answers
std::size_t StackSize = 0;
std::vector<std::pair<int, int>> HandlersSet;  // each sigaction's signal and flags

int FakeSigaltstack(const stack_t* stack, stack_t*) {
  StackSize = stack->ss_size;
  if (StackAnswer != 0) errno = ENOMEM;
  return StackAnswer;
}
int FakeSigaction(int signal, const struct sigaction* action, struct sigaction*) {
  HandlersSet.emplace_back(signal, action->sa_flags & (SA_SIGINFO | SA_RESETHAND | SA_ONSTACK));
  return 0;
}

// The handler of every fault signal runs on a stack of its own, where a
// stack overflow can still be reported. Should the system refuse that stack,
// the handler is set all the same, to run on the stack that faulted.
TEST_F(PosixBackend, FaultHandlersRunOnTheirOwnStackWhereTheSystemGivesOne) {
  SystemCalls.Sigaltstack = FakeSigaltstack;
  SystemCalls.Sigaction = FakeSigaction;
  for (int answer : {0, -1}) {
    SCOPED_TRACE(answer == 0 ? "the stack is given" : "the stack is refused");
    StackAnswer = answer;
    StackSize = 0;
    HandlersSet.clear();
    platform::SetUnhandledExceptionFilter([](const platform::ExceptionRecord&) {});
    EXPECT_GT(StackSize, 0u);
    const int flags = SA_SIGINFO | SA_RESETHAND | (answer == 0 ? SA_ONSTACK : 0);
    EXPECT_EQ(HandlersSet,
              (std::vector<std::pair<int, int>>{
                  {SIGSEGV, flags}, {SIGBUS, flags}, {SIGFPE, flags}, {SIGILL, flags}}));
  }
}

// ------------------------------------------- a create that fails on real files

/// A step of a create after its open, by the system call that serves it.
enum class Step { Fstat, GetFlags, SetFlags, Lseek, Ftruncate };

/// The `At`-th call of `Call` fails with `Error`; every other call is real.
struct Injection {
  Step Call;
  int At;
  int Error;
  int Seen = 0;
  platform::posix::SystemCallTable Real{};
} Inject{Step::Fstat, 0, 0};

bool Fails(Step call) {
  if (Inject.Call != call || ++Inject.Seen != Inject.At) return false;
  errno = Inject.Error;
  return true;
}
int InjectedFstat(int fd, struct stat* info) {
  return Fails(Step::Fstat) ? -1 : Inject.Real.Fstat(fd, info);
}
int InjectedFcntl(int fd, int command, int argument) {
  Step step = command == F_GETFL ? Step::GetFlags : Step::SetFlags;
  return Fails(step) ? -1 : Inject.Real.Fcntl(fd, command, argument);
}
off_t InjectedLseek(int fd, off_t offset, int whence) {
  return Fails(Step::Lseek) ? -1 : Inject.Real.Lseek(fd, offset, whence);
}
int InjectedFtruncate(int fd, off_t length) {
  return Fails(Step::Ftruncate) ? -1 : Inject.Real.Ftruncate(fd, length);
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// Whatever step fails after the open itself succeeded, the create changes
// nothing: an old file keeps its bytes, a new name is not left behind, and
// no descriptor stays open. The code is that of the failing step. (A
// descriptor that cannot move above the standard ones is a fault-matrix row,
// where a shell closes standard input under a descriptor limit.)
TEST(PosixCreate, AFailureAfterTheOpenChangesNothing) {
  const struct {
    const char* what;
    Step call;
    int at;
    int error;
    std::int32_t code;
  } cases[] = {
      {"the new descriptor cannot be examined", Step::Fstat, 1, EIO, 1117},
      {"its flags cannot be read", Step::GetFlags, 1, EBADF, 6},
      {"its flags cannot be set", Step::SetFlags, 1, EINVAL, 87},
      {"the file cannot tell which file it is", Step::Fstat, 2, EIO, 1117},
      {"the file cannot tell its type", Step::Fstat, 3, EIO, 105},
      {"its position cannot be read", Step::Lseek, 1, EIO, 1117},
      {"it cannot be emptied", Step::Ftruncate, 1, ENOSPC, 112},
      // Unlike a file that is not regular (below).
      {"it refuses to be cut, though regular", Step::Ftruncate, 1, EINVAL, 87},
  };
  ScratchDirectory dir;
  const std::string name = dir / "out.sjs";
  for (const auto& c : cases) {
    for (bool old : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (old ? ", an old file" : ", a new name"));
      std::filesystem::remove(name);
      if (old) WriteFileBytes(name, "old");
      const int descriptors = OpenDescriptors();
      Inject = Injection{c.call, c.at, c.error};
      platform::Handle handle = platform::InvalidHandleValue;
      {
        ScopedTable<platform::posix::SystemCallTable> calls(SystemCalls);
        Inject.Real = calls.Saved();
        SystemCalls.Fstat = InjectedFstat;
        SystemCalls.Fcntl = InjectedFcntl;
        SystemCalls.Lseek = InjectedLseek;
        SystemCalls.Ftruncate = InjectedFtruncate;
        std::uint32_t type = platform::FileTypeUnknown;
        handle = CreateOutputFile(name, platform::GenericWrite, platform::FileShareRead, type);
      }
      EXPECT_GE(Inject.Seen, c.at) << "the step was not reached";
      EXPECT_EQ(handle, platform::InvalidHandleValue);
      EXPECT_EQ(TakeIOResult(), c.code);
      bool exists = false;
      std::string bytes = ReadFileBytes(name, &exists);
      EXPECT_EQ(exists, old);
      EXPECT_EQ(bytes, old ? "old" : "");
      EXPECT_EQ(OpenDescriptors(), descriptors);
    }
  }
  // Without a failure the old file is emptied, once the handle is final.
  std::uint32_t type = platform::FileTypeUnknown;
  platform::Handle handle =
      CreateOutputFile(name, platform::GenericWrite, platform::FileShareRead, type);
  ASSERT_NE(handle, platform::InvalidHandleValue);
  EXPECT_EQ(type, platform::FileTypeDisk);
  EXPECT_TRUE(platform::CloseHandle(handle));
  EXPECT_EQ(ReadFileBytes(name), "");
}

/// fstat, with every character device told as a block device.
int FstatAsBlockDevice(int fd, struct stat* info) {
  const int result = Inject.Real.Fstat(fd, info);
  if (result == 0 && S_ISCHR(info->st_mode)) info->st_mode = (info->st_mode & ~S_IFMT) | S_IFBLK;
  return result;
}

// An output on a block device: its type is a disk file's, so the create
// cuts it at 0, and ftruncate refuses (EINVAL), as it refuses every file
// that is not regular. Such a file has no end to set and is left as it is,
// as O_TRUNC leaves it: the create succeeds. /dev/zero stands in for the
// device, told as one by fstat.
TEST(PosixCreate, ABlockDeviceHasNoEndToSet) {
  ScopedTable<platform::posix::SystemCallTable> calls(SystemCalls);
  Inject.Real = calls.Saved();
  SystemCalls.Fstat = FstatAsBlockDevice;
  std::uint32_t type = platform::FileTypeUnknown;
  platform::Handle handle =
      CreateOutputFile("/dev/zero", platform::GenericWrite, platform::FileShareRead, type);
  EXPECT_EQ(TakeIOResult(), 0);
  ASSERT_NE(handle, platform::InvalidHandleValue);
  EXPECT_EQ(type, platform::FileTypeDisk);
  EXPECT_TRUE(platform::CloseHandle(handle));
}

}  // namespace
