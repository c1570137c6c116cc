#include "converter/transcode.h"

#include <bit>
#include <cstring>

namespace {

/// The top bit of each byte of a 64-bit word.
constexpr std::uint64_t HighBits = 0x8080808080808080u;

/// Index, in memory order, of the first byte of a word loaded from memory
/// whose top bit is set; `high` holds only top bits and is not 0.
std::size_t FirstHighByte(std::uint64_t high) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(high)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(high)) / 8;
  }
}

/// True when `value` lies in [lo, hi]; one comparison.
constexpr bool InRange(std::uint8_t value, std::uint8_t lo, std::uint8_t hi) {
  return static_cast<std::uint8_t>(value - lo) <= static_cast<std::uint8_t>(hi - lo);
}

/// Shift_JIS lead byte of an accepted pair. Two JIS rows share a lead byte:
/// rows 1-62 (0xA1-0xDE) count from 0x81, rows 63-84 jump over the
/// single-byte kana area and count from 0xE0.
constexpr std::uint8_t LeadOf(std::uint8_t c1) {
  return static_cast<std::uint8_t>(((c1 - 0xA1) >> 1) + (c1 <= 0xDE ? 0x81 : 0xC1));
}

/// Shift_JIS trail byte of an accepted pair: an odd row's cells 1-63
/// (0xA1-0xDF) map to 0x40-0x7E and the cells from 64 up skip 0x7F; an even
/// row's cells map to 0x9F up. Rows 1 and 2 map the second byte 0xFF onto
/// 0x9F and 0xFD.
constexpr std::uint8_t TrailOf(std::uint8_t c1, std::uint8_t c2) {
  if ((c1 & 1) == 0) return static_cast<std::uint8_t>(c2 - 0x02);
  return static_cast<std::uint8_t>(c2 - 0x61 + (c2 > 0xDF ? 1 : 0));
}

/// What a first byte allows: the second bytes from `Low` to `High` (none
/// when `Low` > `High`), and the Shift_JIS lead byte. Rows 3, 6 and 7 have
/// gaps: their entry holds the first range, `Gapped` sends the rest of them
/// to `GappedRowAccepts`.
struct FirstByte {
  std::uint8_t Low;
  std::uint8_t High;
  std::uint8_t Lead;
  bool Gapped;
};

struct Tables {
  FirstByte First[256];
  /// Trail bytes by row parity (c1 & 1) and second byte.
  std::uint8_t Trail[2][256];
};

constexpr Tables MakeTables() {
  Tables tables{};
  for (int c1 = 0; c1 < 256; ++c1) {
    FirstByte entry{0xFF, 0x00, 0, false};
    const auto byte = static_cast<std::uint8_t>(c1);
    if (c1 >= 0xB0 && c1 <= 0xF3) entry = {0xA1, 0xFE, LeadOf(byte), false};
    switch (c1) {
      case 0xA1:
      case 0xA2: entry = {0xA1, 0xFF, LeadOf(byte), false}; break;
      case 0xA3: entry = {0xB0, 0xB9, LeadOf(byte), true}; break;
      case 0xA4: entry = {0xA1, 0xF3, LeadOf(byte), false}; break;
      case 0xA5: entry = {0xA1, 0xF6, LeadOf(byte), false}; break;
      case 0xA6: entry = {0xA1, 0xB8, LeadOf(byte), true}; break;
      case 0xA7: entry = {0xA1, 0xC1, LeadOf(byte), true}; break;
      case 0xA8: entry = {0xA1, 0xC0, LeadOf(byte), false}; break;
      case 0xF4: entry = {0xA1, 0xA4, LeadOf(byte), false}; break;
      default: break;
    }
    tables.First[c1] = entry;
  }
  for (int c2 = 0; c2 < 256; ++c2) {
    tables.Trail[0][c2] = TrailOf(0xA2, static_cast<std::uint8_t>(c2));
    tables.Trail[1][c2] = TrailOf(0xA1, static_cast<std::uint8_t>(c2));
  }
  return tables;
}

constexpr Tables Table = MakeTables();

/// The further ranges of the rows with gaps, beyond the one in the table.
bool GappedRowAccepts(std::uint8_t c1, std::uint8_t c2) {
  switch (c1) {
    case 0xA3: return InRange(c2, 0xC1, 0xDA) || InRange(c2, 0xE1, 0xFA);
    case 0xA6: return InRange(c2, 0xC1, 0xD8);
    default: return InRange(c2, 0xD1, 0xF1);  // 0xA7
  }
}

}  // namespace

std::size_t TranscodePiece(const std::uint8_t* source, std::size_t length,
                           std::uint8_t* destination, bool lineEnds) {
  std::size_t p = 0;
  while (p < length) {
    const std::uint8_t c1 = source[p];
    if (c1 < 0x80) {
      // Text below 0x80 is copied a word at a time up to the next byte with
      // its top bit set. The whole word is stored even when it holds such a
      // byte: the scan writes that position again.
      destination[p++] = c1;
      while (length - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, source + p, 8);
        std::memcpy(destination + p, &word, 8);
        const std::uint64_t high = word & HighBits;
        if (high != 0) {
          p += FirstHighByte(high);
          break;
        }
        p += 8;
      }
      // Fewer than 8 bytes are left, or the next byte has its top bit set.
      while (p < length && source[p] < 0x80) {
        destination[p] = source[p];
        ++p;
      }
      continue;
    }
    if (p + 1 == length) {
      // The last byte: a possible first byte waits for the next piece.
      if (!lineEnds && IsLeadByte(c1)) return p;
      destination[p] = c1;
      return length;
    }
    const std::uint8_t c2 = source[p + 1];
    const FirstByte& first = Table.First[c1];
    if ((c2 >= first.Low && c2 <= first.High) || (first.Gapped && GappedRowAccepts(c1, c2))) {
      destination[p] = first.Lead;
      destination[p + 1] = Table.Trail[c1 & 1][c2];
      p += 2;
    } else {
      // No resynchronisation: the next byte may itself start a pair.
      destination[p++] = c1;
    }
  }
  return length;
}

std::string TranscodeLine(const std::string& line) {
  std::string out(line.size(), '\0');
  TranscodePiece(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(),
                 reinterpret_cast<std::uint8_t*>(out.data()), true);
  return out;
}
