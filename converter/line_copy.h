// The line loop of the converter: every line of the input, converted, with
// CR LF after it, through a fixed window, so that memory stays the same
// whatever the length of a line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/textfile.h"

/// The window tessmark reads lines into.
inline constexpr std::size_t LineWindowSize = 64 * 1024;

/// Until the end of `input`: reads a line, converts it (`TranscodePiece`),
/// writes it to `output` and writes CR LF after it, checking the I/O result
/// code after each step, as the converter's main block does.
///
/// A line of up to `capacity` bytes is read whole into `window` before any
/// of it is written, so that its reads and writes come in the order of
/// reading it with `ReadLine`. A longer line goes through the window a piece
/// at a time: each piece is converted and written before the next is read;
/// a first byte whose pair is undecided at the end of a piece is kept back
/// and put before the next one. `capacity` must be at least 2.
void ConvertLines(TextFile& input, TextFile& output, std::uint8_t* window, std::size_t capacity);
