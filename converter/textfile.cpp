#include "converter/textfile.h"

#include <algorithm>
#include <cstring>

#include "runtime/files.h"
#include "runtime/io_result.h"

namespace {

constexpr char CarriageReturn = 13;
constexpr char LineFeed = 10;

/// `ReadLine` gathers a line in pieces of at most this many bytes.
constexpr std::size_t ReadLineStep = 255;

/// A text file starts closed, with an empty buffer.
void Reset(TextFile& file) { file = TextFile{}; }

/// Refills the buffer from the file. A fetch that yields nothing (or fails)
/// leaves the end mark in the buffer, and since the end mark is never
/// consumed, nothing is fetched again. The block is cut after its first end
/// mark, if any, so that an end mark in the buffer always stands last and
/// the line scan looks for it once per block.
void FetchBlock(TextReader& in) {
  std::uint64_t done = 0;
  // A request comes back short only once the end of the input was read, so
  // after a short block the end mark follows without another request.
  if (!in.InputEnded && !platform::ReadFile(in.FileHandle, in.Buffer, TextBufferSize, &done)) {
    RecordSystemError();
    done = 0;
  }
  in.InputEnded = done < TextBufferSize;
  in.Position = 0;
  in.End = static_cast<std::uint32_t>(done);
  if (in.End == 0) {
    in.Buffer[0] = static_cast<std::uint8_t>(EndMark);
    in.End = 1;
    return;
  }
  const void* mark = std::memchr(in.Buffer, EndMark, in.End);
  if (mark != nullptr) {
    in.End = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(mark) - in.Buffer) + 1;
  }
}

/// The next unconsumed byte, fetching a block when the buffer is used up.
char PeekByte(TextReader& in) {
  if (in.Position >= in.End) FetchBlock(in);
  return static_cast<char>(in.Buffer[in.Position]);
}

bool ReadyForInput(TextFile& file) {
  if (IsOpenForReading(file)) return true;
  SetIOResult(FileNotOpenForInput);
  return false;
}

}  // namespace

void OpenTextInput(TextFile& file, const std::string& name) {
  Reset(file);
  platform::Handle handle = OpenInputFile(name, platform::GenericRead, platform::FileShareWrite);
  if (handle == platform::InvalidHandleValue) return;
  file.In.FileHandle = handle;
}

void CreateTextOutput(TextFile& file, const std::string& name) {
  Reset(file);
  std::uint32_t type = platform::FileTypeUnknown;
  platform::Handle handle =
      CreateOutputFile(name, platform::GenericWrite, platform::FileShareRead, type);
  if (handle == platform::InvalidHandleValue) return;
  file.Out.FileHandle = handle;
  file.Out.IsCharDevice = type == platform::FileTypeChar;
  file.Out.IsOpen = true;
}

bool AtEndOfTextFetching(TextFile& file) {
  if (!ReadyForInput(file)) return true;
  return PeekByte(file.In) == EndMark;
}

std::string ReadLine(TextFile& file) {
  std::string line;
  if (!ReadyForInput(file)) return line;
  std::uint8_t piece[ReadLineStep];
  LinePiece taken{};
  do {
    taken = ReadLinePiece(file, piece, sizeof piece);
    line.append(reinterpret_cast<const char*>(piece), taken.Length);
  } while (!taken.LineComplete);
  return line;
}

LinePiece ReadLinePiece(TextFile& file, std::uint8_t* to, std::size_t room) {
  TextReader& in = file.In;
  std::size_t length = 0;
  for (;;) {
    if (in.Position == in.End) FetchBlock(in);
    // The bytes of the line in the buffer run up to the first CR, or up to
    // the end mark, which can only be the last byte.
    const std::uint8_t* start = in.Buffer + in.Position;
    std::size_t available = in.End - in.Position;
    if (in.Buffer[in.End - 1] == static_cast<std::uint8_t>(EndMark)) --available;
    const void* found = std::memchr(start, CarriageReturn, available);
    const std::size_t run =
        found == nullptr
            ? available
            : static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - start);
    const std::size_t take = std::min(run, room - length);
    std::memcpy(to + length, start, take);
    length += take;
    in.Position += static_cast<std::uint32_t>(take);
    if (take < run) return {length, false};  // the space is full; the line goes on
    // At a CR or at the end mark the line ends; at the end of the buffer
    // it goes on, or ends with the next block's first byte. That byte is
    // looked at even when the space is full.
    if (in.Position < in.End) break;
  }
  // Skip the line end: the CR, then an LF right after it. The end mark
  // stays.
  if (in.Buffer[in.Position] == static_cast<std::uint8_t>(CarriageReturn)) {
    ++in.Position;
    if (PeekByte(in) == LineFeed) ++in.Position;
  }
  return {length, true};
}

void CloseText(TextFile& file) {
  platform::Handle handle = file.In.FileHandle;
  if (file.Out.IsOpen) {
    if (!DrainTextBuffer(file.Out)) return;
    handle = file.Out.FileHandle;
  } else if (!IsOpenForReading(file)) {
    SetIOResult(FileNotOpen);
    return;
  }
  // Closed before the call, whatever the call says.
  file.Out.IsOpen = false;
  file.In.FileHandle = platform::InvalidHandleValue;
  if (!platform::CloseHandle(handle)) RecordSystemError();
}

std::string ExtensionOf(const std::string& name) {
  std::size_t position = name.size();
  while (position > 0) {
    char byte = name[position - 1];
    if (byte == '.') {
      std::string extension = name.substr(position - 1);
      if (extension.size() > 255) extension.resize(255);
      return extension;
    }
    if (byte == '\\' || byte == ':' || byte == '/') break;
    --position;
  }
  return {};
}
