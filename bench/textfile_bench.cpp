// Line reader throughput over a 4 MiB file of dictionary-sized CR LF lines,
// read as tessmark reads it: AtEndOfText, then ReadLinePiece into a 64 KiB
// window. The file lives in memory, in the fake system of
// tests/fake_system.h (which keeps no log here), so the figure is the
// reader's own cost (block fetches of 128 bytes, the search for each line
// end, the copy into the window) without any disk or system-call time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "bench/sample_lines.h"
#include "runtime/io_result.h"
#include "converter/textfile.h"
#include "tests/fake_system.h"

namespace {

constexpr std::size_t FileSize = 4 * 1024 * 1024;
constexpr char FakeName[] = "bench.euc";

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

/// Reads the file from memory through the platform table once per
/// iteration, taking each line with `readLine`, which returns its length.
template <typename ReadOneLine>
void ReadWholeFile(benchmark::State& state, ReadOneLine readLine) {
  const MemoryFile file = BuildFile();
  FakeSystem fake;
  fake.KeepLog = false;
  fake.AddFile(FakeName, file.Bytes);
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
