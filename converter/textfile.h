// Named text files: reading lines ended by CR, CR LF or the end of the
// input, and writing lines through the 128-byte buffer of a text stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/console.h"

/// The reading side of a text file: the handle and the block last fetched.
struct TextReader {
  /// `InvalidHandleValue` while the file is not open for reading.
  platform::Handle FileHandle = platform::InvalidHandleValue;
  std::uint8_t Buffer[TextBufferSize] = {};
  /// Index of the next byte to consume.
  std::uint32_t Position = 0;
  /// Number of valid bytes in the buffer.
  std::uint32_t End = 0;
  /// A fetch came back short, which happens only at the end of the input,
  /// so nothing more is asked of the system.
  bool InputEnded = false;
};

/// A text stream on a named file: read through its reader, or written
/// through the buffered writer that the console stream uses too. Open for
/// reading while the reader holds a handle, for writing while the writer is
/// open; closed otherwise.
struct TextFile {
  TextReader In;
  TextWriter Out;
};

inline bool IsOpenForReading(const TextFile& file) {
  return file.In.FileHandle != platform::InvalidHandleValue;
}

// Writing to a text file is writing through its writer; on a file not open
// for writing the writer is closed and records the failure.
inline void WriteText(TextFile& file, const char* text, std::size_t length) {
  WriteText(file.Out, text, length);
}
inline void WriteText(TextFile& file, const std::string& text) { WriteText(file.Out, text); }
inline void WriteLineEnd(TextFile& file) { WriteLineEnd(file.Out); }

/// The end mark: byte 26 ends the input wherever it stands.
inline constexpr char EndMark = 26;

/// Opens the existing named file for reading; reads nothing.
/// Failure is left in the I/O result code.
void OpenTextInput(TextFile& file, const std::string& name);

/// Creates the named file for writing, replacing an existing one, unless it
/// is a file that no output may be (see `CreateOutputFile`). A device of
/// unknown type is closed again and refused with 105.
void CreateTextOutput(TextFile& file, const std::string& name);

/// `AtEndOfText` when the buffer holds no unconsumed byte: fetches the next
/// block (or records 104 for a stream not open for reading).
bool AtEndOfTextFetching(TextFile& file);

/// True when no byte before the end mark remains. May fetch the next block;
/// consumes nothing. The converter asks once per line, and after a line end
/// the next byte is nearly always in the buffer already: that case is
/// answered here, without a call.
inline bool AtEndOfText(TextFile& file) {
  if (IsOpenForReading(file) && file.In.Position < file.In.End) {
    return file.In.Buffer[file.In.Position] == static_cast<std::uint8_t>(EndMark);
  }
  return AtEndOfTextFetching(file);
}

/// Kept for the tests as the plain form of reading a whole line: the rest
/// of the current line, without its line end, gathered in pieces of 255
/// bytes; moves past the line end. A line ends at CR, CR LF or the end
/// mark; a lone LF stays inside it. Records 104 on a stream not open for
/// reading.
std::string ReadLine(TextFile& file);

/// What `ReadLinePiece` took of a line.
struct LinePiece {
  /// Bytes copied.
  std::size_t Length;
  /// The line's end has been reached: its line end (CR, or CR LF) has been
  /// consumed, or the end mark reached, which stays.
  bool LineComplete;
};

/// Copies the next bytes of the current line into `to`, at most `room` of
/// them; `file` is open for reading (as after `AtEndOfText` answered false).
/// Blocks are fetched only when a byte is needed, in the order `ReadLine`
/// fetches them: when `room` fills up at the end of a block, the next
/// block's first byte is still looked at, so that a line of exactly `room`
/// bytes comes whole and complete. Allocates nothing. A failed fetch is
/// recorded in the I/O result code and ends the line and the input.
LinePiece ReadLinePiece(TextFile& file, std::uint8_t* to, std::size_t room);

/// Output: writes out the waiting bytes, then closes (a failed write leaves
/// the file open). Input: closes.
void CloseText(TextFile& file);

/// The extension of a file name, its '.' included, or "" when the name has
/// none. The search stops at '\', ':' and '/', so a dot in a directory part
/// is never taken for one.
std::string ExtensionOf(const std::string& name);
