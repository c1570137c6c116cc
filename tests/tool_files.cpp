// What the process runners share on every system: whole-file reads and
// writes for the tests, and a run's time limit.
#include <fstream>
#include <sstream>
#include <string>

#include "tests/tool_runner.h"

Deadline::Deadline(int limitSeconds)
    : limited_(limitSeconds > 0),
      end_(std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds)) {}

int Deadline::MillisecondsLeft() const {
  if (!limited_) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      end_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool ToolProcess::HasEnded() { return Reap(false); }

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
