#include "indexer/blockfile.h"

#include "runtime/io_result.h"
#include "runtime/files.h"

std::uint8_t FileAccessMode = 2;

namespace {

/// True when the handle is open; records 103 otherwise, so that the caller
/// returns without calling the system.
bool RequireOpen(const BlockFile& file) {
  if (IsBlockFileOpen(file)) return true;
  SetIOResult(FileNotOpen);
  return false;
}

std::uint32_t AccessForMode(std::uint8_t mode) {
  switch (mode) {
    case 0: return platform::GenericRead;
    case 1: return platform::GenericWrite;
    default: return platform::GenericRead | platform::GenericWrite;
  }
}

/// Records how one transfer went: the system's error number when the call
/// failed, `shortCode` when it moved fewer bytes than asked.
void RecordTransfer(bool called, std::uint64_t done, std::uint64_t count, std::int32_t shortCode) {
  if (!called) {
    RecordSystemError();
  } else if (done != count) {
    SetIOResult(shortCode);
  }
}

}  // namespace

void OpenBlockFile(BlockFile& file, const std::string& name) {
  file.Name = name;
  file.FileHandle = OpenInputFile(name, AccessForMode(FileAccessMode), platform::FileShareRead);
}

void CreateBlockFile(BlockFile& file, const std::string& name) {
  file.Name = name;
  std::uint32_t type = platform::FileTypeUnknown;
  file.FileHandle = CreateOutputFile(name, platform::GenericRead | platform::GenericWrite,
                                     platform::FileShareRead, type);
}

std::int64_t BlockFileSize(BlockFile& file) {
  if (!RequireOpen(file)) return -1;
  std::int64_t size = 0;
  if (!platform::GetFileSizeEx(file.FileHandle, &size)) {
    RecordSystemError();
    return -1;
  }
  return size;
}

void ReadBlock(BlockFile& file, void* destination, std::uint64_t count) {
  if (!RequireOpen(file)) return;
  std::uint64_t done = 0;
  bool called = platform::ReadFile(file.FileHandle, destination, count, &done);
  RecordTransfer(called, done, count, ReadBeyondEndOfFile);
}

void WriteBlock(BlockFile& file, const void* source, std::uint64_t count) {
  if (!RequireOpen(file)) return;
  std::uint64_t done = 0;
  bool called = platform::WriteFile(file.FileHandle, source, count, &done);
  RecordTransfer(called, done, count, DiskFull);
}

void CloseBlockFile(BlockFile& file) {
  if (!RequireOpen(file)) return;
  platform::Handle handle = file.FileHandle;
  file.FileHandle = platform::InvalidHandleValue;
  if (!platform::CloseHandle(handle)) RecordSystemError();
}
