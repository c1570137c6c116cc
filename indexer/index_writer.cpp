#include "indexer/index_writer.h"

#include <cstring>

#include "runtime/console.h"
#include "runtime/io_result.h"
#include "indexer/dictionary.h"

namespace {

constexpr std::uint8_t LineFeed = 0x0A;
constexpr std::uint8_t Space = 0x20;
constexpr std::uint8_t CloseBracket = 0x5D;

/// `SpacePos` and `BracketEnd` are single bytes.
constexpr std::uint64_t LargestPosition = 255;

/// Progress shows after the 255th record and then after every 256 more.
constexpr std::uint32_t ProgressInterval = 256;

/// Lays the record out byte by byte, so that the file is little-endian
/// whatever the machine and whatever the struct's padding.
void EncodeIndexRecord(const IndexRecord& record, std::uint8_t bytes[IndexRecordSize]) {
  bytes[0] = record.SpacePos;
  bytes[1] = record.BracketEnd;
  bytes[2] = static_cast<std::uint8_t>(record.LineLength & 0xFF);
  bytes[3] = static_cast<std::uint8_t>(record.LineLength >> 8);
}

/// `offset` is that of the LF that ended the line just written; it is below
/// `DictionarySize`, so the percentage lies between 0 and 99. The product is
/// 64-bit: in 32 bits it would overflow for dictionaries beyond 21 MB.
void ShowProgress(std::int64_t offset) {
  auto percentage = static_cast<std::int32_t>(100 * offset / DictionarySize);
  // Begins with CR and ends without a line end, so that each progress text
  // overwrites the one before.
  WriteText(ConsoleOutput, "\rWriting... ");
  WriteInteger(ConsoleOutput, percentage);
  WriteCharacter(ConsoleOutput, '%');
  FlushText(ConsoleOutput);
  CheckIOResult();
}

}  // namespace

bool ScanLine(const std::uint8_t* line, std::uint64_t length, std::uint8_t& spacePos,
              std::uint8_t& bracketEnd) {
  spacePos = 0;
  bracketEnd = 0;
  // A longer line would wrap LineLength and shift every later line's offset.
  if (length == 0 || length > MaximumLineLength) return false;
  // Positions count from 1. The first space must lie within the first 255
  // bytes, so nothing beyond them is searched for it.
  const std::uint64_t spaceReach = length < LargestPosition ? length : LargestPosition;
  const void* space = std::memchr(line, Space, spaceReach);
  if (space == nullptr) return false;
  // The first ']' anywhere in the line counts: one at position 255 or later
  // cannot be described, since BracketEnd, the position after it, must fit
  // a byte too.
  const void* bracket = std::memchr(line, CloseBracket, length);
  if (bracket != nullptr) {
    const auto position =
        static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(bracket) - line) + 1;
    if (position + 1 > LargestPosition) return false;
    bracketEnd = static_cast<std::uint8_t>(position + 1);
  }
  spacePos = static_cast<std::uint8_t>(static_cast<const std::uint8_t*>(space) - line + 1);
  return true;
}

bool TryCreateWrite(const std::string& name, BlockFile& file) {
  CreateBlockFile(file, name);
  return TakeIOResult() == 0;
}

void BuildIndex() {
  std::string indexName = DictionaryName + ".IND";
  BlockFile index;
  // The create refuses an index that is the dictionary (a link to it, say)
  // or where the console text goes.
  if (!TryCreateWrite(indexName, index)) {
    StopWithMessage("Error while opening file or file not found: " + indexName);
  }

  std::uint32_t recordCount = 0;
  const std::uint8_t* const end = DictionaryBuffer + DictionarySize;
  const std::uint8_t* lineStart = DictionaryBuffer;
  for (;;) {
    // Bytes after the last LF get no record.
    const auto* lineFeed = static_cast<const std::uint8_t*>(
        std::memchr(lineStart, LineFeed, static_cast<std::size_t>(end - lineStart)));
    if (lineFeed == nullptr) break;
    const auto lineLength = static_cast<std::uint64_t>(lineFeed - lineStart);
    IndexRecord record;
    if (!ScanLine(lineStart, lineLength, record.SpacePos, record.BracketEnd)) {
      StopWithMessage("Invalid dictionary format.");
    }
    record.LineLength = static_cast<std::uint16_t>(lineLength);
    // Written at once, so that the records of all earlier lines are in the
    // file if a later line stops the run.
    std::uint8_t bytes[IndexRecordSize];
    EncodeIndexRecord(record, bytes);
    WriteBlock(index, bytes, IndexRecordSize);
    CheckIOResult();
    ++recordCount;
    if (recordCount % ProgressInterval == ProgressInterval - 1) {
      ShowProgress(lineFeed - DictionaryBuffer);
    }
    lineStart = lineFeed + 1;
  }

  CloseBlockFile(index);
  CheckIOResult();
  // The CR returns to the start of the line, over any progress text.
  WriteCharacter(ConsoleOutput, '\r');
  WriteText(ConsoleOutput, "Writing...");
  WriteText(ConsoleOutput, " done!");
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
}
