// The converter's line loop: every line of the input, converted, with CR LF
// after it. A line passes through a fixed window, so memory stays the same
// whatever the length of a line. The loop owns the window and the one byte
// carried from a piece of a long line to the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/textfile.h"

/// The window tessmark reads lines into.
inline constexpr std::size_t LineWindowSize = 64 * 1024;

/// Until the end of `input`: reads a line, converts it (`TranscodePiece`),
/// writes it to `output` and writes CR LF after it, checking the I/O result
/// code after each step, as the converter's main block does. Uses a window
/// of `LineWindowSize` bytes of its own.
void ConvertLines(TextFile& input, TextFile& output);

/// The same through `window`, of `capacity` bytes (at least 2).
///
/// A line of up to `capacity` bytes is read whole, its line end included,
/// before any of it is written, so that its reads and writes come in the
/// order of reading it with `ReadLine`. A longer line goes through the
/// window a piece at a time: each piece is converted and written before the
/// next is read. A piece that ends on the first byte of a pair whose second
/// byte is not read yet leaves that byte unconverted; it is carried to the
/// start of the window and begins the next piece.
void ConvertLines(TextFile& input, TextFile& output, std::uint8_t* window, std::size_t capacity);
