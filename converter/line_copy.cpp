#include "converter/line_copy.h"

#include "common/console.h"
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
      if (lineEnded) {
        // The line end goes out with the line's last bytes, in one
        // WriteText followed by the push of WriteLineEnd: the same bytes
        // reach the buffer, and the same requests the file.
        window[done] = '\r';
        window[done + 1] = '\n';
        WriteText(output, reinterpret_cast<const char*>(window), done + 2);
        FlushText(output);
        CheckIOResult();
        break;
      }
      WriteText(output, reinterpret_cast<const char*>(window), done);
      CheckIOResult();
      carried = length - done;
      if (carried != 0) window[0] = window[done];
    }
  }
}
