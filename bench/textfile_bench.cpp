// Line reader throughput over a 4 MiB file of dictionary-sized CR LF lines,
// read as tessmark reads it: AtEndOfText, then ReadLinePiece into a 64 KiB
// window. The file lives in memory: the platform table's CreateFileA,
// ReadFile and CloseHandle are replaced, so the figure is the reader's own
// cost (block fetches of 128 bytes, the search for each line end, the copy
// into the window) without any disk or system-call time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "bench/sample_lines.h"
#include "runtime/io_result.h"
#include "platform/platform.h"
#include "converter/textfile.h"
#include "tests/scoped_table.h"

using namespace platform;

namespace {

constexpr std::size_t FileSize = 4 * 1024 * 1024;
constexpr char FakeName[] = "bench.euc";
constexpr Handle FakeHandle = 0x7E57;

using bench::SampleLines;

/// The file: whole CR LF lines, as many as fit in FileSize.
struct MemoryFile {
  std::string Bytes;
  std::size_t Lines = 0;
  std::size_t TextBytes = 0;  // bytes of the lines, line ends excluded
};

MemoryFile BuildFile() {
  MemoryFile file;
  file.Bytes.reserve(FileSize);
  for (std::size_t k = 0;; ++k) {
    const char* line = SampleLines[k % std::size(SampleLines)];
    const std::size_t length = std::strlen(line);
    if (file.Bytes.size() + length + 2 > FileSize) break;
    file.Bytes.append(line, length);
    file.Bytes += "\r\n";
    ++file.Lines;
    file.TextBytes += length;
  }
  return file;
}

struct FakeState {
  const std::string* Data = nullptr;
  std::size_t Offset = 0;
} Fake;

Handle FakeCreateFile(const char* /*name*/, std::uint32_t /*access*/, std::uint32_t /*share*/,
                      std::uint32_t /*disposition*/) {
  Fake.Offset = 0;
  return FakeHandle;
}

/// Serves min(requested, remaining) bytes, 0 at the end, as a disk file does.
bool FakeReadFile(Handle /*handle*/, void* buffer, std::uint64_t count, std::uint64_t* done) {
  const std::size_t served =
      std::min<std::size_t>(static_cast<std::size_t>(count), Fake.Data->size() - Fake.Offset);
  std::memcpy(buffer, Fake.Data->data() + Fake.Offset, served);
  Fake.Offset += served;
  *done = served;
  return true;
}

bool FakeCloseHandle(Handle /*handle*/) { return true; }

/// Reads the file from memory through the platform table once per
/// iteration, taking each line with `readLine`, which returns its length.
template <typename ReadOneLine>
void ReadWholeFile(benchmark::State& state, ReadOneLine readLine) {
  const MemoryFile file = BuildFile();
  const ScopedTable<platform::CallTable> calls(platform::Calls);
  platform::Calls.CreateFileA = FakeCreateFile;
  platform::Calls.ReadFile = FakeReadFile;
  platform::Calls.CloseHandle = FakeCloseHandle;
  Fake.Data = &file.Bytes;
  TakeIOResult();

  for (auto _ : state) {
    TextFile input;
    OpenTextInput(input, FakeName);
    std::size_t lines = 0;
    std::size_t bytes = 0;
    // The loop of the converter: test for the end, then take a line.
    while (!AtEndOfText(input)) {
      bytes += readLine(input);
      ++lines;
    }
    CloseText(input);
    if (lines != file.Lines || bytes != file.TextBytes || TakeIOResult() != 0) {
      state.SkipWithError("the reader did not return the lines of the file");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(file.Bytes.size()));
  state.counters["lines"] = static_cast<double>(file.Lines);

}

/// Each line through ReadLinePiece into a 64 KiB window: no string, no
/// allocation per line.
void BM_ReadLinePiece4MiB(benchmark::State& state) {
  static std::uint8_t window[64 * 1024];
  ReadWholeFile(state, [](TextFile& input) {
    std::size_t length = 0;
    LinePiece piece{};
    do {
      piece = ReadLinePiece(input, window, sizeof window);
      length += piece.Length;
    } while (!piece.LineComplete);
    benchmark::DoNotOptimize(window);
    return length;
  });
}

}  // namespace

BENCHMARK(BM_ReadLinePiece4MiB)->Unit(benchmark::kMillisecond);
