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

/// Copies the run of bytes below 0x80 that starts at `in` (whose first
/// byte is one) to `out`, up to the next byte with its top bit set or to
/// the end of the piece, `left` bytes on; `before` bytes of the piece lie
/// before `in`. Returns the run's length.
///
/// The run goes a word at a time. A word is stored whole even when it holds
/// a byte with its top bit set: the scan writes that position again. Fewer
/// than 8 bytes before the end of the piece, the piece's last word is
/// stored whole when all its bytes are below 0x80: those of them before the
/// run are in `out` already as they are in `in` (a byte below 0x80 never
/// belongs to a pair, and in place they are the same bytes).
inline std::size_t CopyLowRun(const std::uint8_t* in, std::uint8_t* out, std::size_t left,
                              std::size_t before) {
  std::size_t k = 0;
  if (left >= 8) {
    for (const std::size_t lastWord = left - 8; k <= lastWord; k += 8) {
      std::uint64_t word;
      std::memcpy(&word, in + k, 8);
      std::memcpy(out + k, &word, 8);
      const std::uint64_t high = word & HighBits;
      if (high != 0) return k + FirstHighByte(high);
    }
  }
  if (k < left && before + left >= 8) {
    std::uint64_t word;
    std::memcpy(&word, in + left - 8, 8);
    if ((word & HighBits) == 0) {
      std::memcpy(out + left - 8, &word, 8);
      return left;
    }
  }
  for (; k < left && in[k] < 0x80; ++k) out[k] = in[k];
  return k;
}

/// True when `value` lies in [lo, hi]; one comparison.
constexpr bool InRange(std::uint8_t value, std::uint8_t lo, std::uint8_t hi) {
  return static_cast<std::uint8_t>(value - lo) <= static_cast<std::uint8_t>(hi - lo);
}

/// The trail byte of an odd row: cells 1-63 (0xA1-0xDF) become 0x40-0x7E,
/// the cells from 64 up skip 0x7F and become 0x80 up.
constexpr std::uint8_t OddRowTrail(std::uint8_t c2) {
  return static_cast<std::uint8_t>(c2 - 0x60 - (c2 < 0xE0 ? 1 : 0));
}

/// The trail byte of an even row: cells 1-94 become 0x9F-0xFC.
constexpr std::uint8_t EvenRowTrail(std::uint8_t c2) {
  return static_cast<std::uint8_t>(c2 - 0x02);
}

/// The lead byte of a kanji row. An odd row and the even row after it
/// share one: row pair (row + 1) / 2, counted from 0x80, and from row 63 on
/// from 0xC0, past the single-byte kana area. With row = c1 - 0xA0 that is
/// (c1 + 0x61) / 2, or (c1 + 0xE1) / 2.
constexpr std::uint8_t KanjiLead(std::uint8_t c1) {
  return static_cast<std::uint8_t>((c1 + (c1 <= 0xDE ? 0x61 : 0xE1)) / 2);
}

/// The trail byte of a kanji row, odd or even, computed without a branch:
/// the parity of a kanji row is as good as random, and a branch on it
/// would be mispredicted half the time. An odd row's trail lies 0x5F below
/// an even row's for cells 1-63, 0x5E below from cell 64 on.
constexpr std::uint8_t KanjiTrail(std::uint8_t c1, std::uint8_t c2) {
  const unsigned oddDrop = (c1 & 1u) * (c2 < 0xE0 ? 0x5Fu : 0x5Eu);
  return static_cast<std::uint8_t>(EvenRowTrail(c2) - oddDrop);
}

/// Writes the two bytes of an accepted pair's code to `out`; returns true,
/// the answer of `ConvertPair` for it.
inline bool Put(std::uint8_t* out, std::uint8_t lead, std::uint8_t trail) {
  out[0] = lead;
  out[1] = trail;
  return true;
}

/// When the pair (c1, c2) is accepted, writes its two Shift_JIS bytes to
/// `out` and returns true; otherwise writes nothing and returns false.
/// The rows are tested in the order Japanese text has them most: kanji,
/// hiragana, katakana, then the symbols and the rest.
inline bool ConvertPair(std::uint8_t c1, std::uint8_t c2, std::uint8_t* out) {
  if (c1 >= 0xB0) {
    // Kanji rows 16-83: every cell, the empty ones at the end of row 47
    // included. Row 84: cells 1-4.
    if (c1 <= 0xF3 && InRange(c2, 0xA1, 0xFE)) {
      return Put(out, KanjiLead(c1), KanjiTrail(c1, c2));
    }
    if (c1 == 0xF4 && InRange(c2, 0xA1, 0xA4)) return Put(out, 0xEA, EvenRowTrail(c2));
    return false;
  }
  // Rows 4 and 5: hiragana, katakana.
  if (c1 == 0xA4 && InRange(c2, 0xA1, 0xF3)) return Put(out, 0x82, EvenRowTrail(c2));
  if (c1 == 0xA5 && InRange(c2, 0xA1, 0xF6)) return Put(out, 0x83, OddRowTrail(c2));
  // Rows 1 and 2, symbols: every cell, and the second byte 0xFF too.
  if (c1 == 0xA1 && c2 >= 0xA1) return Put(out, 0x81, OddRowTrail(c2));
  if (c1 == 0xA2 && c2 >= 0xA1) return Put(out, 0x81, EvenRowTrail(c2));
  // Row 3: digits, Latin capitals, Latin small letters.
  if (c1 == 0xA3 &&
      (InRange(c2, 0xB0, 0xB9) || InRange(c2, 0xC1, 0xDA) || InRange(c2, 0xE1, 0xFA))) {
    return Put(out, 0x82, OddRowTrail(c2));
  }
  // Row 6: Greek capitals and small letters.
  if (c1 == 0xA6 && (InRange(c2, 0xA1, 0xB8) || InRange(c2, 0xC1, 0xD8))) {
    return Put(out, 0x83, EvenRowTrail(c2));
  }
  // Row 7: Cyrillic capitals and small letters.
  if (c1 == 0xA7 && (InRange(c2, 0xA1, 0xC1) || InRange(c2, 0xD1, 0xF1))) {
    return Put(out, 0x84, OddRowTrail(c2));
  }
  // Row 8: box drawing.
  if (c1 == 0xA8 && InRange(c2, 0xA1, 0xC0)) return Put(out, 0x84, EvenRowTrail(c2));
  return false;
}

}  // namespace

std::size_t TranscodePiece(const std::uint8_t* source, std::size_t length,
                           std::uint8_t* destination, bool lineComplete) {
  const std::uint8_t* in = source;
  std::uint8_t* out = destination;
  const std::uint8_t* const end = source + length;
  // Every byte but the last may start a pair; the last is decided after
  // the scan.
  const std::uint8_t* const last = length == 0 ? end : end - 1;
  while (in < last) {
    const std::uint8_t c1 = in[0];
    if (c1 < 0x80) {
      const std::size_t run = CopyLowRun(in, out, static_cast<std::size_t>(end - in),
                                         static_cast<std::size_t>(in - source));
      in += run;
      out += run;
      continue;
    }
    if (ConvertPair(c1, in[1], out)) {
      in += 2;
      out += 2;
    } else {
      // No resynchronisation: the next byte may itself start a pair.
      *out++ = c1;
      ++in;
    }
  }
  if (in == last && length != 0) {
    // The last byte: a possible first byte waits for the next piece.
    const std::uint8_t c1 = *in;
    if (!lineComplete && IsLeadByte(c1)) return length - 1;
    *out = c1;
  }
  return length;
}

std::string TranscodeLine(const std::string& line) {
  std::string out(line.size(), '\0');
  TranscodePiece(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(),
                 reinterpret_cast<std::uint8_t*>(out.data()), true);
  return out;
}
