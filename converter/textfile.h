// Named text files: reading lines ended by CR, CR LF or the end of the
// input, and writing lines through the 128-byte buffer of a text stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/console.h"

/// A text stream on a named file.
using TextFile = TextStream;

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
  if (file.State == StreamState::Reading && file.Position < file.End) {
    return file.Buffer[file.Position] == static_cast<std::uint8_t>(EndMark);
  }
  return AtEndOfTextFetching(file);
}

/// The rest of the current line, without its line end; moves past the line
/// end. A line ends at CR, CR LF or the end mark; a lone LF stays inside it.
std::string ReadLine(TextFile& file);

/// Copies the next bytes of the current line into `window`, at most
/// `capacity` of them, and returns how many it copied. Sets `lineEnded`
/// when the line's end has been reached: then the line end (CR, or CR LF)
/// has been consumed, or the end mark reached, which stays. Blocks are
/// fetched only when a byte is needed, in the order `ReadLine` fetches them:
/// when the window fills, the byte after it is still looked at, so that a
/// line of exactly `capacity` bytes comes whole with `lineEnded` set.
/// `capacity` must be at least 1. Allocates nothing. Fails like `ReadLine`,
/// with `lineEnded` set.
std::size_t ReadLinePiece(TextFile& file, std::uint8_t* window, std::size_t capacity,
                          bool& lineEnded);

/// Output: writes out the waiting bytes, then closes (a failed write leaves
/// the file open). Input: closes.
void CloseText(TextFile& file);

/// The extension of a file name, its '.' included, or "" when the name has
/// none. The search stops at '\', ':' and '/', so a dot in a directory part
/// is never taken for one.
std::string ExtensionOf(const std::string& name);
