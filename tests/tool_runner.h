// Runs a built program the way a user would: in a directory of its own, with
// standard output redirected, and gives back what it printed and its status.
#pragma once

#include <string>
#include <vector>

/// Where the program's standard output goes.
enum class StdoutTarget {
  File,     // a regular file, read back afterwards (the usual case)
  Pipe,     // a pipe drained by the test
  Closed,   // descriptor 1 closed
  DevFull,  // /dev/full: every write fails with "no space"
};

struct ToolRun {
  std::string Stdout;
  std::string Stderr;
  int ExitStatus = -1;  // -1 when the program did not exit normally
};

/// Runs `program` with `arguments` in `directory`. Standard input is
/// /dev/null; standard error is a file, read back.
ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& directory, StdoutTarget target = StdoutTarget::File);

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

/// Bytes as spaced hexadecimal, for failure messages.
std::string Hex(const std::string& bytes);
