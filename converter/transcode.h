// The EUC-JP to Shift_JIS byte conversion of one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// True when `byte` may be the first byte of a converted pair (0xA1-0xA8,
/// 0xB0-0xF4), so that the pair it starts is undecided until the byte after
/// it is known.
inline bool IsLeadByte(std::uint8_t byte) {
  return (byte >= 0xA1 && byte <= 0xA8) || (byte >= 0xB0 && byte <= 0xF4);
}

/// Converts a line, or a piece of one, from EUC-JP to Shift_JIS, byte for
/// byte, from `source` into `destination` (which may be `source` itself, but
/// may not overlap it otherwise).
///
/// The scan looks at each position in turn. A pair it accepts is replaced by
/// its two-byte Shift_JIS code and both bytes are consumed; any other byte
/// is copied unchanged and consumes only itself, so the byte after a refused
/// pair is examined again as a possible first byte. Accepted pairs, by first
/// byte (second bytes 0xA1-0xFE unless said otherwise):
///   - 0xA1 and 0xA2 (rows 1 and 2): every second byte from 0xA1 up, 0xFF
///     and the unassigned cells of row 2 included;
///   - 0xA3: 0xB0-0xB9, 0xC1-0xDA, 0xE1-0xFA (digits and Latin letters);
///   - 0xA4: 0xA1-0xF3; 0xA5: 0xA1-0xF6 (kana);
///   - 0xA6: 0xA1-0xB8, 0xC1-0xD8; 0xA7: 0xA1-0xC1, 0xD1-0xF1 (Greek,
///     Cyrillic); 0xA8: 0xA1-0xC0 (box drawing);
///   - 0xB0-0xF3 (kanji rows 16-83): every cell, the unassigned cells at
///     the end of row 47 included; 0xF4 (row 84): 0xA1-0xA4 only.
///
/// With `lineComplete` true the `length` bytes are the rest of the line:
/// all of them are converted and `length` is returned. With `lineComplete`
/// false more of the line follows; when the scan ends on a last byte that
/// `IsLeadByte` accepts, that byte is left unconverted and out of the count:
/// `length` - 1 is returned, so that the caller can carry it to the front of
/// the next piece (what `destination` holds at that position is then of no
/// meaning). Cutting a line anywhere and converting the pieces so gives the
/// bytes of converting it whole.
std::size_t TranscodePiece(const std::uint8_t* source, std::size_t length,
                           std::uint8_t* destination, bool lineComplete);

/// Kept for the tests as the plain form of converting a whole line: any
/// bytes, NUL included, any length; the result has the line's length.
std::string TranscodeLine(const std::string& line);
