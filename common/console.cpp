#include "common/console.h"

#include <cstring>

#include "common/exceptions.h"

TextStream ConsoleOutput;

namespace {

std::int32_t IOResult = 0;

/// Opens a stream bound to standard output: the first write of the run does
/// this. An unusable handle leaves the stream closed.
void OpenStandardOutput(TextStream& stream) {
  stream.OpenAttempted = true;
  Handle handle = GetStdHandle(StdOutputHandle);
  if (handle == InvalidHandleValue) {
    SetIOResult(static_cast<std::int32_t>(GetLastError()));
    return;
  }
  std::uint32_t type = GetFileType(handle);
  if (type == FileTypeUnknown) {
    SetIOResult(FileNotOpenForOutput);
    return;
  }
  stream.FileHandle = handle;
  stream.IsCharDevice = type == FileTypeChar;
  stream.Position = 0;
  stream.State = StreamState::Writing;
}

/// True when the stream can take bytes; records 105 otherwise.
bool ReadyForOutput(TextStream& stream) {
  if (stream.State == StreamState::Closed && stream.IsStandardOutput && !stream.OpenAttempted) {
    OpenStandardOutput(stream);
  }
  if (stream.State != StreamState::Writing) {
    SetIOResult(FileNotOpenForOutput);
    return false;
  }
  return true;
}

}  // namespace

void BindStandardOutput(TextStream& stream) {
  stream = TextStream{};
  stream.IsStandardOutput = true;
}

void SetIOResult(std::int32_t code) { IOResult = code; }

std::int32_t TakeIOResult() {
  std::int32_t code = IOResult;
  IOResult = 0;
  return code;
}

// Not inlined, so that the return address is the place of the check.
[[gnu::noinline]] void CheckIOResult() {
  if (IOResult == 0) return;
  EInOutError error(TakeIOResult());
  auto here = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  error.RaiseAddress = here - GetModuleHandleA();
  throw error;
}

bool DrainTextBuffer(TextStream& stream) {
  if (stream.Position == 0) return true;
  std::uint64_t count = stream.Position;
  std::uint64_t done = 0;
  // The buffer counts as empty before the call: a failure drops its bytes.
  stream.Position = 0;
  if (!WriteFile(stream.FileHandle, stream.Buffer, count, &done)) {
    SetIOResult(static_cast<std::int32_t>(GetLastError()));
    return false;
  }
  return true;
}

void WriteText(TextStream& stream, const char* text, std::size_t length) {
  if (!ReadyForOutput(stream)) return;
  while (length > 0) {
    std::size_t room = TextBufferSize - stream.Position;
    std::size_t count = length < room ? length : room;
    std::memcpy(stream.Buffer + stream.Position, text, count);
    stream.Position += static_cast<std::uint32_t>(count);
    text += count;
    length -= count;
    // A full buffer goes out at once; if that fails, the rest is dropped.
    if (stream.Position == TextBufferSize && !DrainTextBuffer(stream)) return;
  }
}

void WriteText(TextStream& stream, const std::string& text) {
  WriteText(stream, text.data(), text.size());
}

void WriteInteger(TextStream& stream, std::int32_t value) {
  // The magnitude as unsigned, so that the most negative value has one.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                      : static_cast<std::uint32_t>(value);
  char digits[12];
  std::size_t start = sizeof digits;
  do {
    digits[--start] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--start] = '-';
  WriteText(stream, digits + start, sizeof digits - start);
}

void WriteCharacter(TextStream& stream, char byte) {
  if (!ReadyForOutput(stream)) return;
  // A full buffer is sent out before the byte is stored.
  if (stream.Position == TextBufferSize && !DrainTextBuffer(stream)) return;
  stream.Buffer[stream.Position++] = static_cast<std::uint8_t>(byte);
}

void WriteLineEnd(TextStream& stream) {
  WriteText(stream, "\r\n", 2);
  FlushText(stream);
}

void FlushText(TextStream& stream) {
  if (stream.State != StreamState::Writing) {
    SetIOResult(FileNotOpen);
    return;
  }
  if (stream.IsCharDevice) DrainTextBuffer(stream);
}

void CloseConsoleOutput() {
  if (ConsoleOutput.State != StreamState::Writing) return;
  std::int32_t saved = TakeIOResult();
  DrainTextBuffer(ConsoleOutput);
  TakeIOResult();
  SetIOResult(saved);
}
