// Named text files: reading lines ended by CR, CR LF or the end of the
// input, and writing lines through the 128-byte buffer of a text stream.
#pragma once

#include <string>

#include "common/console.h"

/// A text stream on a named file.
using TextFile = TextStream;

/// The end mark: byte 26 ends the input wherever it stands.
inline constexpr char EndMark = 26;

/// Opens the existing named file for reading; reads nothing.
/// Failure is left in the I/O result code.
void OpenTextInput(TextFile& file, const std::string& name);

/// Creates the named file for writing, replacing an existing one. A device of unknown type is closed again and refused with 105.
void CreateTextOutput(TextFile& file, const std::string& name);

/// True when no byte before the end mark remains. May fetch the next block;
/// consumes nothing.
bool AtEndOfText(TextFile& file);

/// The rest of the current line, without its line end; moves past the line
/// end. A line ends at CR, CR LF or the end mark; a lone LF stays inside it.
std::string ReadLine(TextFile& file);

/// Output: writes out the waiting bytes, then closes (a failed write leaves
/// the file open). Input: closes.
void CloseText(TextFile& file);

/// The extension of a file name, its '.' included, or "" when the name has
/// none. The search stops at '\', ':' and '/', so a dot in a directory part
/// is never taken for one.
std::string ExtensionOf(const std::string& name);
