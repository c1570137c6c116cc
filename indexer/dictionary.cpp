#include "indexer/dictionary.h"

#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/memory.h"
#include "runtime/program.h"

std::string DictionaryName;
std::uint8_t* DictionaryBuffer = nullptr;
std::int64_t DictionarySize = 0;

void LoadDictionary(const std::string& name) {
  DictionaryName = name;
  BlockFile file;
  if (!TryOpenRead(name, file)) {
    StopWithMessage("Error while opening file or file not found: " + name);
  }
  DictionarySize = BlockFileSize(file);
  CheckIOResult();
  if (DictionarySize == 0) {
    // The name follows the literal with no separator.
    StopWithMessage("File empty" + name);
  }

  // Taken before anything of the loading line is printed, so that exhausted
  // memory reports on a clean line.
  DictionaryBuffer = AllocateMemory(static_cast<std::uint64_t>(DictionarySize));

  // No line end yet: the name is on screen while the read runs, and " done!"
  // completes the same line.
  WriteText(ConsoleOutput, "Loading: [" + name + "]");
  FlushText(ConsoleOutput);
  CheckIOResult();

  ReadBlock(file, DictionaryBuffer, static_cast<std::uint64_t>(DictionarySize));
  CheckIOResult();
  CloseBlockFile(file);
  CheckIOResult();

  WriteText(ConsoleOutput, " done!");
  WriteLineEnd(ConsoleOutput);
  CheckIOResult();
}

bool TryOpenRead(const std::string& name, BlockFile& file) {
  FileAccessMode = 0;
  OpenBlockFile(file, name);
  return TakeIOResult() == 0;
}

void StopWithMessage(const std::string& message) { HaltWithMessage(message, StopAlert::Beep); }

void ReleaseDictionary() {
  FreeMemory(DictionaryBuffer);
  DictionaryBuffer = nullptr;
}
