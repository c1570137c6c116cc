// TranscodePiece against a plain model of the scan: every pair, random lines
// converted whole and in pieces (the carry of an undecided first byte from
// one piece to the next), the word-at-a-time copy at every alignment, and
// conversion in place.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "converter/transcode.h"
#include "tests/reference_transcoder.h"
#include "tests/test_support.h"

namespace {

// --- Helpers ------------------------------------------------------------

const std::uint8_t* Data(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

/// Converts `line` cut at `cuts` (ascending offsets inside it), as the line
/// loop does: each piece follows the byte kept back from the one before,
/// into a separate destination; only the last piece ends the line.
std::string InPieces(const std::string& line, const std::vector<std::size_t>& cuts) {
  std::string out;
  std::string carried;
  std::size_t from = 0;
  for (std::size_t k = 0; k <= cuts.size(); ++k) {
    const std::size_t to = k < cuts.size() ? cuts[k] : line.size();
    const bool lineComplete = k == cuts.size();
    const std::string piece = carried + line.substr(from, to - from);
    std::string converted(piece.size() + 16, '\x5A');  // room for a canary
    const std::size_t done = TranscodePiece(
        Data(piece), piece.size(), reinterpret_cast<std::uint8_t*>(converted.data()), lineComplete);
    EXPECT_TRUE(done == piece.size() || (!lineComplete && done + 1 == piece.size()))
        << "piece [" << Hex(piece) << "] gave " << done;
    EXPECT_EQ(converted.substr(piece.size()), std::string(16, '\x5A'))
        << "wrote past the piece [" << Hex(piece) << "]";
    if (done < piece.size()) {
      EXPECT_TRUE(IsLeadByte(static_cast<std::uint8_t>(piece[done])))
          << "kept back a non-lead byte";
    }
    out += converted.substr(0, done);
    carried = piece.substr(done);
    from = to;
  }
  EXPECT_TRUE(carried.empty());
  return out;
}

/// Random lines that stress the scan: runs of ASCII of every length, first
/// bytes of every row, second bytes around the cell limits, the bytes
/// 0x7F-0xA0 and 0xFF.
std::string RandomLine(std::mt19937& random, std::size_t length) {
  static const std::uint8_t Notable[] = {
      0x00, 0x0A, 0x1A, 0x20, 0x7E, 0x7F, 0x80, 0x8E, 0x8F, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
      0xA6, 0xA7, 0xA8, 0xA9, 0xAF, 0xB0, 0xCF, 0xDE, 0xDF, 0xE0, 0xF3, 0xF4, 0xF5, 0xFE, 0xFF};
  std::string line;
  while (line.size() < length) {
    switch (random() % 4) {
      case 0: line.append(random() % 20, static_cast<char>('a' + random() % 26)); break;
      case 1: line += static_cast<char>(Notable[random() % sizeof Notable]); break;
      case 2:
        line += static_cast<char>(0xB0 + random() % 0x44);
        line += static_cast<char>(0xA1 + random() % 0x5E);
        break;
      default: line += static_cast<char>(random() % 256); break;
    }
  }
  line.resize(length);
  return line;
}

// --- Tests --------------------------------------------------------------

TEST(TranscodePiece, EveryPairWholeSplitAndInPlace) {
  for (int c1 = 0; c1 < 256; ++c1) {
    bool someAccepted = false;
    for (int c2 = 0; c2 < 256; ++c2) {
      const std::string pair = {static_cast<char>(c1), static_cast<char>(c2)};
      const std::string want = reference::Transcode(pair);
      someAccepted = someAccepted || reference::Converts(c1, c2);
      ASSERT_EQ(InPieces(pair, {}), want) << Hex(pair);
      ASSERT_EQ(InPieces(pair, {1}), want) << Hex(pair) << " cut in the middle";
      std::string inPlace = pair;
      auto* bytes = reinterpret_cast<std::uint8_t*>(inPlace.data());
      ASSERT_EQ(TranscodePiece(bytes, 2, bytes, true), 2u);
      ASSERT_EQ(inPlace, want) << Hex(pair) << " in place";
    }
    EXPECT_EQ(IsLeadByte(static_cast<std::uint8_t>(c1)), someAccepted)
        << "IsLeadByte(" << c1 << ") must say whether the byte starts any converted pair";
  }
}

TEST(TranscodePiece, LastByteKeptBackOnlyWhenTheLineGoesOn) {
  struct Case {
    const char* Piece;
    bool LineComplete;
    std::size_t Done;
  };
  // clang-format off
  const Case cases[] = {
      {"", false, 0},           {"", true, 0},
      {"A", false, 1},          {"\xA4", false, 0},       {"\xA4", true, 1},
      {"\xA9", false, 1},       {"\xF4", false, 0},       {"\xF5", false, 1},
      {"\xA4\xA2", false, 2},   {"\xA4\xA4\xA4", false, 2}, {"\xA4\xA4\xA4", true, 3},
      {"x\xA9\xA4", false, 2},  {"\x8E\xB0", false, 1},   {"abcdefgh\xB0", false, 8},
  };
  // clang-format on
  for (const Case& c : cases) {
    const std::string piece = c.Piece;
    std::string out(piece.size(), '\0');
    EXPECT_EQ(TranscodePiece(Data(piece), piece.size(), reinterpret_cast<std::uint8_t*>(out.data()),
                             c.LineComplete),
              c.Done)
        << "[" << Hex(piece) << "] lineComplete=" << c.LineComplete;
  }
}

TEST(TranscodePiece, AsciiRunsOfEveryLengthAtEveryAlignment) {
  // The copy of bytes below 0x80 goes a word at a time; a pair or a lone
  // high byte after a run of every length, at every offset in the buffer.
  const std::string tails[] = {"\xA4\xA2", "\xB0", "\x80", "\xFF\xA4\xA2z", "\xA9\xA4\xA2"};
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t run = 0; run <= 40; ++run) {
      for (const std::string& tail : tails) {
        const std::string line = std::string(run, 'q') + tail + std::string(run % 11, 'r');
        std::string buffer(offset, '#');
        buffer += line;
        std::string out(buffer.size(), '\0');
        TranscodePiece(Data(buffer) + offset, line.size(),
                       reinterpret_cast<std::uint8_t*>(out.data()) + offset, true);
        ASSERT_EQ(out.substr(offset), reference::Transcode(line))
            << "offset " << offset << ", run " << run << ", tail " << Hex(tail);
      }
    }
  }
}

TEST(TranscodePiece, RandomLinesWholeInPlaceAndInPiecesOfEverySize) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 40; ++round) {
    const std::string line = RandomLine(random, random() % 700);
    const std::string want = reference::Transcode(line);
    ASSERT_EQ(TranscodeLine(line), want) << Hex(line);
    std::string inPlace = line;
    auto* bytes = reinterpret_cast<std::uint8_t*>(inPlace.data());
    TranscodePiece(bytes, inPlace.size(), bytes, true);
    ASSERT_EQ(inPlace, want) << "in place: " << Hex(line);
    // Pieces of each size from 1 to 300, starting at a random offset.
    for (std::size_t size = 1; size <= 300; ++size) {
      std::vector<std::size_t> cuts;
      for (std::size_t cut = random() % size + 1; cut < line.size(); cut += size) {
        cuts.push_back(cut);
      }
      ASSERT_EQ(InPieces(line, cuts), want) << "pieces of " << size << ": " << Hex(line);
    }
    // Random cut points, some of them next to each other.
    for (int trial = 0; trial < 50; ++trial) {
      std::vector<std::size_t> cuts;
      for (std::size_t cut = 1 + random() % 5; cut < line.size(); cut += 1 + random() % 40) {
        cuts.push_back(cut);
      }
      ASSERT_EQ(InPieces(line, cuts), want) << "random cuts: " << Hex(line);
    }
  }
}

}  // namespace
