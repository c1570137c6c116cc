// The line scanner and the index writer.
//
// The index file is the dictionary name followed by ".IND". It holds one
// 4-byte record per LF byte of the dictionary, in the order of the lines,
// and nothing else: no header, no count, no trailer. Bytes after the last
// LF get no record. Record k lies at offset 4 * k; since each line is
// followed by exactly one LF, line k starts in the dictionary at the sum of
// LineLength + 1 over records 0 to k - 1.
//
// Record layout (little-endian):
//   byte 0     SpacePos    1-based position of the first space (0x20), 1..255
//   byte 1     BracketEnd  1-based position just after the first ']', 2..255;
//                          0 when the line has no ']'
//   bytes 2-3  LineLength  bytes in the line, 1..65,535: the LF is not
//                          counted, a CR before it is
#pragma once

#include <cstdint>
#include <string>

#include "indexer/blockfile.h"

inline constexpr std::uint64_t IndexRecordSize = 4;

/// The longest line a record can describe.
inline constexpr std::uint64_t MaximumLineLength = 65535;

/// One index record, before it is laid out as 4 bytes.
struct IndexRecord {
  std::uint8_t SpacePos = 0;
  std::uint8_t BracketEnd = 0;
  std::uint16_t LineLength = 0;
};

/// Finds the first space and the first ']' of a line (without its LF).
/// Returns false for a line that no record can describe: an empty line, a
/// line without a space or with its first space after position 255, a line
/// with its first ']' at position 255 or later, a line longer than 65,535
/// bytes. `spacePos` and `bracketEnd` are meaningful only when it returns
/// true.
bool ScanLine(const std::uint8_t* line, std::uint64_t length, std::uint8_t& spacePos,
              std::uint8_t& bracketEnd);

/// Creates or empties the named file, open for reading and writing; true
/// when it is open. Leaves no I/O result code behind either way.
bool TryCreateWrite(const std::string& name, BlockFile& file);

/// Writes the index of `DictionaryBuffer` to `DictionaryName` + ".IND", one
/// record per line as soon as the line is scanned, with progress on the
/// console every 256 records. Stops the run on a line `ScanLine` refuses,
/// leaving the records of the earlier lines in the file.
void BuildIndex();
