#include "converter/line_copy.h"

#include "runtime/console.h"
#include "converter/transcode.h"

void ConvertLines(TextFile& input, TextFile& output, std::uint8_t* window, std::size_t capacity) {
  for (;;) {
    bool atEnd = AtEndOfText(input);
    CheckIOResult();
    if (atEnd) break;
    std::size_t carried = 0;
    for (;;) {
      bool lineEnded = false;
      std::size_t length =
          carried + ReadLinePiece(input, window + carried, capacity - carried, lineEnded);
      CheckIOResult();
      // Converted in place: the scan never writes ahead of what it has read.
      std::size_t done = TranscodePiece(window, length, window, lineEnded);
      WriteText(output, reinterpret_cast<const char*>(window), done);
      if (lineEnded) {
        WriteLineEnd(output);
        CheckIOResult();
        break;
      }
      CheckIOResult();
      carried = length - done;
      if (carried != 0) window[0] = window[done];
    }
  }
}
