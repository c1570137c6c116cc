#include "converter/transcode.h"

#include <string>

namespace {

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) {
    return c >= lo && c <= hi;
}

// Second Shift_JIS byte for a character in an odd JIS row: cells 1-63
// (0xA1-0xDF) map to 0x40-0x7E, cells from 64 up skip 0x7F.
unsigned char OddRowTrail(unsigned char c2) {
    return static_cast<unsigned char>(c2 <= 0xDF ? c2 - 0x61 : c2 - 0x60);
}

// Second Shift_JIS byte for a character in an even JIS row.
unsigned char EvenRowTrail(unsigned char c2) {
    return static_cast<unsigned char>(c2 - 0x02);
}

// Rows 1-8 (0xA1-0xA8) are only partly populated; accept exactly the cells
// that hold characters. Rows 1 and 2 also accept 0xFF, which the arithmetic
// maps onto a valid trail byte. Returns the Shift_JIS lead byte (two rows
// share one), or 0 when the pair is not accepted.
unsigned char SymbolRowLead(unsigned char c1, unsigned char c2) {
    switch (c1) {
        case 0xA1:
        case 0xA2:
            return c2 >= 0xA1 ? 0x81 : 0;
        case 0xA3:
            return InRange(c2, 0xB0, 0xB9) || InRange(c2, 0xC1, 0xDA) ||
                           InRange(c2, 0xE1, 0xFA)
                       ? 0x82
                       : 0;
        case 0xA4:
            return InRange(c2, 0xA1, 0xF3) ? 0x82 : 0;
        case 0xA5:
            return InRange(c2, 0xA1, 0xF6) ? 0x83 : 0;
        case 0xA6:
            return InRange(c2, 0xA1, 0xB8) || InRange(c2, 0xC1, 0xD8) ? 0x83
                                                                       : 0;
        case 0xA7:
            return InRange(c2, 0xA1, 0xC1) || InRange(c2, 0xD1, 0xF1) ? 0x84
                                                                       : 0;
        default:  // 0xA8
            return InRange(c2, 0xA1, 0xC0) ? 0x84 : 0;
    }
}

// Kanji rows 16-83 (0xB0-0xF3) are fully populated; row 84 (0xF4) holds
// only four cells. Two rows share one Shift_JIS lead byte: rows 16-62 map
// from 0x88 up, rows 63-84 jump over the single-byte kana area to 0xE0.
// Each subtraction pairs an odd row with an odd base (even with even), so
// the halving is exact. Returns 0 when the pair is not accepted.
unsigned char KanjiLead(unsigned char c1, unsigned char c2) {
    if (InRange(c1, 0xB0, 0xF3)) {
        if (!InRange(c2, 0xA1, 0xFE)) return 0;
    } else if (c1 != 0xF4 || !InRange(c2, 0xA1, 0xA4)) {
        return 0;
    }
    const bool odd = (c1 & 1) != 0;
    if (c1 <= 0xDE) {
        return static_cast<unsigned char>(odd ? (c1 - 0xB1) / 2 + 0x89
                                              : (c1 - 0xB0) / 2 + 0x88);
    }
    return static_cast<unsigned char>(odd ? (c1 - 0xDF) / 2 + 0xE0
                                          : (c1 - 0xE0) / 2 + 0xE0);
}

}  // namespace

std::string TranscodeLine(const std::string& line) {
    std::string out = line;
    const std::size_t n = out.size();
    std::size_t p = 0;
    while (p < n) {
        const auto c1 = static_cast<unsigned char>(out[p]);
        if (c1 <= 0x7E || p + 1 == n) {
            ++p;
            continue;
        }
        const auto c2 = static_cast<unsigned char>(out[p + 1]);
        const unsigned char s1 = InRange(c1, 0xA1, 0xA8)
                                     ? SymbolRowLead(c1, c2)
                                     : KanjiLead(c1, c2);
        if (s1 == 0) {
            // No resynchronisation: the next byte may itself start a pair.
            ++p;
            continue;
        }
        out[p] = static_cast<char>(s1);
        out[p + 1] = static_cast<char>((c1 & 1) != 0 ? OddRowTrail(c2)
                                                     : EvenRowTrail(c2));
        p += 2;
    }
    return out;
}
