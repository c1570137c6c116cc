#include "converter/transcode.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Parses "41 A4 A2" into the bytes 0x41 0xA4 0xA2.
std::string Bytes(const char* hex) {
    std::string out;
    for (const char* s = hex; *s != '\0';) {
        if (*s == ' ') { ++s; continue; }
        const int byte = std::stoi(std::string(s, 2), nullptr, 16);
        out.push_back(static_cast<char>(byte));
        s += 2;
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (char c : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X",
                      static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

::testing::AssertionResult Transcodes(const std::string& in,
                                      const std::string& want) {
    const std::string got = TranscodeLine(in);
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "input [" << Hex(in) << "]\n  expected [" << Hex(want)
           << "]\n  actual   [" << Hex(got) << "]";
}

struct Case {
    const char* in;
    const char* want;
};

TEST(TranscodeLine, Examples) {
    const std::vector<Case> cases = {
        // Empty line, ASCII around a pair, control bytes and NUL kept.
        {"", ""},
        {"41 A4 A2 42", "41 82 A0 42"},
        {"A4 A2 0A 09", "82 A0 0A 09"},
        {"00 A4 A2 00", "00 82 A0 00"},
        // A lead byte in the last position is left alone.
        {"41 A4", "41 A4"},
        {"A4 A4 A4", "82 A2 A4"},
        {"A4 A4 A4 A4", "82 A2 82 A2"},
        // Row 1 (odd rule, 0xFF accepted) and row 2 (even rule).
        {"A1 A1", "81 40"}, {"A1 DF", "81 7E"}, {"A1 E0", "81 80"},
        {"A1 FE", "81 9E"}, {"A1 FF", "81 9F"},
        {"A2 A1", "81 9F"}, {"A2 AF", "81 AD"}, {"A2 FF", "81 FD"},
        // Row 3: digits and Latin letters only.
        {"A3 B0", "82 4F"}, {"A3 C1", "82 60"}, {"A3 E1", "82 81"},
        {"A3 FA", "82 9A"}, {"A3 AF", "A3 AF"}, {"A3 FB", "A3 FB"},
        // Rows 4-8: upper ends of each populated block.
        {"A4 F3", "82 F1"}, {"A4 F4", "A4 F4"},
        {"A5 F6", "83 96"}, {"A5 F7", "A5 F7"},
        {"A6 B8", "83 B6"}, {"A6 B9", "A6 B9"}, {"A6 C1", "83 BF"},
        {"A7 C1", "84 60"}, {"A7 C2", "A7 C2"}, {"A7 D1", "84 70"},
        {"A8 C0", "84 BE"}, {"A8 C1", "A8 C1"},
        // Kanji rows, including the jump to 0xE0 and the short last row.
        {"B0 A1", "88 9F"}, {"B0 FE", "88 FC"}, {"B0 FF", "B0 FF"},
        {"B1 DF", "89 7E"}, {"B1 E0", "89 80"}, {"CF D4", "98 73"},
        {"DE A1", "9F 9F"}, {"DF A1", "E0 40"}, {"E0 A1", "E0 9F"},
        {"F3 FE", "EA 9E"}, {"F4 A1", "EA 9F"}, {"F4 A4", "EA A2"},
        {"F4 A5", "F4 A5"}, {"F5 A1", "F5 A1"},
        // High bytes outside every row are not lead bytes.
        {"7F A1", "7F A1"}, {"80 A1", "80 A1"}, {"A0 A1", "A0 A1"},
        // Single-shift bytes are not special: what follows is scanned afresh.
        {"8E B1 8E B2", "8E B1 8E B2"},
        {"8E B1 A4 A2", "8E 89 43 A2"},
        {"8F B0 A1", "8F 88 9F"},
        // A rejected pair advances by one byte only.
        {"A9 A1 A4 A2", "A9 81 43 A2"},
        {"A9 A4 A2", "A9 82 A0"},
        {"F4 A5 A4 A2", "F4 83 43 A2"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Transcodes(Bytes(c.in), Bytes(c.want)));
    }
}

// Independent description of the accepted characters by JIS row and cell.
bool ModelAccepts(int c1, int c2) {
    const int row = c1 - 0xA0;
    const int cell = c2 - 0xA0;
    auto in = [cell](int lo, int hi) { return cell >= lo && cell <= hi; };
    switch (row) {
        case 1: case 2: return in(1, 95);
        case 3: return in(16, 25) || in(33, 58) || in(65, 90);
        case 4: return in(1, 83);
        case 5: return in(1, 86);
        case 6: return in(1, 24) || in(33, 56);
        case 7: return in(1, 33) || in(49, 81);
        case 8: return in(1, 32);
        case 84: return in(1, 4);
        default: return row >= 16 && row <= 83 && in(1, 94);
    }
}

// Textbook JIS row/cell to Shift_JIS arithmetic.
std::string ModelConvert(int c1, int c2) {
    const int row = c1 - 0xA0;
    const int cell = c2 - 0xA0;
    const int s1 = (row + 1) / 2 + (row <= 62 ? 0x80 : 0xC0);
    const int s2 = row % 2 == 1 ? cell + (cell <= 63 ? 0x3F : 0x40)
                                : cell + 0x9E;
    return {static_cast<char>(s1), static_cast<char>(s2)};
}

// Converts one character with the C library; empty when it cannot.
std::string IconvConvert(iconv_t cd, const std::string& in) {
    std::string src = in;
    char out[8];
    char* inp = src.data();
    char* outp = out;
    std::size_t inleft = src.size();
    std::size_t outleft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const std::size_t rc = iconv(cd, &inp, &inleft, &outp, &outleft);
    if (rc == static_cast<std::size_t>(-1)) return {};
    return std::string(out, outp);
}

TEST(TranscodeLine, AllTwoBytePairs) {
    iconv_t cd = iconv_open("SHIFT_JIS", "EUC-JP");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "iconv lacks EUC-JP";
    int accepted = 0;
    int compared = 0;
    for (int c1 = 0; c1 < 256; ++c1) {
        for (int c2 = 0; c2 < 256; ++c2) {
            const std::string in = {static_cast<char>(c1),
                                    static_cast<char>(c2)};
            const bool ok = ModelAccepts(c1, c2);
            const std::string want = ok ? ModelConvert(c1, c2) : in;
            ASSERT_TRUE(Transcodes(in, want));
            if (!ok) continue;
            ++accepted;
            if (c2 == 0xFF) continue;  // not a valid EUC-JP trail byte
            // Unassigned cells (most of row 2, the end of row 47) are
            // accepted here but refused by iconv; they are not compared.
            const std::string lib = IconvConvert(cd, in);
            if (lib.size() != 2) continue;
            ++compared;
            EXPECT_TRUE(Transcodes(in, lib));
        }
        // Rejected pairs resume one byte later, accepted ones two.
        const std::string in = {static_cast<char>(c1), '\xA4', '\xA2'};
        if (c1 > 0x7E && ModelAccepts(c1, 0xA4)) {
            EXPECT_TRUE(Transcodes(in, ModelConvert(c1, 0xA4) + "\xA2"));
        } else {
            EXPECT_TRUE(Transcodes(in, in.substr(0, 1) + "\x82\xA0"));
        }
    }
    iconv_close(cd);
    EXPECT_EQ(accepted, 6963);
    EXPECT_GT(compared, 6800);
}

TEST(TranscodeLine, LongLines) {
    std::string in = "x";
    std::string want = "x";
    for (int i = 0; i < 32767; ++i) {
        in += "\xA4\xA2";
        want += "\x82\xA0";
    }
    ASSERT_EQ(in.size(), 65535u);
    std::string got = TranscodeLine(in);
    EXPECT_EQ(got.size(), in.size());
    EXPECT_TRUE(got == want) << "65,535-byte line not converted whole";

    in.clear();
    want.clear();
    for (int i = 0; i < 35000; ++i) {
        in += "\xA4\xA2";
        want += "\x82\xA0";
    }
    got = TranscodeLine(in);
    EXPECT_EQ(got.size(), 70000u);
    EXPECT_TRUE(got == want) << "70,000-byte line not converted whole";
}

}  // namespace
