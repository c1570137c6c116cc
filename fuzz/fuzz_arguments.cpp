// Fuzz target for the command-line splitter (TakeArgument, CountArguments,
// ArgumentOf).
//
// The input is used twice:
//  1. As a command line (up to its first 0 byte), held in a heap block of
//     exactly its length plus the terminating 0, so that AddressSanitizer
//     reports any read past the terminator. The results are compared with a
//     plain tokenizer written below, and checked for invariants.
//  2. Cut at its 0 bytes into an argument vector, which is turned into one
//     command line the way the POSIX layer does (every argument wrapped in
//     quote bytes, its own quote bytes turned into '?', joined by spaces,
//     program name first). Splitting that line must give back the arguments
//     so changed, leaving out the empty ones.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime/arguments.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsSeparatorByte(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

/// The splitting rules, written as a tokenizer: a token is a maximal run of
/// bytes that are not separators, where a quote byte toggles a quoted state
/// in which separators belong to the token too. Quote bytes are dropped from
/// the value, and a token whose value is empty is no argument. The first
/// value is the program name; the rest are the arguments.
std::vector<std::string> ModelSplit(const char* line) {
  std::vector<std::string> values;
  std::size_t i = 0;
  for (;;) {
    while (IsSeparatorByte(static_cast<unsigned char>(line[i]))) ++i;
    if (line[i] == 0) break;
    std::string value;
    bool quoted = false;
    while (line[i] != 0 && (quoted || !IsSeparatorByte(static_cast<unsigned char>(line[i])))) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        value += line[i];
      }
      ++i;
    }
    if (!value.empty()) values.push_back(value);
  }
  if (!values.empty()) values.erase(values.begin());
  return values;
}

/// A heap copy of `text` with a terminating 0 and not one byte more.
std::unique_ptr<char[]> TerminatedCopy(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = 0;
  return copy;
}

std::string WithoutQuotes(const std::string& text) {
  std::string result = text;
  for (char& byte : result) {
    if (byte == '"') byte = '?';
  }
  return result;
}

/// Splits `line` with the code under test and checks it against the model
/// and the invariants; returns the arguments after the program name.
std::vector<std::string> CheckSplit(const char* line) {
  const std::size_t length = std::strlen(line);
  const std::vector<std::string> expected = ModelSplit(line);

  const std::int32_t count = CountArguments(line);
  Check(count >= 0, "CountArguments is not negative");
  Check(static_cast<std::size_t>(count) == expected.size(),
        "CountArguments equals the number of arguments of the model");

  std::vector<std::string> arguments;
  for (std::int32_t index = 1; index <= count; ++index) {
    std::string argument = ArgumentOf(line, index);
    Check(!argument.empty(), "every argument up to CountArguments is non-empty");
    arguments.push_back(argument);
  }
  Check(ArgumentOf(line, count + 1).empty(), "the argument after the last one is empty");
  Check(ArgumentOf(line, 0).empty(), "ArgumentOf index 0 is empty");
  Check(ArgumentOf(line, -1).empty(), "ArgumentOf index -1 is empty");
  Check(arguments == expected, "ArgumentOf gives the arguments of the model");

  const bool lineHasQuote = std::memchr(line, '"', length) != nullptr;
  for (const std::string& argument : arguments) {
    Check(argument.find('"') == std::string::npos, "no argument holds a quote byte");
    if (!lineHasQuote) {
      for (char byte : argument) {
        Check(!IsSeparatorByte(static_cast<unsigned char>(byte)),
              "without quotes, no argument holds a byte from 0x01 to 0x20");
      }
    }
  }

  // TakeArgument only moves forward, stays inside the string, and keeps
  // giving the empty string once it has given it.
  const char* position = line;
  std::size_t taken = 0;
  for (;;) {
    const char* before = position;
    std::string argument = TakeArgument(position);
    Check(position >= before, "TakeArgument never moves backwards");
    Check(position <= line + length, "TakeArgument stays before the terminating 0");
    if (argument.empty()) {
      Check(TakeArgument(position).empty(), "the end of the line stays the end");
      break;
    }
    Check(position > before, "a non-empty argument moves the position");
    ++taken;
  }
  Check(taken == expected.size() + (taken > 0 ? 1 : 0),
        "TakeArgument takes the program name and every argument");
  return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // 1. The input itself as a command line (up to its first 0 byte).
  std::unique_ptr<char[]> line = TerminatedCopy(input);
  CheckSplit(line.get());

  // 2. Round trip through the POSIX layer's way of building the line.
  std::vector<std::string> vector;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = input.find('\0', start);
    vector.push_back(input.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // The POSIX layer puts the program's path in place of an empty program
  // name (`""` would be skipped, and the first argument taken for the name);
  // the model does the same.
  if (vector[0].empty()) vector[0] = "program";

  std::string built;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < vector.size(); ++i) {
    if (i > 0) built += ' ';
    std::string bare = WithoutQuotes(vector[i]);
    built += '"';
    built += bare;
    built += '"';
    if (i > 0 && !bare.empty()) expected.push_back(bare);
  }
  std::unique_ptr<char[]> builtLine = TerminatedCopy(built);
  Check(CheckSplit(builtLine.get()) == expected,
        "a line built from an argument vector splits back into it");
  return 0;
}
