#include "tests/tool_runner.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& directory, StdoutTarget target) {
  char outName[] = "/tmp/tool-stdout-XXXXXX";
  char errName[] = "/tmp/tool-stderr-XXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  int pipeFds[2] = {-1, -1};
  if (target == StdoutTarget::Pipe && pipe(pipeFds) != 0) std::abort();

  pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    switch (target) {
      case StdoutTarget::File: dup2(outFd, 1); break;
      case StdoutTarget::Pipe: dup2(pipeFds[1], 1); break;
      case StdoutTarget::Closed: close(1); break;
      case StdoutTarget::DevFull: dup2(open("/dev/full", O_WRONLY), 1); break;
    }
    dup2(errFd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    closefrom(3);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ToolRun run;
  if (target == StdoutTarget::Pipe) {
    close(pipeFds[1]);
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0) run.Stdout.append(chunk, got);
    close(pipeFds[0]);
  }
  int status = 0;
  waitpid(child, &status, 0);
  run.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (target == StdoutTarget::File) run.Stdout = ReadFileBytes(outName);
  run.Stderr = ReadFileBytes(errName);
  close(outFd);
  close(errFd);
  unlink(outName);
  unlink(errName);
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

std::string ReadFileBytes(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char text[4];
  for (unsigned char byte : bytes) {
    std::snprintf(text, sizeof text, "%02X ", byte);
    out += text;
  }
  if (!out.empty()) out.pop_back();
  return out;
}
