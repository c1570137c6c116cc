#include "converter/line_copy.h"

#include "runtime/console.h"
#include "runtime/io_result.h"
#include "converter/transcode.h"

void ConvertLines(TextFile& input, TextFile& output) {
  static std::uint8_t window[LineWindowSize];
  ConvertLines(input, output, window, LineWindowSize);
}

void ConvertLines(TextFile& input, TextFile& output, std::uint8_t* window, std::size_t capacity) {
  for (;;) {
    // A fetch that fails leaves the end mark, so the test can have recorded
    // a failure only when it answers that the input has ended.
    if (AtEndOfText(input)) {
      CheckIOResult();
      return;
    }
    // The bytes at the start of the window that come from the piece before:
    // none, or the first byte of an undecided pair.
    std::size_t carried = 0;
    for (;;) {
      const LinePiece piece = ReadLinePiece(input, window + carried, capacity - carried);
      CheckIOResult();
      const std::size_t length = carried + piece.Length;
      // Converted in place: the scan never writes ahead of what it has read.
      const std::size_t done = TranscodePiece(window, length, window, piece.LineComplete);
      WriteText(output, reinterpret_cast<const char*>(window), done);
      if (piece.LineComplete) break;
      CheckIOResult();
      carried = length - done;
      if (carried != 0) window[0] = window[done];
    }
    WriteLineEnd(output);
    CheckIOResult();
  }
}
