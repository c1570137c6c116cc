// Runs a built program the way a user would: in a directory of its own, with
// standard output redirected, and gives back what it printed and its status.
#pragma once

#include <chrono>
#include <string>
#include <vector>

/// Where the program's standard output goes.
enum class StdoutTarget {
  File,        // a regular file, read back afterwards (the usual case)
  Pipe,        // a pipe drained by the test
  Closed,      // descriptor 1 closed
  DevFull,     // /dev/full: every write fails with "no space"
  BrokenPipe,  // a pipe whose read end is closed before the program starts
  FullPipe,    // a pipe the test has filled: the program's first write waits
               // until `Finish` drains it (Linux only)
};

/// Which machine a program to run is built for: the target of the build (the
/// programs under test and the test helpers) or the machine running the
/// tests (a shell, say). Under an emulator only the first need it.
enum class ProgramMachine { Target, Host };

/// The words that start the target's `program`: the emulator and its options
/// when the tests run under one (a cross build), then the program itself.
std::vector<std::string> TargetCommand(const std::string& program);

/// True when the target's programs run under an emulator, which shares
/// their process limits (descriptors, address space) with them.
bool UnderEmulator();

struct ToolRun {
  std::string Stdout;
  std::string Stderr;
  int ExitStatus = -1;    // -1 when the program did not exit normally
  int Signal = 0;         // the signal that ended the program, or 0
  bool TimedOut = false;  // killed because it outlived its time limit
};

/// Runs `program` with `arguments` in `directory`. Standard input is
/// /dev/null; standard error is a file, read back.
ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& directory, StdoutTarget target = StdoutTarget::File);

/// The time a run may take: `limitSeconds` from when it is made, or no
/// limit for 0.
class Deadline {
 public:
  explicit Deadline(int limitSeconds);
  bool Limited() const { return limited_; }
  /// Milliseconds left: -1 without a limit, 0 once the time is up.
  int MillisecondsLeft() const;

 private:
  bool limited_;
  std::chrono::steady_clock::time_point end_;
};

/// A program running in the background, for tests that act while it runs
/// (feeding a FIFO, for instance) or that must not wait on it for ever. The
/// program gets the same surroundings as under `RunTool`, with SIGPIPE at its
/// default action whatever the test process does with it.
class ToolProcess {
 public:
  ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::string& directory, StdoutTarget target = StdoutTarget::File,
              ProgramMachine machine = ProgramMachine::Target);
  /// Kills and reaps a program that is still running.
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  /// Sends the program a signal, as another process would (Linux only).
  void SendSignal(int signal);
  /// True once the program has ended; never waits. A `Pipe` target is not
  /// drained meanwhile, so a program writing more than a pipe holds waits.
  bool HasEnded();
  /// Waits for the end and gives back what the program printed. After
  /// `limitSeconds` (0: no limit) a program still running is killed and the
  /// run is marked `TimedOut`.
  ToolRun Finish(int limitSeconds);

 private:
  bool Reap(bool wait);

  int child_ = -1;
  bool ended_ = false;
  int status_ = 0;
  StdoutTarget target_;
  int outFd_ = -1;
  int errFd_ = -1;
  int pipeRead_ = -1;
  std::size_t filled_ = 0;  // bytes a `FullPipe` held before the program
  std::string outName_;
  std::string errName_;
};

/// A fresh empty directory under the system's temporary directory, removed
/// with its contents when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& Path() const { return path_; }
  /// Path of `name` inside the directory.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Whole contents of a file; `exists` tells whether it could be opened.
std::string ReadFileBytes(const std::string& path, bool* exists = nullptr);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
