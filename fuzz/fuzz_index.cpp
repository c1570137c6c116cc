// Fuzz target for the index pass (BuildIndex and ScanLine) over arbitrary
// dictionary buffers.
//
// The dictionary is put in memory as the loader would leave it; the index
// file and the console are files of the fake system, and ending the process
// throws the fake's exit that unwinds back here.
//
// Input: the first byte chooses the variant, the rest makes the buffer.
//   bit 0: the console is a character device (else a pipe, drained at the
//          end like at program end);
//   bit 1: a long run is inserted, so that lines around the 65,535-byte
//          limit are reached: byte 1 is the run's byte, bytes 2-3 set its
//          length (65,472 to 65,599), byte 4 where it goes in the rest.
//
// Properties, against a model that walks the buffer by LF:
//  - for each line before the first invalid one, one record: SpacePos =
//    1-based position of the first 0x20, BracketEnd = 1-based position of
//    the first ']' plus 1 (0 without one), LineLength = its length;
//  - a line is invalid when it is empty, has no space, has its first space
//    after position 255, has its first ']' at position 255 or later, or is
//    longer than 65,535 bytes; the run then ends with exit status 2 and the
//    index holds exactly the records before it and stays open;
//  - otherwise the run returns with one record per LF and the index closed;
//  - the console shows the progress text after record 255, 511, ... with
//    the percentage of the LF's offset, then "Writing... done!" or the
//    format message.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/console.h"
#include "runtime/io_result.h"
#include "runtime/exceptions.h"
#include "platform/platform.h"
#include "runtime/program.h"
#include "fuzz/fuzz_check.h"
#include "indexer/dictionary.h"
#include "indexer/index_writer.h"
#include "tests/fake_system.h"
#include "tests/test_support.h"

using namespace platform;

namespace {

constexpr char DictionaryFileName[] = "fuzz.dic";

struct Expectation {
  std::vector<DecodedRecord> Records;
  /// Offset of the LF that ended each record's line.
  std::vector<std::size_t> LineFeedOffsets;
  bool Stops = false;
};

/// Walks the buffer by LF and describes each line until an invalid one.
Expectation ModelIndex(const std::vector<std::uint8_t>& buffer) {
  Expectation result;
  std::size_t lineStart = 0;
  for (std::size_t j = 0; j < buffer.size(); ++j) {
    if (buffer[j] != 0x0A) continue;
    const std::size_t length = j - lineStart;
    std::size_t firstSpace = 0;    // 1-based, 0 for none
    std::size_t firstBracket = 0;  // 1-based, 0 for none
    for (std::size_t i = 0; i < length; ++i) {
      if (buffer[lineStart + i] == 0x20 && firstSpace == 0) firstSpace = i + 1;
      if (buffer[lineStart + i] == ']' && firstBracket == 0) firstBracket = i + 1;
    }
    if (length == 0 || length > 65535 || firstSpace == 0 || firstSpace > 255 ||
        firstBracket >= 255) {
      result.Stops = true;
      return result;
    }
    result.Records.push_back(
        DecodedRecord{static_cast<unsigned>(firstSpace),
                      static_cast<unsigned>(firstBracket == 0 ? 0 : firstBracket + 1),
                      static_cast<unsigned>(length)});
    result.LineFeedOffsets.push_back(j);
    lineStart = j + 1;
  }
  return result;
}

/// The console text of the run: a progress text after records 255, 511,
/// ..., then the closing line or the format message.
std::string ExpectedConsole(const Expectation& expected, std::size_t size) {
  std::string text;
  for (std::size_t k = 1; k <= expected.Records.size(); ++k) {
    if (k % 256 != 255) continue;
    text += corvane_text::Progress(100 * expected.LineFeedOffsets[k - 1] / size);
  }
  text += expected.Stops ? corvane_text::Invalid : corvane_text::WritingDone;
  return text;
}

std::vector<std::uint8_t> MakeBuffer(std::uint8_t variant, const std::uint8_t* data,
                                     std::size_t size) {
  if ((variant & 2) == 0 || size < 4) return std::vector<std::uint8_t>(data, data + size);
  const std::uint8_t runByte = data[0];
  const std::size_t runLength = 65472 + ((data[1] | (data[2] << 8)) % 128);
  const std::uint8_t* rest = data + 4;
  const std::size_t restSize = size - 4;
  const std::size_t at = size > 4 ? data[3] % (restSize + 1) : 0;
  std::vector<std::uint8_t> buffer(rest, rest + at);
  buffer.insert(buffer.end(), runLength, runByte);
  buffer.insert(buffer.end(), rest + at, rest + restSize);
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::vector<std::uint8_t> buffer = MakeBuffer(data[0], data + 1, size - 1);
  // The loader never leaves an empty dictionary.
  if (buffer.empty()) return 0;

  FakeSystem fake;
  fake.AddFile(FakeSystem::StandardOutput, "", (data[0] & 1) != 0 ? FileTypeChar : FileTypePipe);
  const std::string indexName = std::string(DictionaryFileName) + ".IND";
  BindStandardOutput(ConsoleOutput);
  TakeIOResult();

  // Exactly the dictionary's bytes, so that a read past them is reported.
  DictionaryName = DictionaryFileName;
  DictionarySize = static_cast<std::int64_t>(buffer.size());
  DictionaryBuffer = new std::uint8_t[buffer.size()];
  std::memcpy(DictionaryBuffer, buffer.data(), buffer.size());

  bool stopped = false;
  try {
    BuildIndex();
    // Program end drains what the console still holds.
    DrainTextBuffer(ConsoleOutput);
  } catch (const FakeSystem::Exit& exit) {
    stopped = true;
    Check(exit.Status == ExitStopped, "a refused line ends the run with status 2");
  } catch (const Exception& error) {
    std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.Message.c_str());
    Check(false, "the index pass raises nothing");
  }
  delete[] DictionaryBuffer;
  DictionaryBuffer = nullptr;

  const Expectation expected = ModelIndex(buffer);
  Check(stopped == expected.Stops, "the run stops exactly at an invalid line");
  int creates = 0;
  int closes = 0;
  int beeps = 0;
  for (const FakeSystem::Request& request : fake.Log()) {
    const bool onIndex = request.Name == indexName;
    const bool onConsole = request.Name == FakeSystem::StandardOutput;
    switch (request.Kind) {
      case FakeSystem::Call::CreateFileA:
        Check(onIndex, "the only file created is the index");
        Check((request.Access & GenericWrite) != 0, "the index is opened for writing");
        Check(request.Disposition == OpenAlways, "the index is created or opened, to be emptied");
        if (request.Succeeded()) ++creates;
        break;
      case FakeSystem::Call::WriteFile:
        Check(request.Succeeded() && (onConsole || onIndex),
              "writes go to the console or the open index");
        Check(onConsole || request.Count == 4, "each index write is one 4-byte record");
        break;
      case FakeSystem::Call::CloseHandle:
        Check(onIndex && request.Succeeded(), "only the open index is closed");
        ++closes;
        break;
      case FakeSystem::Call::GetStdHandle:
        Check(request.Value == StdOutputHandle, "only standard output is used");
        break;
      case FakeSystem::Call::GetFileType:
        Check(onConsole || onIndex, "only the console's and the index's types are asked");
        break;
      case FakeSystem::Call::MessageBeep: ++beeps; break;
      default: break;
    }
  }
  const std::string index = fake.Contents(indexName);
  Check(creates == 1, "the index is created once");
  Check(index.size() % 4 == 0, "the index holds whole records");
  Check(DecodeRecords(index) == expected.Records, "the records describe the lines of the model");
  if (stopped) {
    Check(closes == 0, "a stopped run leaves the index open");
    Check(beeps == 1, "a stopped run sounds the alert once");
  } else {
    Check(closes == 1, "a complete run closes the index once");
    Check(beeps == 0, "a complete run sounds no alert");
  }
  Check(fake.Contents(FakeSystem::StandardOutput) == ExpectedConsole(expected, buffer.size()),
        "the console shows the progress and the closing text");
  Check(TakeIOResult() == 0, "no I/O result code is left behind");

  return 0;
}
