// Fuzz target for the text reader (OpenTextInput, AtEndOfText, ReadLine,
// CloseText), fed from an in-memory file through the platform table.
//
// Input: the first byte chooses the variant, the rest is the file.
//   bit 0: cut the file to a whole number of 128-byte blocks, so that it
//          ends exactly at a block boundary;
//   bit 1: ask AtEndOfText twice before each line (it consumes nothing).
//
// The fake system serves every read faithfully, as the platform layer does:
// min(requested, remaining) bytes, 0 at the end.
//
// Properties:
//  - the lines read until AtEndOfText equal a model split of the bytes
//    before the first 26: lines end at CR, a CR directly followed by LF is
//    one line end, and a line end at the very end adds no empty line;
//  - no line holds a CR or a 26;
//  - no block is fetched after a fetch that delivered a 26 or nothing, and
//    no fetch asks for more than the stream's buffer holds;
//  - the file is opened for reading once and closed once, and no I/O result
//    code is left behind.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/console.h"
#include "runtime/io_result.h"
#include "platform/platform.h"
#include "converter/textfile.h"
#include "fuzz/fuzz_check.h"
#include "tests/fake_system.h"

using namespace platform;

namespace {

constexpr char FakeName[] = "input.euc";
constexpr std::uint8_t EndMarkByte = 26;
constexpr std::uint8_t CarriageReturnByte = 13;
constexpr std::uint8_t LineFeedByte = 10;

/// The lines of `bytes`: everything before the first 26, cut at each CR,
/// with an LF right after a CR belonging to that line end.
std::vector<std::string> ModelLines(const std::uint8_t* bytes, std::size_t size) {
  std::size_t end = 0;
  while (end < size && bytes[end] != EndMarkByte) ++end;
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;  // bytes seen since the last line end
  for (std::size_t i = 0; i < end; ++i) {
    if (bytes[i] == CarriageReturnByte) {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (i + 1 < end && bytes[i + 1] == LineFeedByte) ++i;
    } else {
      current += static_cast<char>(bytes[i]);
      pending = true;
    }
  }
  if (pending) lines.push_back(current);
  return lines;
}

/// The requests the reader made on the fake `file`: one open for reading,
/// fetches of 1 to 128 bytes, none after the end was delivered, and one
/// close.
void CheckRequests(const FakeSystem& fake, const std::uint8_t* file) {
  int opens = 0;
  int closes = 0;
  // Set once a fetch has delivered a 26 or less than it asked for: the
  // reader has seen the end and must not fetch again.
  bool endDelivered = false;
  for (const FakeSystem::Request& request : fake.Log()) {
    switch (request.Kind) {
      case FakeSystem::Call::CreateFileA:
        Check(request.Name == FakeName, "the file is opened by its name");
        Check(request.Access == GenericRead, "the input is opened for reading only");
        Check(request.Disposition == OpenExisting, "the input is opened as an existing file");
        Check(opens++ == 0, "the input is opened once");
        break;
      case FakeSystem::Call::ReadFile:
        Check(request.Succeeded() && request.Name == FakeName && opens == 1 && closes == 0,
              "reads go to the open input");
        Check(!endDelivered, "nothing is fetched after the end has been delivered");
        Check(request.Count >= 1 && request.Count <= TextBufferSize,
              "a fetch asks for 1 to 128 bytes");
        endDelivered = request.Done < request.Count ||
                       std::memchr(file + request.Position, EndMarkByte, request.Done) != nullptr;
        break;
      case FakeSystem::Call::CloseHandle:
        Check(request.Succeeded() && request.Name == FakeName, "the open input is closed");
        ++closes;
        break;
      default: break;
    }
  }
  Check(opens == 1 && closes == 1, "the input is opened once and closed once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t variant = data[0];
  const std::uint8_t* file = data + 1;
  std::size_t fileSize = size - 1;
  if ((variant & 1) != 0) fileSize -= fileSize % TextBufferSize;
  const bool doubleTest = (variant & 2) != 0;

  FakeSystem fake;
  fake.AddFile(FakeName, std::string(reinterpret_cast<const char*>(file), fileSize));
  TakeIOResult();

  TextFile input;
  OpenTextInput(input, FakeName);
  Check(TakeIOResult() == 0, "opening the fake file succeeds");
  Check(fake.Requests(FakeSystem::Call::ReadFile).empty(), "opening reads nothing");

  std::vector<std::string> lines;
  // Each line but the last consumes at least its line end, so there are
  // never more lines than bytes; anything beyond that is a loop.
  const std::size_t maximumLines = fileSize + 1;
  for (;;) {
    bool atEnd = AtEndOfText(input);
    if (doubleTest) Check(AtEndOfText(input) == atEnd, "AtEndOfText consumes nothing");
    if (atEnd) break;
    std::string line = ReadLine(input);
    Check(line.find('\r') == std::string::npos, "no line holds a CR");
    Check(line.find(static_cast<char>(EndMarkByte)) == std::string::npos, "no line holds a 26");
    lines.push_back(line);
    Check(lines.size() <= maximumLines, "reading ends");
  }
  Check(TakeIOResult() == 0, "reading leaves no I/O result code");

  // At the end, the end stays: another line is empty and consumes nothing.
  Check(ReadLine(input).empty(), "a line read at the end is empty");
  Check(AtEndOfText(input), "the end stays the end");

  Check(lines == ModelLines(file, fileSize), "the lines are those of the model split");

  CloseText(input);
  Check(TakeIOResult() == 0, "closing leaves no I/O result code");
  CheckRequests(fake, file);

  return 0;
}
