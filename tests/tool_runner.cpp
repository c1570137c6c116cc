#include "tests/tool_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef DICT_TEST_EMULATOR
#define DICT_TEST_EMULATOR
#endif

std::vector<std::string> TargetCommand(const std::string& program) {
  // The build passes the emulator's words, each a string literal, when it
  // has one.
  std::vector<std::string> words = {DICT_TEST_EMULATOR};
  words.push_back(program);
  return words;
}

bool UnderEmulator() { return TargetCommand("").size() > 1; }

namespace {

/// Writes into a pipe until it holds no more, and gives the count. The pipe
/// waits as usual again afterwards.
std::size_t FillPipe(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  std::size_t filled = 0;
  const std::string chunk(4096, 'x');
  for (std::size_t size : {chunk.size(), std::size_t{1}}) {
    ssize_t put;
    while ((put = write(fd, chunk.data(), size)) > 0) filled += static_cast<std::size_t>(put);
  }
  fcntl(fd, F_SETFL, flags);
  return filled;
}

}  // namespace

ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& directory, StdoutTarget target) {
  return ToolProcess(program, arguments, directory, target).Finish(0);
}

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory, StdoutTarget target, ProgramMachine machine)
    : target_(target) {
  std::vector<std::string> command =
      machine == ProgramMachine::Target ? TargetCommand(program) : std::vector{program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  char outName[] = "/tmp/tool-stdout-XXXXXX";
  char errName[] = "/tmp/tool-stderr-XXXXXX";
  outFd_ = mkstemp(outName);
  errFd_ = mkstemp(errName);
  if (outFd_ < 0 || errFd_ < 0) std::abort();
  outName_ = outName;
  errName_ = errName;
  int pipeFds[2] = {-1, -1};
  if (target == StdoutTarget::Pipe || target == StdoutTarget::BrokenPipe ||
      target == StdoutTarget::FullPipe) {
    if (pipe(pipeFds) != 0) std::abort();
  }
  if (target == StdoutTarget::FullPipe) filled_ = FillPipe(pipeFds[1]);
  // No process holds the read end: the program's first write meets EPIPE.
  if (target == StdoutTarget::BrokenPipe) close(pipeFds[0]);

  child_ = fork();
  if (child_ < 0) std::abort();
  if (child_ == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    // An ignored SIGPIPE would be inherited through exec and hide whether
    // the program ignores it itself.
    signal(SIGPIPE, SIG_DFL);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    switch (target) {
      case StdoutTarget::File: dup2(outFd_, 1); break;
      case StdoutTarget::Pipe:
      case StdoutTarget::BrokenPipe:
      case StdoutTarget::FullPipe: dup2(pipeFds[1], 1); break;
      case StdoutTarget::Closed: close(1); break;
      case StdoutTarget::DevFull: dup2(open("/dev/full", O_WRONLY), 1); break;
    }
    dup2(errFd_, 2);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    closefrom(3);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  if (target == StdoutTarget::Pipe || target == StdoutTarget::FullPipe) pipeRead_ = pipeFds[0];
}

void ToolProcess::SendSignal(int signal) { kill(child_, signal); }

ToolProcess::~ToolProcess() {
  if (!ended_) {
    kill(child_, SIGKILL);
    Reap(true);
  }
  if (pipeRead_ >= 0) close(pipeRead_);
  close(outFd_);
  close(errFd_);
  unlink(outName_.c_str());
  unlink(errName_.c_str());
}

bool ToolProcess::Reap(bool wait) {
  if (ended_) return true;
  int status = 0;
  pid_t got;
  do {
    got = waitpid(child_, &status, wait ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got != child_) return false;
  ended_ = true;
  status_ = status;
  return true;
}

ToolRun ToolProcess::Finish(int limitSeconds) {
  const Deadline deadline(limitSeconds);
  ToolRun run;
  // Drain the pipe until every writer has closed it, or the time is up.
  while (pipeRead_ >= 0) {
    pollfd ready{pipeRead_, POLLIN, 0};
    int wait = deadline.MillisecondsLeft();
    if (wait == 0) break;
    int count = poll(&ready, 1, wait);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    char chunk[4096];
    ssize_t got = read(pipeRead_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.Stdout.append(chunk, static_cast<std::size_t>(got));
  }
  if (!deadline.Limited()) {
    Reap(true);
  } else {
    while (!Reap(false)) {
      if (deadline.MillisecondsLeft() == 0) {
        kill(child_, SIGKILL);
        Reap(true);
        run.TimedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  run.ExitStatus = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  run.Signal = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
  run.Stdout.erase(0, filled_);
  if (target_ == StdoutTarget::File) run.Stdout = ReadFileBytes(outName_);
  run.Stderr = ReadFileBytes(errName_);
  return run;
}

ScratchDirectory::ScratchDirectory() {
  char name[] = "/tmp/dict-test-XXXXXX";
  if (mkdtemp(name) == nullptr) std::abort();
  path_ = name;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Make everything writable again so that removal cannot be refused.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}
