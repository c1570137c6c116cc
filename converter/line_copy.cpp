#include "converter/line_copy.h"

#include "common/console.h"
#include "converter/transcode.h"

namespace {

/// What WriteLineEnd does, for a stream open for writing: CR LF into the
/// buffer, the buffer sent out when one of them fills it (a failure drops
/// the rest, as WriteText drops it), then the push of FlushText, which
/// sends the buffer out on a character device.
void PutLineEnd(TextFile& output) {
  if (output.State != StreamState::Writing) {
    WriteLineEnd(output);
    return;
  }
  for (std::uint8_t byte : {std::uint8_t{'\r'}, std::uint8_t{'\n'}}) {
    output.Buffer[output.Position++] = byte;
    if (output.Position == TextBufferSize && !DrainTextBuffer(output)) break;
  }
  if (output.IsCharDevice) DrainTextBuffer(output);
}

/// AtEndOfText, answered from the buffer when the next byte is there (the
/// usual case after a line end).
bool AtEnd(TextFile& input) {
  if (input.State == StreamState::Reading && input.Position < input.End) {
    return input.Buffer[input.Position] == static_cast<std::uint8_t>(EndMark);
  }
  return AtEndOfText(input);
}

}  // namespace

void ConvertLines(TextFile& input, TextFile& output, std::uint8_t* window, std::size_t capacity) {
  for (;;) {
    bool atEnd = AtEnd(input);
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
        PutLineEnd(output);
        CheckIOResult();
        break;
      }
      CheckIOResult();
      carried = length - done;
      if (carried != 0) window[0] = window[done];
    }
  }
}
