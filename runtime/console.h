// Text streams, console output and the I/O result code.
//
// A text stream collects bytes in a 128-byte buffer and hands them to the
// system in whole buffers; on a character device every group of writes is
// pushed out at its end as well. Bytes pass unchanged: an LF is never turned
// into CR LF. Failures are never thrown here: they are recorded in the I/O
// result code, which the caller checks after each group of writes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

inline constexpr std::uint32_t TextBufferSize = 128;

/// I/O result codes of the runtime itself (the others are system error
/// numbers).
inline constexpr std::int32_t ReadBeyondEndOfFile = 100;
inline constexpr std::int32_t DiskFull = 101;
inline constexpr std::int32_t FileNotOpen = 103;
inline constexpr std::int32_t FileNotOpenForInput = 104;
inline constexpr std::int32_t FileNotOpenForOutput = 105;

enum class StreamState { Closed, Reading, Writing };

/// A buffered byte channel on a file or a standard handle.
struct TextStream {
  StreamState State = StreamState::Closed;
  platform::Handle FileHandle = platform::InvalidHandleValue;
  std::uint8_t Buffer[TextBufferSize] = {};
  /// Reading: index of the next byte to consume; writing: bytes waiting.
  std::uint32_t Position = 0;
  /// Reading only: number of valid bytes in the buffer.
  std::uint32_t End = 0;
  /// Reading only: a fetch came back short, which happens only at the end
  /// of the input, so nothing more is asked of the system.
  bool InputEnded = false;
  /// Set when the output is a character device: each push writes out.
  bool IsCharDevice = false;
  /// Bound to standard output; opened by the first write.
  bool IsStandardOutput = false;
  bool OpenAttempted = false;
  /// Set once a system write on the stream has failed.
  bool WriteFailed = false;
};

/// The text stream of the process's standard output.
extern TextStream ConsoleOutput;

/// Binds a stream to standard output without opening it.
void BindStandardOutput(TextStream& stream);

/// Records a failure; replaces any earlier code. Successes never clear it.
void SetIOResult(std::int32_t code);

/// Records the error number of the system call that just failed.
void RecordSystemError();

/// Returns the I/O result code and resets it to 0.
std::int32_t TakeIOResult();

/// Raises `EInOutError` when the I/O result code is not 0 (and resets it).
void CheckIOResult();

void WriteText(TextStream& stream, const std::string& text);
void WriteText(TextStream& stream, const char* text, std::size_t length);
/// Decimal, with "-" before a negative value; no padding, no grouping.
void WriteInteger(TextStream& stream, std::int32_t value);
void WriteCharacter(TextStream& stream, char byte);
/// Appends CR LF, then pushes like `FlushText`.
void WriteLineEnd(TextStream& stream);
/// Writes the buffer out now if the stream is a character device.
void FlushText(TextStream& stream);

/// Writes out the waiting bytes, whatever the device; records a failure.
/// Returns false when the system write failed.
bool DrainTextBuffer(TextStream& stream);

/// For the fatal path: sends what `ConsoleOutput` still holds followed by
/// `text` in one system write, opening the stream if nothing was written
/// yet. Returns false, having written nothing of its own, when the stream
/// cannot be opened or a write on it has already failed; then also when the
/// write fails. Allocates nothing, records nothing and never raises.
bool WriteWithConsoleText(const char* text, std::size_t length);
