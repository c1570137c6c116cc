#include "runtime/console.h"

#include <charconv>
#include <cstring>

#include "runtime/io_result.h"

ConsoleStream ConsoleOutput;

namespace {

/// Opens the console stream on standard output: the first write of the run
/// does this. An unusable handle leaves the writer closed.
void OpenStandardOutput(ConsoleStream& console) {
  console.OpenAttempted = true;
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
  TextWriter& writer = console.Writer;
  writer.FileHandle = handle;
  writer.IsCharDevice = type == platform::FileTypeChar;
  writer.Waiting = 0;
  writer.IsOpen = true;
}

/// True when the writer can take bytes; records 105 otherwise.
bool ReadyForOutput(const TextWriter& writer) {
  if (writer.IsOpen) return true;
  SetIOResult(FileNotOpenForOutput);
  return false;
}

}  // namespace

void BindStandardOutput(ConsoleStream& console) { console = ConsoleStream{}; }

TextWriter& OpenedWriter(ConsoleStream& console) {
  if (!console.Writer.IsOpen && !console.OpenAttempted) OpenStandardOutput(console);
  return console.Writer;
}

// Not inlined into the writers, whose usual case only stores bytes: the
// count of bytes written, handed to the system by address, makes this frame
// one that the stack protector guards, and the guard then costs only when a
// buffer goes out.
DICT_NOINLINE bool DrainTextBuffer(TextWriter& writer) {
  if (writer.Waiting == 0) return true;
  std::uint64_t count = writer.Waiting;
  std::uint64_t done = 0;
  // The buffer counts as empty before the call: a failure drops its bytes.
  writer.Waiting = 0;
  if (!platform::WriteFile(writer.FileHandle, writer.Buffer, count, &done)) {
    writer.WriteFailed = true;
    RecordSystemError();
    return false;
  }
  return true;
}

// Not inlined into WriteLineEnd, whose usual case would then pay for this
// loop's registers.
DICT_NOINLINE void WriteText(TextWriter& writer, const char* text, std::size_t length) {
  if (!ReadyForOutput(writer)) return;
  while (length > 0) {
    std::size_t room = TextBufferSize - writer.Waiting;
    std::size_t count = length < room ? length : room;
    std::memcpy(writer.Buffer + writer.Waiting, text, count);
    writer.Waiting += static_cast<std::uint32_t>(count);
    text += count;
    length -= count;
    // A full buffer goes out at once; if that fails, the rest is dropped.
    if (writer.Waiting == TextBufferSize && !DrainTextBuffer(writer)) return;
  }
}

void WriteText(TextWriter& writer, const std::string& text) {
  WriteText(writer, text.data(), text.size());
}

void WriteInteger(TextWriter& writer, std::int32_t value) {
  char digits[11];  // room for "-2147483648"
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  WriteText(writer, digits, static_cast<std::size_t>(end - digits));
}

void WriteCharacter(TextWriter& writer, char byte) {
  if (!ReadyForOutput(writer)) return;
  // A full buffer is sent out before the byte is stored.
  if (writer.Waiting == TextBufferSize && !DrainTextBuffer(writer)) return;
  writer.Buffer[writer.Waiting++] = static_cast<std::uint8_t>(byte);
}

void WriteLineEnd(TextWriter& writer) {
  // Every converted line ends here, so the usual case, room for both bytes,
  // is two stores. Otherwise the bytes go in as WriteText would place them:
  // a full buffer goes out before the next byte, and a failure drops the
  // rest.
  if (ReadyForOutput(writer)) {
    if (writer.Waiting + 2 <= TextBufferSize) {
      writer.Buffer[writer.Waiting] = '\r';
      writer.Buffer[writer.Waiting + 1] = '\n';
      writer.Waiting += 2;
    } else {
      WriteText(writer, "\r\n", 2);
    }
    if (writer.Waiting == TextBufferSize) DrainTextBuffer(writer);
  }
  FlushText(writer);
}

void FlushText(TextWriter& writer) {
  if (!writer.IsOpen) {
    SetIOResult(FileNotOpen);
    return;
  }
  if (writer.IsCharDevice) DrainTextBuffer(writer);
}

bool WriteWithConsoleText(const char* text, std::size_t length) {
  // Opening the stream records nothing of its own: the code is put back.
  std::int32_t saved = TakeIOResult();
  TextWriter& writer = OpenedWriter(ConsoleOutput);
  SetIOResult(saved);
  if (!writer.IsOpen || writer.WriteFailed) return false;
  // One request, so that a failure leaves nothing of the text behind.
  char whole[TextBufferSize + 512];
  std::size_t held = writer.Waiting;
  if (length > sizeof whole - held) length = sizeof whole - held;
  std::memcpy(whole, writer.Buffer, held);
  std::memcpy(whole + held, text, length);
  writer.Waiting = 0;
  std::uint64_t done = 0;
  return platform::WriteFile(writer.FileHandle, whole, held + length, &done);
}
