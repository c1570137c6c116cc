// TranscodeLine throughput on a dictionary-like line, on a long line of
// kanji and on a long line of ASCII.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

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

void RunTranscode(benchmark::State& state, const std::string& line) {
  for (auto _ : state) {
    std::string out = TranscodeLine(line);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
}

void BM_TranscodeTypicalLine(benchmark::State& state) { RunTranscode(state, TypicalLine); }

void BM_TranscodeKanji64K(benchmark::State& state) {
  const std::string line = KanjiLine();
  RunTranscode(state, line);
}

void BM_TranscodeAscii64K(benchmark::State& state) {
  const std::string line = AsciiLine();
  RunTranscode(state, line);
}

}  // namespace

BENCHMARK(BM_TranscodeTypicalLine);
BENCHMARK(BM_TranscodeKanji64K);
BENCHMARK(BM_TranscodeAscii64K);
