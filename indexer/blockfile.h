// Block files: byte-oriented file handles with a record size of 1 byte, so
// that every count, position and size is in bytes. Transfers go straight to
// the system, one request per call, with no buffering here.
//
// No operation raises. Each one reports failure only through the I/O result
// code: the system's error number when a call fails, 100 for a short read,
// 101 for a short write, 103 for an operation on a handle that is not open
// (no system call is made then), and for a create those of
// `CreateOutputFile`. Callers follow each operation with
// `CheckIOResult` (checked) or `TakeIOResult` (the opens, unchecked).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

/// A file handle bound to a name. A fresh one is not open.
struct BlockFile {
  /// The name of the last open or create, kept whole.
  std::string Name;
  /// `InvalidHandleValue` while the file is not open.
  platform::Handle FileHandle = platform::InvalidHandleValue;
};

/// Access that `OpenBlockFile` asks for: 0 read-only, 1 write-only, 2 and
/// above read-write. 2 at program start; `CreateBlockFile` ignores it.
extern std::uint8_t FileAccessMode;

inline bool IsBlockFileOpen(const BlockFile& file) {
  return file.FileHandle != platform::InvalidHandleValue;
}

/// Binds the name and opens the existing file with the access of
/// `FileAccessMode`; other processes may read it meanwhile. On failure the
/// handle stays not open.
void OpenBlockFile(BlockFile& file, const std::string& name);

/// Binds the name and creates the file, or empties an existing one, open for
/// reading and writing, unless it is a file that no output may be (see
/// `CreateOutputFile`). On failure the handle stays not open.
void CreateBlockFile(BlockFile& file, const std::string& name);

/// The file's size in bytes; -1 when the query fails.
std::int64_t BlockFileSize(BlockFile& file);

/// Reads `count` bytes from the current position in one request.
void ReadBlock(BlockFile& file, void* destination, std::uint64_t count);

/// Writes `count` bytes at the current position in one request.
void WriteBlock(BlockFile& file, const void* source, std::uint64_t count);

/// Closes the file; the handle is not open afterwards, even when the system
/// reports a failure.
void CloseBlockFile(BlockFile& file);
