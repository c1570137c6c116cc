// The test runner of the Windows build: programs start through
// CreateProcessA with an exact command line and the standard handles the
// test asks for, in a directory of their own.
//
// The members that tool_runner.h declares as `int` hold Win32 handles here:
// the system keeps handle values within 32 bits so that they survive being
// truncated and sign-extended again.
#include "tests/tool_runner.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

int FromHandle(HANDLE handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }

HANDLE ToHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value)); }

/// The program's full path: the child starts in another directory, and a
/// path given from the root names the drive the tests run on.
std::string FullPath(const std::string& name) {
  char path[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(name.c_str(), sizeof path, path, nullptr);
  if (length == 0 || length >= sizeof path) return name;
  return std::string(path, length);
}

/// A fresh file in the temporary directory that the child can inherit.
HANDLE CreateTemporaryFile(std::string& name) {
  char directory[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof directory, directory) == 0 ||
      GetTempFileNameA(directory, "out", 0, path) == 0) {
    std::abort();
  }
  name = path;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) std::abort();
  return handle;
}

/// The command line the POSIX build rebuilds from its argument vector: each
/// element quoted, its own quote bytes dropped (the splitter has no escape
/// for them), so that every argument arrives whole.
std::string CommandLineOf(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line;
  auto append = [&line](const std::string& element) {
    if (!line.empty()) line += ' ';
    line += '"';
    for (char byte : element) {
      if (byte != '"') line += byte;
    }
    line += '"';
  };
  append(program);
  for (const std::string& argument : arguments) append(argument);
  return line;
}

}  // namespace

ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& directory, StdoutTarget target) {
  return ToolProcess(program, arguments, directory, target).Finish(0);
}

// Wine runs the Windows programs it starts itself, so every program starts
// the same way.
std::vector<std::string> TargetCommand(const std::string& program) { return {program}; }

bool UnderEmulator() { return false; }

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory, StdoutTarget target,
                         ProgramMachine /*machine*/)
    : target_(target) {
  if (target == StdoutTarget::DevFull) {
    std::fputs("tool runner: Windows has no device that refuses every write\n", stderr);
    std::abort();
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateTemporaryFile(outName_);
  HANDLE err = CreateTemporaryFile(errName_);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  if (target == StdoutTarget::Pipe || target == StdoutTarget::BrokenPipe) {
    if (!CreatePipe(&pipeRead, &pipeWrite, &inherit, 0)) std::abort();
    SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0);
  }
  // No process holds the read end: the program's first write fails.
  if (target == StdoutTarget::BrokenPipe) {
    CloseHandle(pipeRead);
    pipeRead = nullptr;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdError = err;
  switch (target) {
    case StdoutTarget::File: startup.hStdOutput = out; break;
    case StdoutTarget::Pipe:
    case StdoutTarget::BrokenPipe: startup.hStdOutput = pipeWrite; break;
    // The process starts with no standard output handle at all.
    case StdoutTarget::Closed: startup.hStdOutput = nullptr; break;
    case StdoutTarget::DevFull: break;
    case StdoutTarget::FullPipe: std::abort();  // the Linux tests' alone
  }
  const std::string path = FullPath(program);
  std::string line = CommandLineOf(path, arguments);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.c_str(), &startup, &process)) {
    std::fprintf(stderr, "tool runner: cannot start %s (error %lu)\n", path.c_str(),
                 GetLastError());
    std::abort();
  }
  CloseHandle(process.hThread);
  // The child holds its own copies; the write end of a pipe must close here
  // so that the drain meets the end when the child ends.
  CloseHandle(out);
  CloseHandle(err);
  CloseHandle(in);
  if (pipeWrite != nullptr) CloseHandle(pipeWrite);
  child_ = FromHandle(process.hProcess);
  pipeRead_ = target == StdoutTarget::Pipe ? FromHandle(pipeRead) : -1;
}

ToolProcess::~ToolProcess() {
  if (!ended_) {
    TerminateProcess(ToHandle(child_), 255);
    Reap(true);
  }
  CloseHandle(ToHandle(child_));
  if (pipeRead_ != -1) CloseHandle(ToHandle(pipeRead_));
  DeleteFileA(outName_.c_str());
  DeleteFileA(errName_.c_str());
}

bool ToolProcess::Reap(bool wait) {
  if (ended_) return true;
  if (WaitForSingleObject(ToHandle(child_), wait ? INFINITE : 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(ToHandle(child_), &code);
  ended_ = true;
  status_ = static_cast<int>(code);
  return true;
}

ToolRun ToolProcess::Finish(int limitSeconds) {
  const Deadline deadline(limitSeconds);
  auto timeIsUp = [&] { return deadline.MillisecondsLeft() == 0; };
  ToolRun run;
  // Drain the pipe until every writer has closed it, or the time is up.
  while (pipeRead_ != -1 && !timeIsUp()) {
    DWORD available = 0;
    if (!PeekNamedPipe(ToHandle(pipeRead_), nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      Sleep(1);
      continue;
    }
    char chunk[4096];
    DWORD got = 0;
    if (!ReadFile(ToHandle(pipeRead_), chunk, sizeof chunk, &got, nullptr) || got == 0) break;
    run.Stdout.append(chunk, got);
  }
  while (!Reap(!deadline.Limited())) {
    if (timeIsUp()) {
      TerminateProcess(ToHandle(child_), 255);
      Reap(true);
      run.TimedOut = true;
      break;
    }
    Sleep(2);
  }
  // A process ended by a system exception, or by the runner, did not exit
  // normally.
  bool normal = !run.TimedOut && static_cast<std::uint32_t>(status_) < 0xC0000000u;
  run.ExitStatus = normal ? status_ : -1;
  if (target_ == StdoutTarget::File) run.Stdout = ReadFileBytes(outName_);
  run.Stderr = ReadFileBytes(errName_);
  return run;
}

ScratchDirectory::ScratchDirectory() {
  char directory[MAX_PATH];
  if (GetTempPathA(sizeof directory, directory) == 0) std::abort();
  static unsigned counter = 0;
  for (;;) {
    std::string name = std::string(directory) + "dict-test-" +
                       std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(name.c_str(), nullptr)) {
      path_ = name;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) std::abort();
  }
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Clear read-only attributes so that removal cannot be refused.
  std::filesystem::recursive_directory_iterator entry(path_, ignored);
  for (; entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored)) {
    SetFileAttributesW(entry->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ignored);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
