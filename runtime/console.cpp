#include "runtime/console.h"

#include <cstring>

#include "platform/builtins.h"
#include "runtime/exceptions.h"

TextStream ConsoleOutput;

namespace {

std::int32_t IOResult = 0;

/// Opens a stream bound to standard output: the first write of the run does
/// this. An unusable handle leaves the stream closed.
void OpenStandardOutput(TextStream& stream) {
  stream.OpenAttempted = true;
  platform::Handle handle = platform::GetStdHandle(platform::StdOutputHandle);
  if (handle == platform::InvalidHandleValue) {
    RecordSystemError();
    return;
  }
  std::uint32_t type = platform::GetFileType(handle);
  if (type == platform::FileTypeUnknown) {
    SetIOResult(FileNotOpenForOutput);
    return;
  }
  stream.FileHandle = handle;
  stream.IsCharDevice = type == platform::FileTypeChar;
  stream.Position = 0;
  stream.State = StreamState::Writing;
}

/// Opens a standard-output stream on its first use; true when it is open
/// for writing.
bool OpenIfFirstUse(TextStream& stream) {
  if (stream.State == StreamState::Closed && stream.IsStandardOutput && !stream.OpenAttempted) {
    OpenStandardOutput(stream);
  }
  return stream.State == StreamState::Writing;
}

/// True when the stream can take bytes; records 105 otherwise.
bool ReadyForOutput(TextStream& stream) {
  // The usual case first: every write of a run meets an open stream.
  if (stream.State == StreamState::Writing) return true;
  if (!OpenIfFirstUse(stream)) {
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

void RecordSystemError() { SetIOResult(static_cast<std::int32_t>(platform::GetLastError())); }

std::int32_t TakeIOResult() {
  std::int32_t code = IOResult;
  IOResult = 0;
  return code;
}

// Not inlined, so that the return address is the place of the check.
DICT_NOINLINE void CheckIOResult() {
  if (IOResult == 0) return;
  ReleaseExceptionReserve();
  EInOutError error(TakeIOResult());
  error.RaiseAddress = DICT_RETURN_ADDRESS() - platform::GetModuleHandleA();
  throw error;
}

bool DrainTextBuffer(TextStream& stream) {
  if (stream.Position == 0) return true;
  std::uint64_t count = stream.Position;
  std::uint64_t done = 0;
  // The buffer counts as empty before the call: a failure drops its bytes.
  stream.Position = 0;
  if (!platform::WriteFile(stream.FileHandle, stream.Buffer, count, &done)) {
    stream.WriteFailed = true;
    RecordSystemError();
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
  char digits[12];
  WriteText(stream, digits, FormatDecimal(digits, sizeof digits, value));
}

void WriteCharacter(TextStream& stream, char byte) {
  if (!ReadyForOutput(stream)) return;
  // A full buffer is sent out before the byte is stored.
  if (stream.Position == TextBufferSize && !DrainTextBuffer(stream)) return;
  stream.Buffer[stream.Position++] = static_cast<std::uint8_t>(byte);
}

void WriteLineEnd(TextStream& stream) {
  // Every converted line ends here, so the usual case, room for both bytes,
  // is two stores. Otherwise the bytes go in as WriteText would place them:
  // a full buffer goes out before the next byte, and a failure drops the
  // rest.
  if (ReadyForOutput(stream)) {
    if (stream.Position + 2 <= TextBufferSize) {
      stream.Buffer[stream.Position] = '\r';
      stream.Buffer[stream.Position + 1] = '\n';
      stream.Position += 2;
    } else {
      WriteText(stream, "\r\n", 2);
    }
    if (stream.Position == TextBufferSize) DrainTextBuffer(stream);
  }
  FlushText(stream);
}

void FlushText(TextStream& stream) {
  if (stream.State != StreamState::Writing) {
    SetIOResult(FileNotOpen);
    return;
  }
  if (stream.IsCharDevice) DrainTextBuffer(stream);
}

bool WriteWithConsoleText(const char* text, std::size_t length) {
  std::int32_t saved = IOResult;
  bool open = OpenIfFirstUse(ConsoleOutput);
  IOResult = saved;
  if (!open || ConsoleOutput.WriteFailed) return false;
  // One request, so that a failure leaves nothing of the text behind.
  char whole[TextBufferSize + 512];
  std::size_t held = ConsoleOutput.Position;
  if (length > sizeof whole - held) length = sizeof whole - held;
  std::memcpy(whole, ConsoleOutput.Buffer, held);
  std::memcpy(whole + held, text, length);
  ConsoleOutput.Position = 0;
  std::uint64_t done = 0;
  return platform::WriteFile(ConsoleOutput.FileHandle, whole, held + length, &done);
}
