// ScanLine throughput over dictionary-like lines. The bytes counted are
// those of the lines scanned; ScanLine itself stops reading a line once it
// has found both the first space and the first ']', so a line with a
// reading costs less than its length suggests and a line without one is
// read to its end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bench/sample_lines.h"
#include "indexer/index_writer.h"

namespace {

using bench::SampleLines;

constexpr std::size_t CorpusSize = 1024 * 1024;

struct LineRef {
  std::size_t Offset;
  std::size_t Length;
};

/// About 1 MiB of LF-separated lines and where each line lies in it.
struct Corpus {
  std::string Bytes;
  std::vector<LineRef> Lines;
  std::size_t LineBytes = 0;
};

Corpus BuildCorpus() {
  Corpus corpus;
  for (std::size_t k = 0; corpus.Bytes.size() < CorpusSize; ++k) {
    const char* line = SampleLines[k % std::size(SampleLines)];
    const std::size_t length = std::strlen(line);
    corpus.Lines.push_back({corpus.Bytes.size(), length});
    corpus.Bytes.append(line, length);
    corpus.Bytes += '\n';
    corpus.LineBytes += length;
  }
  return corpus;
}

void BM_ScanLine(benchmark::State& state) {
  const Corpus corpus = BuildCorpus();
  const auto* base = reinterpret_cast<const std::uint8_t*>(corpus.Bytes.data());
  for (auto _ : state) {
    std::uint32_t accepted = 0;
    for (const LineRef& line : corpus.Lines) {
      std::uint8_t spacePos = 0;
      std::uint8_t bracketEnd = 0;
      accepted += ScanLine(base + line.Offset, line.Length, spacePos, bracketEnd) ? 1u : 0u;
      benchmark::DoNotOptimize(spacePos);
      benchmark::DoNotOptimize(bracketEnd);
    }
    if (accepted != corpus.Lines.size()) {
      state.SkipWithError("ScanLine refused a dictionary line");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(corpus.LineBytes));
  state.counters["lines"] = static_cast<double>(corpus.Lines.size());
}

}  // namespace

BENCHMARK(BM_ScanLine)->Unit(benchmark::kMicrosecond);
