// Buffered text output and the console stream.
//
// A text writer collects bytes in a 128-byte buffer and hands them to the
// system in whole buffers; on a character device every group of writes is
// pushed out at its end as well. Bytes pass unchanged: an LF is never turned
// into CR LF. Failures are never thrown here: they are recorded in the I/O
// result code (runtime/io_result.h), which the caller checks after each
// group of writes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

inline constexpr std::uint32_t TextBufferSize = 128;

/// The buffered writer behind console output and every text file a program
/// writes: bytes wait in the buffer until it is full, or until a push finds
/// the output to be a character device.
struct TextWriter {
  bool IsOpen = false;
  platform::Handle FileHandle = platform::InvalidHandleValue;
  std::uint8_t Buffer[TextBufferSize] = {};
  /// Bytes waiting in `Buffer`.
  std::uint32_t Waiting = 0;
  /// Set when the output is a character device: each push writes out.
  bool IsCharDevice = false;
  /// Set once a system write has failed.
  bool WriteFailed = false;
};

/// Standard output as a text stream. It is bound at start-up and opened by
/// the first write of the run, which asks for the handle and its device.
struct ConsoleStream {
  TextWriter Writer;
  bool OpenAttempted = false;
};

/// The text stream of the process's standard output.
extern ConsoleStream ConsoleOutput;

/// Binds the console stream to standard output without opening it.
void BindStandardOutput(ConsoleStream& console);

// Writing, the same on every writer. A write on a writer that is not open
// records 105 and drops its bytes; a push on one records 103.
void WriteText(TextWriter& writer, const std::string& text);
void WriteText(TextWriter& writer, const char* text, std::size_t length);
/// Decimal, with "-" before a negative value; no padding, no grouping.
void WriteInteger(TextWriter& writer, std::int32_t value);
void WriteCharacter(TextWriter& writer, char byte);
/// Appends CR LF, then pushes like `FlushText`.
void WriteLineEnd(TextWriter& writer);
/// Writes the buffer out now if the output is a character device.
void FlushText(TextWriter& writer);
/// Writes out the waiting bytes, whatever the device; records a failure.
/// Returns false when the system write failed.
bool DrainTextBuffer(TextWriter& writer);

/// The console stream's writer, opened on the first use of the run.
TextWriter& OpenedWriter(ConsoleStream& console);

// The same on the console stream, which the first of them opens.
inline void WriteText(ConsoleStream& console, const std::string& text) {
  WriteText(OpenedWriter(console), text);
}
inline void WriteText(ConsoleStream& console, const char* text, std::size_t length) {
  WriteText(OpenedWriter(console), text, length);
}
inline void WriteInteger(ConsoleStream& console, std::int32_t value) {
  WriteInteger(OpenedWriter(console), value);
}
inline void WriteCharacter(ConsoleStream& console, char byte) {
  WriteCharacter(OpenedWriter(console), byte);
}
inline void WriteLineEnd(ConsoleStream& console) { WriteLineEnd(OpenedWriter(console)); }
/// A push opens nothing: it follows the write that opened the stream.
inline void FlushText(ConsoleStream& console) { FlushText(console.Writer); }
inline bool DrainTextBuffer(ConsoleStream& console) { return DrainTextBuffer(console.Writer); }

/// For the fatal path: sends what `ConsoleOutput` still holds followed by
/// `text` in one system write, opening the stream if nothing was written
/// yet. Returns false, having written nothing of its own, when the stream
/// cannot be opened or a write on it has already failed; then also when the
/// write fails. Allocates nothing, records nothing and never raises.
bool WriteWithConsoleText(const char* text, std::size_t length);
