// Fuzz target for the text reader (OpenTextInput, AtEndOfText, ReadLine,
// CloseText), fed from an in-memory file through the platform table.
//
// Input: the first byte chooses the variant, the rest is the file.
//   bit 0: cut the file to a whole number of 128-byte blocks, so that it
//          ends exactly at a block boundary;
//   bit 1: ask AtEndOfText twice before each line (it consumes nothing).
//
// The fake file serves every read faithfully, as the platform layer does:
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
#include "tests/scoped_table.h"

using namespace platform;

namespace {

constexpr char FakeName[] = "input.euc";
constexpr Handle FakeHandle = 0x5EED;
constexpr std::uint8_t EndMarkByte = 26;
constexpr std::uint8_t CarriageReturnByte = 13;
constexpr std::uint8_t LineFeedByte = 10;

struct FakeFile {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Offset = 0;
  bool IsOpen = false;
  int Opens = 0;
  int Closes = 0;
  /// Set once a fetch has delivered a 26 or nothing: the reader has seen
  /// the end and must not fetch again.
  bool EndDelivered = false;
} Fake;

Handle FakeCreateFile(const char* name, std::uint32_t access, std::uint32_t /*share*/,
                      std::uint32_t disposition) {
  Check(std::strcmp(name, FakeName) == 0, "the file is opened by its name");
  Check(access == GenericRead, "the input is opened for reading only");
  Check(disposition == OpenExisting, "the input is opened as an existing file");
  Fake.IsOpen = true;
  ++Fake.Opens;
  return FakeHandle;
}

bool FakeReadFile(Handle handle, void* buffer, std::uint64_t count, std::uint64_t* done) {
  Check(handle == FakeHandle && Fake.IsOpen, "reads go to the open input");
  Check(!Fake.EndDelivered, "nothing is fetched after the end has been delivered");
  Check(count >= 1 && count <= TextBufferSize, "a fetch asks for 1 to 128 bytes");
  std::size_t served = std::min<std::size_t>(static_cast<std::size_t>(count), Fake.Size - Fake.Offset);
  if (served > 0) std::memcpy(buffer, Fake.Data + Fake.Offset, served);
  if (served < count || std::memchr(Fake.Data + Fake.Offset, EndMarkByte, served) != nullptr) {
    Fake.EndDelivered = true;
  }
  Fake.Offset += served;
  *done = served;
  return true;
}

bool FakeCloseHandle(Handle handle) {
  Check(handle == FakeHandle && Fake.IsOpen, "the open input is closed");
  Fake.IsOpen = false;
  ++Fake.Closes;
  return true;
}

std::uint32_t FakeGetFileType(Handle /*handle*/) { return FileTypeDisk; }

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t variant = data[0];
  const std::uint8_t* file = data + 1;
  std::size_t fileSize = size - 1;
  if ((variant & 1) != 0) fileSize -= fileSize % TextBufferSize;
  const bool doubleTest = (variant & 2) != 0;

  const ScopedTable<platform::CallTable> calls(platform::Calls);
  platform::Calls.CreateFileA = FakeCreateFile;
  platform::Calls.ReadFile = FakeReadFile;
  platform::Calls.CloseHandle = FakeCloseHandle;
  platform::Calls.GetFileType = FakeGetFileType;
  Fake = FakeFile{};
  Fake.Data = file;
  Fake.Size = fileSize;
  TakeIOResult();

  TextFile input;
  OpenTextInput(input, FakeName);
  Check(TakeIOResult() == 0, "opening the fake file succeeds");
  Check(Fake.Opens == 1 && Fake.Offset == 0, "opening reads nothing");

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
  Check(Fake.Closes == 1 && !Fake.IsOpen, "the input is closed once");

  return 0;
}
