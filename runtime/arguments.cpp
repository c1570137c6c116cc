#include "runtime/arguments.h"

#include "platform/platform.h"

namespace {

bool IsSeparator(char byte) {
  auto value = static_cast<unsigned char>(byte);
  return value >= 0x01 && value <= 0x20;
}

}  // namespace

std::string TakeArgument(const char*& position) {
  const char* p = position;
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (p[0] == '"' && p[1] == '"') {
      p += 2;
      continue;
    }
    break;
  }
  std::string argument;
  while (*p != 0 && !IsSeparator(*p)) {
    if (*p == '"') {
      ++p;
      while (*p != 0 && *p != '"') argument += *p++;
      if (*p == '"') ++p;
    } else {
      argument += *p++;
    }
  }
  position = p;
  return argument;
}

std::int32_t CountArguments(const char* commandLine) {
  const char* position = commandLine;
  TakeArgument(position);
  std::int32_t count = 0;
  while (!TakeArgument(position).empty()) ++count;
  return count;
}

std::string ArgumentOf(const char* commandLine, std::int32_t index) {
  if (index < 1) return {};
  const char* position = commandLine;
  TakeArgument(position);
  std::string argument;
  for (std::int32_t i = 0; i < index; ++i) {
    argument = TakeArgument(position);
    if (argument.empty()) break;
  }
  return argument;
}

std::int32_t ArgumentCount() { return CountArguments(platform::GetCommandLineA()); }

std::string ArgumentAt(std::int32_t index) {
  if (index != 0) {
    if (const char* given = platform::GetArgumentAsGiven(index)) return given;
    return ArgumentOf(platform::GetCommandLineA(), index);
  }
  // The whole path, however long: the buffer grows until the path fits.
  std::string path(256, '\0');
  for (;;) {
    auto size = static_cast<std::uint32_t>(path.size());
    std::uint32_t length = platform::GetModuleFileNameA(path.data(), size);
    if (length < size) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}
