// Micro-benchmarks of one point line's scan: the fast scan on lines that keep the layout of the
// line before (read from its memo), on lines that do not (classified in full), and the exact
// path's "%lf" scan of the same lines; and the same for the nine numbers of a magnetostatic
// table's lines, of 126 characters and of 130, past the first 128 bytes.
#include "norvalex/sf7.h"
#include "sf7/sf7_point_scan.h"
#include "text/line_scan.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace norvalex;

namespace {

// `count` point lines in the solver's layout, one after the other: positive fields, so that every
// line keeps the layout of the one before; with `mixed_layout` the fields' signs are random, and
// a line keeps the layout of the one before in one case out of sixteen.
std::string layout_text(std::size_t count, bool mixed_layout) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> field(mixed_layout ? -9e2 : 1e2, 9e2);
  std::string text;
  char line[160];
  for (std::size_t n = 0; n < count; ++n) {
    std::snprintf(line, sizeof line, "%10.5f    %10.5f    %14.6E%14.6E%14.6E%14.6E\n",
                  0.05 * static_cast<double>(n % 1000), 2.5, field(rng), field(rng), field(rng),
                  field(rng));
    text += line;
  }
  return text;
}

// `count` nine-column point lines as a magnetostatic table has them, each `indent` blanks in,
// signs and layouts as in layout_text.
std::string nine_column_text(std::size_t count, bool mixed_layout, std::size_t indent) {
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> field(mixed_layout ? -9e2 : 1e2, 9e2);
  std::string text;
  char line[200];
  for (std::size_t n = 0; n < count; ++n) {
    std::snprintf(
        line, sizeof line, "%*s%10.5f    %10.5f    %14.6E%14.6E%14.6E%14.6E%14.6E%14.6E%14.6E\n",
        static_cast<int>(indent), "", 0.4004 * static_cast<double>(n % 100), 2.5, field(rng),
        field(rng), field(rng), field(rng), field(rng), field(rng), field(rng));
    text += line;
  }
  return text;
}

// Scans every line of `text` for `numbers` numbers, as the reading does.
void scan_text(benchmark::State& state, std::string text, std::size_t numbers) {
  const std::size_t size = text.size();
  text.append(SCAN_PADDING, '\0');
  std::array<double, SF7_MAX_LINE_NUMBERS> values{};
  for (auto _ : state) {
    ScanMemo memo;
    const char* p = text.data();
    while (p != nullptr && p < text.data() + size)
      p = scan_leading_numbers_fast(memo, p, text.data() + size, std::span(values).first(numbers));
    benchmark::DoNotOptimize(values);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void scan_fast(benchmark::State& state, bool mixed_layout) {
  scan_text(state, layout_text(4096, mixed_layout), SF7_COLUMN_COUNT);
}

void scan_fast_nine(benchmark::State& state, bool mixed_layout, std::size_t indent) {
  scan_text(state, nine_column_text(4096, mixed_layout, indent), 9);
}

void scan_exact(benchmark::State& state) {
  const std::string text = layout_text(4096, false);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start) + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  std::array<double, SF7_COLUMN_COUNT> values{};
  for (auto _ : state) {
    for (const std::string& line : lines)
      benchmark::DoNotOptimize(scan_point_exact(line.c_str(), values));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK_CAPTURE(scan_fast, same_layout, false);
BENCHMARK_CAPTURE(scan_fast, changing_layout, true);
BENCHMARK_CAPTURE(scan_fast_nine, same_layout_126, false, 0);
BENCHMARK_CAPTURE(scan_fast_nine, changing_layout_126, true, 0);
BENCHMARK_CAPTURE(scan_fast_nine, same_layout_130, false, 4);
BENCHMARK_CAPTURE(scan_fast_nine, changing_layout_130, true, 4);
BENCHMARK(scan_exact);

} // namespace

BENCHMARK_MAIN();
