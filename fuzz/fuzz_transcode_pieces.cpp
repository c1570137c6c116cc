// Fuzz target for TranscodePiece: a line converted in pieces, each after the
// first byte kept back from the one before, as tessmark converts a line
// longer than its window.
//
// Input: the first byte seeds the piece sizes (1 to 300 bytes, drawn from a
// fixed sequence), the rest is the line.
//
// Properties:
//  - converting the line whole, into a separate destination or in place,
//    gives TranscodeLine's bytes, and reports the whole length;
//  - a piece that does not end the line reports its length, or its length
//    less one when its last byte may start a pair (IsLeadByte);
//  - the pieces, joined, give the bytes of converting the line whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "converter/transcode.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint32_t state = data[0] * 2654435761u + 1;
  const std::uint8_t* line = data + 1;
  const std::size_t length = size - 1;
  const std::string whole = TranscodeLine(std::string(reinterpret_cast<const char*>(line), length));

  std::vector<std::uint8_t> out(length + 1);
  Check(TranscodePiece(line, length, out.data(), true) == length,
        "a whole line is converted whole");
  Check(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)) == whole,
        "converting into a destination gives TranscodeLine's bytes");
  std::vector<std::uint8_t> inPlace(line, line + length);
  TranscodePiece(inPlace.data(), length, inPlace.data(), true);
  Check(std::string(inPlace.begin(), inPlace.end()) == whole,
        "converting in place gives the same bytes");

  // Pieces of the sizes drawn, each after the byte kept back, in place.
  std::string joined;
  std::vector<std::uint8_t> window(302);
  std::size_t carried = 0;
  std::size_t from = 0;
  for (;;) {
    state = state * 1103515245u + 12345u;
    const std::size_t take = std::min<std::size_t>(1 + (state >> 8) % 300, length - from);
    for (std::size_t i = 0; i < take; ++i) window[carried + i] = line[from + i];
    from += take;
    const std::size_t pieceLength = carried + take;
    const bool lineComplete = from == length;
    const std::size_t done =
        TranscodePiece(window.data(), pieceLength, window.data(), lineComplete);
    if (lineComplete) {
      Check(done == pieceLength, "the last piece is converted whole");
    } else {
      Check(done == pieceLength || (done + 1 == pieceLength && IsLeadByte(window[done])),
            "only a last byte that may start a pair is kept back");
    }
    joined.append(reinterpret_cast<const char*>(window.data()), done);
    carried = pieceLength - done;
    if (carried != 0) window[0] = window[done];
    if (lineComplete) break;
  }
  Check(joined == whole, "the pieces give the bytes of the whole line");
  return 0;
}
