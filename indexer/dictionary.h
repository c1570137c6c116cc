// The dictionary loader and the builder's own stop.
//
// `LoadDictionary` reads the whole dictionary file into one buffer of
// exactly its size, with one read request; the index writer then works on
// memory only. The state below is set by `LoadDictionary`, read by
// `BuildIndex` and released by `ReleaseDictionary`.
#pragma once

#include <cstdint>
#include <string>

#include "indexer/blockfile.h"

/// The name exactly as chosen; the index name is this followed by ".IND".
extern std::string DictionaryName;

/// The whole dictionary file, byte for byte, nothing added before or after.
extern std::uint8_t* DictionaryBuffer;

/// Bytes in `DictionaryBuffer`; never 0 once `LoadDictionary` has returned.
extern std::int64_t DictionarySize;

/// Loads the named dictionary whole, printing "Loading: [name]" before the
/// read and " done!" after it. Stops the run when the file cannot be opened
/// or is empty; returns only when the whole file is in memory.
void LoadDictionary(const std::string& name);

/// Opens the named file read-only; true when it is open. Leaves no I/O
/// result code behind either way.
bool TryOpenRead(const std::string& name, BlockFile& file);

/// Prints the message on its own line, sounds the alert and ends the run
/// with `ExitStopped`. Closes, frees and deletes nothing.
[[noreturn]] void StopWithMessage(const std::string& message);

/// Frees `DictionaryBuffer`.
void ReleaseDictionary();
