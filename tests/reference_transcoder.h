// A slow, plainly written model of the EUC-JP to Shift_JIS line conversion,
// for the unit tests, the real-data tests and the fuzz target. It works from
// JIS row and cell numbers alone: which cells each row holds, and the
// textbook arithmetic from row and cell to the two Shift_JIS bytes. It
// shares nothing with the converter's code. Header-only, so that the fuzz
// target can use it without the test libraries.
#pragma once

#include <cstddef>
#include <string>

namespace reference {

/// A pair (c1, c2) is JIS X 0208 row c1 - 0xA0, cell c2 - 0xA0; a byte below
/// 0xA1 gives 0 or less.
inline int RowOf(int c1) { return c1 - 0xA0; }
inline int CellOf(int c2) { return c2 - 0xA0; }

struct CellRange {
  int Row;
  int First;
  int Last;
};

/// The cells that are converted, by row, besides the full kanji rows 16-83.
/// Cell 95 stands for the second byte 0xFF, which rows 1 and 2 accept too.
// clang-format off
inline constexpr CellRange ConvertedCells[] = {
    {1, 1, 95},  {2, 1, 95},                                  // symbols, every cell
    {3, 16, 25}, {3, 33, 58}, {3, 65, 90},                    // digits, Latin letters
    {4, 1, 83},                                               // hiragana
    {5, 1, 86},                                               // katakana
    {6, 1, 24},  {6, 33, 56},                                 // Greek
    {7, 1, 33},  {7, 49, 81},                                 // Cyrillic
    {8, 1, 32},                                               // box drawing
    {84, 1, 4},                                               // last kanji row
};
// clang-format on

/// Whether the byte pair (c1, c2) is a converted character.
inline bool Converts(int c1, int c2) {
  const int row = RowOf(c1);
  const int cell = CellOf(c2);
  if (row >= 16 && row <= 83) return cell >= 1 && cell <= 94;
  for (const CellRange& range : ConvertedCells) {
    if (range.Row == row && cell >= range.First && cell <= range.Last) return true;
  }
  return false;
}

/// The Shift_JIS bytes of a converted pair: two rows share a lead byte,
/// counted from 0x81 for rows 1-62 and from 0xE0 for rows 63 on; an odd
/// row's cells start at 0x40 and skip 0x7F, an even row's start at 0x9F.
inline std::string PairCode(int c1, int c2) {
  const int row = RowOf(c1);
  const int cell = CellOf(c2);
  const int lead = (row - 1) / 2 + (row <= 62 ? 0x81 : 0xC1);
  const int trail = row % 2 == 1 ? cell + (cell <= 63 ? 0x3F : 0x40) : cell + 0x9E;
  return {static_cast<char>(lead), static_cast<char>(trail)};
}

/// The scan: at each position, a converted pair is replaced and both its
/// bytes are consumed; anything else is copied and consumes one byte, so
/// that the next byte may start a pair.
inline std::string Transcode(const std::string& line) {
  std::string result = line;
  std::size_t p = 0;
  while (p < line.size()) {
    if (p + 1 < line.size()) {
      const int c1 = static_cast<unsigned char>(line[p]);
      const int c2 = static_cast<unsigned char>(line[p + 1]);
      if (Converts(c1, c2)) {
        result.replace(p, 2, PairCode(c1, c2));
        p += 2;
        continue;
      }
    }
    p += 1;
  }
  return result;
}

}  // namespace reference
