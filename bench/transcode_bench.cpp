// Transcoder throughput: TranscodePiece into a fixed destination, as
// tessmark uses it, on a dictionary-like line, on the shared sample lines
// one at a time, and on 64 KiB pieces of kanji and of ASCII.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bench/sample_lines.h"
#include "converter/transcode.h"

namespace {

// "練習 [れんしゅう] /(n,vs) practice/training/drill/exercise/(P)/" in
// EUC-JP: 63 bytes, the size of a median dictionary line. The ASCII parts
// are separate literals so that no letter is read as part of a hex escape.
const std::string TypicalLine =
    "\xce\xfd\xbd\xac"
    " ["
    "\xa4\xec\xa4\xf3\xa4\xb7\xa4\xe5\xa4\xa6"
    "] /(n,vs) practice/training/drill/exercise/(P)/";

constexpr std::size_t LongLineSize = 64 * 1024;

/// Valid two-byte kanji (rows 16-83, cells 1-94) chosen by a fixed
/// pseudo-random sequence, so that both lead-byte ranges and both row
/// parities occur and the branches are not trivially predictable.
std::string KanjiLine() {
  std::string line;
  line.reserve(LongLineSize);
  std::uint32_t state = 12345;
  while (line.size() < LongLineSize) {
    state = state * 1103515245u + 12345u;
    const auto row = static_cast<unsigned char>(0xB0 + (state >> 16) % (0xF3 - 0xB0 + 1));
    const auto cell = static_cast<unsigned char>(0xA1 + (state >> 8) % 94);
    line += static_cast<char>(row);
    line += static_cast<char>(cell);
  }
  return line;
}

/// Printable ASCII, which every byte copies unchanged.
std::string AsciiLine() {
  std::string line;
  line.reserve(LongLineSize);
  while (line.size() < LongLineSize) line += static_cast<char>(0x20 + line.size() % 95);
  return line;
}

/// TranscodePiece over `line` into a destination of its own, whole lines.
void RunPiece(benchmark::State& state, const std::string& line) {
  std::vector<std::uint8_t> out(line.size());
  const auto* in = reinterpret_cast<const std::uint8_t*>(line.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranscodePiece(in, line.size(), out.data(), true));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}

void BM_TranscodePieceTypicalLine(benchmark::State& state) { RunPiece(state, TypicalLine); }

/// The sample lines, each converted on its own, as tessmark converts a
/// dictionary.
void BM_TranscodePieceSampleLines(benchmark::State& state) {
  std::vector<std::string> lines;
  std::size_t bytes = 0;
  for (const char* line : bench::SampleLines) {
    lines.emplace_back(line);
    bytes += lines.back().size();
  }
  std::uint8_t out[512];
  for (auto _ : state) {
    for (const std::string& line : lines) {
      benchmark::DoNotOptimize(TranscodePiece(reinterpret_cast<const std::uint8_t*>(line.data()),
                                              line.size(), out, true));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

void BM_TranscodePieceKanji64K(benchmark::State& state) { RunPiece(state, KanjiLine()); }

void BM_TranscodePieceAscii64K(benchmark::State& state) { RunPiece(state, AsciiLine()); }

}  // namespace

BENCHMARK(BM_TranscodePieceTypicalLine);
BENCHMARK(BM_TranscodePieceSampleLines);
BENCHMARK(BM_TranscodePieceKanji64K);
BENCHMARK(BM_TranscodePieceAscii64K);
