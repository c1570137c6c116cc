// Helpers shared by the unit, end-to-end and fuzz tests: hexadecimal dumps
// and byte comparisons for failure messages (as GoogleTest assertion
// results), the 4-byte index records and the console texts of both tools.
// The fake of the system behind the platform table is in fake_system.h.
// Header-only: the fuzz targets include it for GoogleTest's headers alone
// and link none of its code. The system's converter, for comparison, is in
// iconv_support.h, which only the Linux build has.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// --- Bytes ------------------------------------------------------------------

/// Bytes as spaced upper-case hexadecimal ("41 A4 A2"). Past `limit` bytes
/// the rest is left out and the whole length given instead.
inline std::string Hex(const std::string& bytes, std::size_t limit = std::string::npos) {
  std::string out;
  char text[4];
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(text, sizeof text, i == 0 ? "%02X" : " %02X",
                  static_cast<unsigned char>(bytes[i]));
    out += text;
  }
  if (bytes.size() > limit) out += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

/// `count` copies of `byte`, or of `text`.
inline std::string Repeat(char byte, std::size_t count) { return std::string(count, byte); }
inline std::string Repeat(const std::string& text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  while (count-- > 0) out += text;
  return out;
}

/// Success when `got` equals `want`; otherwise names the first differing
/// offset and both sizes, and shows both sides in hexadecimal around it.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want,
                                            const std::string& what = "bytes") {
  if (got == want) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  const std::size_t from = at < 16 ? 0 : at - 16;
  auto window = [from](const std::string& bytes) {
    return (from > 0 ? "..." : "") + Hex(bytes.substr(std::min(from, bytes.size()), 48));
  };
  return ::testing::AssertionFailure()
         << what << " differ at byte " << at << " (sizes " << got.size() << " and " << want.size()
         << ")\n  actual   [" << window(got) << "]\n  expected [" << window(want) << "]";
}

// --- Index records ------------------------------------------------------------

/// One record of NAME.IND: the 1-based position of the line's first space,
/// the position after its first ']' (0 without one), and the line's length
/// as a 16-bit little-endian number.
struct DecodedRecord {
  unsigned SpacePos = 0;
  unsigned BracketEnd = 0;
  unsigned LineLength = 0;
  bool operator==(const DecodedRecord&) const = default;
};

inline void PrintTo(const DecodedRecord& record, std::ostream* out) {
  *out << "{SpacePos " << record.SpacePos << ", BracketEnd " << record.BracketEnd << ", LineLength "
       << record.LineLength << "}";
}

/// The four bytes of a record.
inline std::string Record(unsigned spacePos, unsigned bracketEnd, unsigned lineLength) {
  return {static_cast<char>(spacePos), static_cast<char>(bracketEnd),
          static_cast<char>(lineLength & 0xFF), static_cast<char>(lineLength >> 8)};
}

/// The records of an index file; a trailing part record is ignored.
inline std::vector<DecodedRecord> DecodeRecords(const std::string& index) {
  std::vector<DecodedRecord> records;
  for (std::size_t k = 0; k + 4 <= index.size(); k += 4) {
    auto byte = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(index[k + i]));
    };
    records.push_back(DecodedRecord{byte(0), byte(1), byte(2) | (byte(3) << 8)});
  }
  return records;
}

// --- Console texts --------------------------------------------------------------

namespace tessmark_text {

inline const std::string Banner =
    "Tessmark v1.0\n"
    "Converts a text file from EUC-JP to Shift_JIS, line by line.\n"
    "Lines are written with CR LF; bytes outside JIS X 0208 pass unchanged.\n"
    "\r\n";
inline const std::string Success = Banner + "Converting... done!\r\n";
inline const std::string Usage =
    Banner + "USAGE: Tessmark inputfilename.euc outputfilename.sjs\n\r\n";

/// A file that could not be opened or created stops the run.
inline std::string Refuses(const std::string& name) {
  return Banner + "Can not open/creat file: " + name + "\r\n";
}

}  // namespace tessmark_text

namespace corvane_text {

inline const std::string Banner =
    "Corvane Test v0.2\n"
    "\r\n";
inline const std::string WritingDone = "\rWriting... done!\r\n";
inline const std::string Invalid = "Invalid dictionary format.\r\n";

inline std::string Loading(const std::string& name) { return "Loading: [" + name + "] done!\r\n"; }
inline std::string OpenError(const std::string& name) {
  return "Error while opening file or file not found: " + name + "\r\n";
}
inline std::string Empty(const std::string& name) { return "File empty" + name + "\r\n"; }
inline std::string Progress(std::uint64_t percent) {
  return "\rWriting... " + std::to_string(percent) + "%";
}

}  // namespace corvane_text

/// Success when `text` is `before`, then the unhandled-exception report of
/// an EInOutError with `code` in `module`, then CR LF. The address differs
/// between builds, so only its form is checked: 8 upper-case hexadecimal
/// digits.
inline ::testing::AssertionResult IsIOReport(const std::string& text, const std::string& module,
                                             int code, const std::string& before = "") {
  const std::string head = before + "Exception EInOutError in module " + module + " at ";
  const std::string tail = ".\nI/O error " + std::to_string(code) + ".\r\n";
  bool shaped = text.size() == head.size() + 8 + tail.size() &&
                text.compare(0, head.size(), head) == 0 &&
                text.compare(head.size() + 8, tail.size(), tail) == 0;
  for (std::size_t i = 0; shaped && i < 8; ++i) {
    const char digit = text[head.size() + i];
    shaped = (digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F');
  }
  if (shaped) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "not [" << before << "] and the report of I/O error " << code << " in " << module
         << ": [" << text << "] (" << Hex(text) << ")";
}

// --- Installed data ----------------------------------------------------------------

/// True in CI, where a test whose data is missing fails instead of skipping.
inline bool InCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

// Skips the test when the file `path` is absent, or fails it in CI, which
// installs the Debian packages `packages`.
#define SKIP_UNLESS_INSTALLED(path, packages)                                                  \
  do {                                                                                         \
    if (!std::filesystem::exists(path)) {                                                      \
      if (InCi()) FAIL() << (path) << " is missing; CI installs it (" packages ")";            \
      GTEST_SKIP() << (path) << " is not installed (Debian " packages "); this test needs it"; \
    }                                                                                          \
  } while (false)
