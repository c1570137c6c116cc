// Fuzz target for TranscodeLine (EUC-JP to Shift_JIS, byte for byte).
//
// Properties:
//  - the result has the input's length;
//  - every input byte from 0x00 to 0xA0 is unchanged at its position;
//  - cutting the input after any byte below 0x80 and converting the two
//    pieces gives the bytes of converting the whole;
//  - the result equals the reference model of the scan (from the JIS row
//    and cell numbers: which cells each row holds, and the textbook
//    arithmetic from row and cell to the two Shift_JIS bytes). Every changed
//    byte is also checked on its own to lie in a pair that this arithmetic
//    explains.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "converter/transcode.h"
#include "fuzz/fuzz_check.h"
#include "tests/reference_transcoder.h"

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
      const int c1 = static_cast<unsigned char>(line[p]);
      const int c2 = static_cast<unsigned char>(line[p + 1]);
      if (reference::Converts(c1, c2) && result.compare(p, 2, reference::PairCode(c1, c2)) == 0) {
        explained = true;
      }
    }
    Check(explained, "a changed byte lies in a converted pair with the code of its row and cell");
  }

  Check(result == reference::Transcode(line), "the result equals the reference model");

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
