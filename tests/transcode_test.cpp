#include "converter/transcode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/reference_transcoder.h"
#include "tests/iconv_support.h"
#include "tests/test_support.h"

namespace {

// Parses "41 A4 A2" into the bytes 0x41 0xA4 0xA2.
std::string Bytes(const char* hex) {
  std::string out;
  for (const char* s = hex; *s != '\0';) {
    if (*s == ' ') {
      ++s;
      continue;
    }
    const int byte = std::stoi(std::string(s, 2), nullptr, 16);
    out.push_back(static_cast<char>(byte));
    s += 2;
  }
  return out;
}

::testing::AssertionResult Transcodes(const std::string& in, const std::string& want) {
  const std::string got = TranscodeLine(in);
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "input [" << Hex(in) << "]\n  expected [" << Hex(want)
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
      {"A1 A1", "81 40"},
      {"A1 DF", "81 7E"},
      {"A1 E0", "81 80"},
      {"A1 FE", "81 9E"},
      {"A1 FF", "81 9F"},
      {"A2 A1", "81 9F"},
      {"A2 AF", "81 AD"},
      {"A2 FF", "81 FD"},
      // Row 3: digits and Latin letters only.
      {"A3 B0", "82 4F"},
      {"A3 C1", "82 60"},
      {"A3 E1", "82 81"},
      {"A3 FA", "82 9A"},
      {"A3 AF", "A3 AF"},
      {"A3 FB", "A3 FB"},
      // Rows 4-8: upper ends of each populated block.
      {"A4 F3", "82 F1"},
      {"A4 F4", "A4 F4"},
      {"A5 F6", "83 96"},
      {"A5 F7", "A5 F7"},
      {"A6 B8", "83 B6"},
      {"A6 B9", "A6 B9"},
      {"A6 C1", "83 BF"},
      {"A7 C1", "84 60"},
      {"A7 C2", "A7 C2"},
      {"A7 D1", "84 70"},
      {"A8 C0", "84 BE"},
      {"A8 C1", "A8 C1"},
      // Kanji rows, including the jump to 0xE0 and the short last row.
      {"B0 A1", "88 9F"},
      {"B0 FE", "88 FC"},
      {"B0 FF", "B0 FF"},
      {"B1 DF", "89 7E"},
      {"B1 E0", "89 80"},
      {"CF D4", "98 73"},
      {"DE A1", "9F 9F"},
      {"DF A1", "E0 40"},
      {"E0 A1", "E0 9F"},
      {"F3 FE", "EA 9E"},
      {"F4 A1", "EA 9F"},
      {"F4 A4", "EA A2"},
      {"F4 A5", "F4 A5"},
      {"F5 A1", "F5 A1"},
      // High bytes outside every row are not lead bytes.
      {"7F A1", "7F A1"},
      {"80 A1", "80 A1"},
      {"A0 A1", "A0 A1"},
      // Single-shift bytes are not special: what follows is scanned afresh.
      {"8E B1 8E B2", "8E B1 8E B2"},
      {"8E B1 A4 A2", "8E 89 43 A2"},
      {"8F B0 A1", "8F 88 9F"},
      // A rejected pair advances by one byte only.
      {"A9 A1 A4 A2", "A9 81 43 A2"},
      {"A9 A4 A2", "A9 82 A0"},
      {"F4 A5 A4 A2", "F4 83 43 A2"},
      // Several of the cases above in one line.
      {"A3 AF A3 FB", "A3 AF A3 FB"},
      {"DF A1 E0 A1 F3 FE", "E0 40 E0 9F EA 9E"},
      {"F4 A4 F4 A5", "EA A2 F4 A5"},
      {"7F A1 80 A1 A0 A1", "7F A1 80 A1 A0 A1"},
  };
  // Worked out by hand: both the converter and the reference model, which
  // the other tests trust, must give these bytes.
  for (const Case& c : cases) {
    EXPECT_TRUE(Transcodes(Bytes(c.in), Bytes(c.want)));
    EXPECT_TRUE(SameBytes(reference::Transcode(Bytes(c.in)), Bytes(c.want),
                          std::string("reference model on ") + c.in));
  }
}

// Every pair of bytes against the reference model, and, where both are EUC-JP
// bytes, against the system's iconv(3).
TEST(TranscodeLine, AllTwoBytePairs) {
  Iconv iconv;
  SKIP_UNLESS_ICONV_USABLE(iconv);
  int accepted = 0;
  int compared = 0;
  int refusedByIconv = 0;
  std::string fromIconv;
  for (int c1 = 0; c1 < 256; ++c1) {
    for (int c2 = 0; c2 < 256; ++c2) {
      const std::string in = {static_cast<char>(c1), static_cast<char>(c2)};
      const bool ok = reference::Converts(c1, c2);
      const std::string want = reference::Transcode(in);
      ASSERT_EQ(want != in, ok) << "reference model on " << Hex(in);
      ASSERT_TRUE(Transcodes(in, want));
      if (ok) ++accepted;
      if (c1 < 0xA1 || c1 > 0xFE || c2 < 0xA1 || c2 > 0xFE) continue;
      // Wherever iconv converts a pair, the result is the same, except
      // row 84 cells 5 and 6, which the converter leaves alone.
      const bool iconvConverts = iconv.Convert(in, fromIconv);
      if (iconvConverts && !(c1 == 0xF4 && (c2 == 0xA5 || c2 == 0xA6))) {
        ++compared;
        EXPECT_TRUE(SameBytes(want, fromIconv, "pair " + Hex(in)));
      }
      // The pairs converted here that iconv refuses are the empty
      // cells of row 2 and of row 47.
      if (ok && !iconvConverts) {
        ++refusedByIconv;
        EXPECT_TRUE(c1 == 0xA2 || (c1 == 0xCF && c2 >= 0xD4)) << "pair " << Hex(in);
      }
    }
    // Rejected pairs resume one byte later, accepted ones two.
    const std::string in = {static_cast<char>(c1), '\xA4', '\xA2'};
    if (c1 > 0x7E && reference::Converts(c1, 0xA4)) {
      EXPECT_TRUE(Transcodes(in, reference::PairCode(c1, 0xA4) + "\xA2"));
    } else {
      EXPECT_TRUE(Transcodes(in, in.substr(0, 1) + "\x82\xA0"));
    }
  }
  // The 6,961 cells within 0xA1..0xFE, and 0xA1 0xFF and 0xA2 0xFF.
  EXPECT_EQ(accepted, 6963);
  EXPECT_GT(compared, 6800);
  // 41 empty cells in row 2, cells 52-94 of row 47.
  EXPECT_EQ(refusedByIconv, 41 + 43);
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
