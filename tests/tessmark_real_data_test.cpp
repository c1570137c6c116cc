// tessmark on real dictionaries: the EUC-JP files of Debian's edict, enamdict
// and kanjidic packages, converted once with CR LF line ends and once as they
// are (LF only, so the whole file is one line). Every line of the output is
// checked against the system's iconv(3), EUC-JP to SHIFT_JIS, or, where the
// converter by design passes bytes through and the scan no longer follows
// character boundaries, against the reference model of the scan (every line
// where iconv cannot convert at all: under an emulator without the
// target's character-set modules).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <string>
#include <vector>

#include "tests/reference_transcoder.h"
#include "tests/iconv_support.h"
#include "tests/test_support.h"
#include "tests/tool_runner.h"

namespace {

const std::string Program = TESSMARK_PATH;
const std::string& Success = tessmark_text::Success;

unsigned char At(const std::string& bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

// True when the line holds something that the converter passes through
// although iconv would convert it: a half-width katakana or JIS X 0212
// prefix (0x8E, 0x8F) or another byte from 0x80 to 0xA0, the byte 0xFF, or
// a character in rows 9-15 or 85-94 or in row 84 beyond cell 4. Every such
// byte desynchronises the scan, so the line goes to the model. Empty cells
// of rows 2-8 and of row 47 need no test here: iconv refuses them
// (TranscodeLine.AllTwoBytePairs in transcode_test.cpp checks that).
bool HoldsPassedThroughBytes(const std::string& line) {
  for (std::size_t p = 0; p < line.size(); ++p) {
    const int c1 = At(line, p);
    if (c1 < 0x80) continue;
    if (c1 <= 0xA0 || c1 == 0xFF) return true;
    const int c2 = p + 1 < line.size() ? At(line, p + 1) : 0;
    if ((c1 >= 0xA9 && c1 <= 0xAF) || c1 >= 0xF5 || (c1 == 0xF4 && c2 > 0xA4)) return true;
    ++p;  // a two-byte character: the next byte is its second byte
  }
  return false;
}

// --- Expected output --------------------------------------------------------

/// One stretch of the expected output between LFs or line ends of the input.
struct Piece {
  std::size_t Start = 0;   // offset in the output
  std::size_t Length = 0;  // equal in input and output
  std::size_t Number = 0;  // 1-based LF-separated line of the original
  bool ByModel = false;
};

struct Expectation {
  std::string Output;
  std::vector<Piece> Pieces;
  std::size_t Lines = 0;  // lines as the converter reads them
  std::size_t ByIconv = 0;
  std::size_t ByModel = 0;
};

/// The input as the converter reads it: up to the first byte 26, lines
/// ending at CR or CR LF, a last line ending at the end of the input.
std::vector<std::string> ReadLines(const std::string& input) {
  const std::size_t end = std::min(input.find('\x1A'), input.size());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < end) {
    std::size_t cr = input.find('\r', start);
    if (cr >= end) cr = end;
    lines.push_back(input.substr(start, cr - start));
    start = cr + 1;
    if (start < end && input[start] == '\n') ++start;
  }
  return lines;
}

/// What tessmark must write for `input`. Each line is converted piece by
/// piece between its LF bytes, which are kept; no pair can span an LF, since
/// no byte below 0x80 is part of a converted pair. The pieces are numbered
/// as the LF-separated lines of the original file.
Expectation Expect(const std::string& input, Iconv& iconv) {
  Expectation expected;
  expected.Output.reserve(input.size() + input.size() / 16);
  std::string converted;
  std::size_t number = 0;
  for (const std::string& line : ReadLines(input)) {
    ++expected.Lines;
    std::size_t start = 0;
    while (true) {
      std::size_t lf = line.find('\n', start);
      if (lf == std::string::npos) lf = line.size();
      const std::string text = line.substr(start, lf - start);
      Piece piece;
      piece.Start = expected.Output.size();
      piece.Length = text.size();
      piece.Number = ++number;
      const bool iconvTakes =
          iconv.Usable() && iconv.Convert(text, converted) && converted.size() == text.size();
      piece.ByModel = !iconvTakes || HoldsPassedThroughBytes(text);
      if (piece.ByModel) {
        expected.Output += reference::Transcode(text);
        ++expected.ByModel;
      } else {
        expected.Output += converted;
        ++expected.ByIconv;
      }
      expected.Pieces.push_back(piece);
      if (lf == line.size()) break;
      expected.Output += '\n';
      start = lf + 1;
    }
    expected.Output += "\r\n";
  }
  return expected;
}

/// A window of bytes around `at`, in hexadecimal.
std::string Around(const std::string& bytes, std::size_t at) {
  const std::size_t from = at < 12 ? 0 : at - 12;
  return Hex(bytes.substr(from, 32));
}

/// Compares the output with the expectation piece by piece, naming the
/// first few differing lines of the original and the check that applied.
/// `original` is the LF-separated file the pieces come from.
::testing::AssertionResult MatchesExpectation(const std::string& output,
                                              const Expectation& expected,
                                              const std::string& original) {
  if (output == expected.Output) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "output of " << output.size() << " bytes, expected " << expected.Output.size();
  int reported = 0;
  std::size_t originalAt = 0;  // each piece is followed by one LF in the original
  for (const Piece& piece : expected.Pieces) {
    const std::size_t from = piece.Start;
    const std::string want = expected.Output.substr(from, piece.Length + 1);
    const std::string got = output.substr(std::min(from, output.size()), piece.Length + 1);
    if (got != want) {
      std::size_t at = 0;
      while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
      failure << "\n  line " << piece.Number << " (checked against "
              << (piece.ByModel ? "the model" : "iconv") << "), first difference at byte " << at
              << "\n    input    ..." << Around(original.substr(originalAt, piece.Length), at)
              << "\n    actual   ..." << Around(got, at) << "\n    expected ..."
              << Around(want, at);
      if (++reported == 5) break;
    }
    originalAt += piece.Length + 1;
  }
  if (reported == 0) failure << "\n  the difference lies in the line ends";
  return failure;
}

std::size_t CountOf(const std::string& bytes, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + 1))
    ++count;
  return count;
}

// --- The dictionary files ---------------------------------------------------

struct Dictionary {
  const char* Name;
  const char* Path;
};

void PrintTo(const Dictionary& dictionary, std::ostream* out) { *out << dictionary.Name; }

class TessmarkRealData : public ::testing::TestWithParam<Dictionary> {};

// Every LF of the original becomes CR LF; tessmark must write each line,
// converted, followed by CR LF, and nothing else.
TEST_P(TessmarkRealData, ConvertsEachLineOfTheCrLfVersion) {
  const Dictionary& dictionary = GetParam();
  SKIP_UNLESS_INSTALLED(dictionary.Path, "packages edict, enamdict, kanjidic");
  const std::string original = ReadFileBytes(dictionary.Path);
  Iconv iconv;
  // Without iconv (under an emulator) every line is checked against the model.
  ASSERT_TRUE(iconv.Usable() || UnderEmulator()) << "iconv cannot convert EUC-JP to SHIFT_JIS";

  std::string crlf;
  crlf.reserve(original.size() + original.size() / 16);
  for (char byte : original) {
    if (byte == '\n') crlf += '\r';
    crlf += byte;
  }
  ScratchDirectory dir;
  WriteFileBytes(dir / "in.euc", crlf);
  ToolRun run = RunTool(Program, {"in.euc", "out.sjs"}, dir.Path());
  ASSERT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(run.Stderr, "");
  const std::string output = ReadFileBytes(dir / "out.sjs");

  // One output line per LF-ended line of the original, and one more for a
  // final line without LF (the files hold no CR and no byte 26 of their own).
  const bool unterminated = !original.empty() && original.back() != '\n';
  const std::size_t originalLines = CountOf(original, "\n") + (unterminated ? 1 : 0);
  EXPECT_EQ(CountOf(output, "\r\n"), originalLines);

  const Expectation expected = Expect(crlf, iconv);
  EXPECT_EQ(expected.Lines, originalLines);
  EXPECT_TRUE(MatchesExpectation(output, expected, original));
  std::cout << "[ RealData ] " << dictionary.Name << " (" << crlf.size()
            << " bytes CR LF): " << expected.Lines << " lines, " << expected.ByIconv
            << " checked against iconv, " << expected.ByModel << " against the model\n";
}

// The unmodified file has no CR: it is one line, LF bytes kept in place,
// followed by a single CR LF.
TEST_P(TessmarkRealData, KeepsTheLfOnlyOriginalAsOneLine) {
  const Dictionary& dictionary = GetParam();
  SKIP_UNLESS_INSTALLED(dictionary.Path, "packages edict, enamdict, kanjidic");
  const std::string original = ReadFileBytes(dictionary.Path);
  Iconv iconv;
  // Without iconv (under an emulator) every line is checked against the model.
  ASSERT_TRUE(iconv.Usable() || UnderEmulator()) << "iconv cannot convert EUC-JP to SHIFT_JIS";
  ASSERT_EQ(original.find('\r'), std::string::npos) << "the original was expected to hold no CR";

  ScratchDirectory dir;
  ToolRun run = RunTool(Program, {dictionary.Path, "out.sjs"}, dir.Path());
  ASSERT_EQ(run.ExitStatus, 0) << run.Stdout << run.Stderr;
  EXPECT_EQ(run.Stdout, Success);
  EXPECT_EQ(run.Stderr, "");
  const std::string output = ReadFileBytes(dir / "out.sjs");

  const std::size_t kept = std::min(original.find('\x1A'), original.size());
  EXPECT_EQ(output.size(), kept + 2);
  EXPECT_EQ(CountOf(output, "\r"), 1u);
  EXPECT_EQ(output.substr(output.size() - std::min<std::size_t>(2, output.size())), "\r\n");
  EXPECT_EQ(CountOf(output, "\n"), CountOf(original.substr(0, kept), "\n") + 1);

  const Expectation expected = Expect(original, iconv);
  EXPECT_EQ(expected.Lines, kept == 0 ? 0u : 1u);
  EXPECT_TRUE(MatchesExpectation(output, expected, original));
}

INSTANTIATE_TEST_SUITE_P(DebianDictionaries, TessmarkRealData,
                         ::testing::Values(Dictionary{"edict", "/usr/share/edict/edict"},
                                           Dictionary{"enamdict", "/usr/share/edict/enamdict"},
                                           Dictionary{"kanjidic", "/usr/share/edict/kanjidic"}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
