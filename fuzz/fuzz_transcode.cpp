// Fuzz target for TranscodeLine (EUC-JP to Shift_JIS, byte for byte).
//
// Properties:
//  - the result has the input's length;
//  - every input byte from 0x00 to 0xA0 is unchanged at its position;
//  - cutting the input after any byte below 0x80 and converting the two
//    pieces gives the bytes of converting the whole;
//  - the result equals a scan model written here from the JIS row and cell
//    numbers: which cells each row holds, and the textbook arithmetic from
//    row and cell to the two Shift_JIS bytes. Every changed byte is also
//    checked on its own to lie in a pair that this arithmetic explains.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "converter/transcode.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

struct CellRange {
  int Row;
  int First;
  int Last;
};

/// The cells that are converted, by JIS row. Cell 95 stands for the second
/// byte 0xFF, which rows 1 and 2 accept as well.
constexpr CellRange ConvertedCells[] = {
    {1, 1, 95},  {2, 1, 95},                                  // symbols
    {3, 16, 25}, {3, 33, 58}, {3, 65, 90},                    // digits, Latin
    {4, 1, 83},                                               // hiragana
    {5, 1, 86},                                               // katakana
    {6, 1, 24},  {6, 33, 56},                                 // Greek
    {7, 1, 33},  {7, 49, 81},                                 // Cyrillic
    {8, 1, 32},                                               // box drawing
    {84, 1, 4},                                               // last kanji row
};

bool IsConverted(int row, int cell) {
  if (row >= 16 && row <= 83) return cell >= 1 && cell <= 94;
  for (const CellRange& range : ConvertedCells) {
    if (range.Row == row && cell >= range.First && cell <= range.Last) return true;
  }
  return false;
}

/// Row and cell of an EUC-JP pair; 0 or negative when a byte lies below
/// 0xA1.
int RowOf(unsigned char first) { return first - 0xA0; }
int CellOf(unsigned char second) { return second - 0xA0; }

/// Shift_JIS bytes for a JIS row and cell: two rows share a lead byte,
/// counted from 0x81 for rows 1-62 and from 0xE0 for rows 63 on; an odd
/// row's cells start at 0x40 and skip 0x7F, an even row's start at 0x9F.
void ShiftJisOf(int row, int cell, unsigned char& lead, unsigned char& trail) {
  lead = static_cast<unsigned char>((row - 1) / 2 + (row <= 62 ? 0x81 : 0xC1));
  if (row % 2 == 1) {
    trail = static_cast<unsigned char>(cell + (cell <= 63 ? 0x3F : 0x40));
  } else {
    trail = static_cast<unsigned char>(cell + 0x9E);
  }
}

/// The scan: at each position, a convertible pair is replaced and both its
/// bytes are consumed; anything else consumes one byte.
std::string ModelTranscode(const std::string& line) {
  std::string result = line;
  std::size_t p = 0;
  while (p < line.size()) {
    if (p + 1 < line.size()) {
      int row = RowOf(static_cast<unsigned char>(line[p]));
      int cell = CellOf(static_cast<unsigned char>(line[p + 1]));
      if (IsConverted(row, cell)) {
        unsigned char lead = 0;
        unsigned char trail = 0;
        ShiftJisOf(row, cell, lead, trail);
        result[p] = static_cast<char>(lead);
        result[p + 1] = static_cast<char>(trail);
        p += 2;
        continue;
      }
    }
    p += 1;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string result = TranscodeLine(line);

  Check(result.size() == line.size(), "the result has the input's length");

  for (std::size_t i = 0; i < line.size(); ++i) {
    if (static_cast<unsigned char>(line[i]) <= 0xA0) {
      Check(result[i] == line[i], "a byte from 0x00 to 0xA0 is never changed");
    }
  }

  // Every changed byte belongs to a pair, starting at it or just before it,
  // that is a convertible EUC-JP character and now holds its Shift_JIS
  // code. (The lead byte of rows 64 and 65 keeps its value, so a pair may
  // show only its second byte changed.)
  for (std::size_t q = 0; q < line.size(); ++q) {
    if (result[q] == line[q]) continue;
    bool explained = false;
    for (std::size_t p = q == 0 ? 0 : q - 1; p <= q && p + 1 < line.size(); ++p) {
      const int row = RowOf(static_cast<unsigned char>(line[p]));
      const int cell = CellOf(static_cast<unsigned char>(line[p + 1]));
      if (!IsConverted(row, cell)) continue;
      unsigned char lead = 0;
      unsigned char trail = 0;
      ShiftJisOf(row, cell, lead, trail);
      if (static_cast<unsigned char>(result[p]) == lead &&
          static_cast<unsigned char>(result[p + 1]) == trail) {
        explained = true;
      }
    }
    Check(explained, "a changed byte lies in a converted pair with the code of its row and cell");
  }

  Check(result == ModelTranscode(line), "the result equals the scan model");

  // Cuts after bytes below 0x80: every such cut for short lines, a spread
  // of them for long ones, so that one input stays cheap.
  const std::size_t step = line.size() <= 512 ? 1 : line.size() / 256;
  for (std::size_t cut = 1; cut <= line.size(); cut += step) {
    if (static_cast<unsigned char>(line[cut - 1]) >= 0x80) continue;
    const std::string joined = TranscodeLine(line.substr(0, cut)) + TranscodeLine(line.substr(cut));
    Check(joined == result, "cutting after a byte below 0x80 changes nothing");
  }
  return 0;
}
