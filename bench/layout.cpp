// The layout stage on 100, 1,000 and 10,000 fragments of realistic pages (a title, two columns of
// prose, a table, a footer; pages stacked below one another), and on the same sizes the order the
// service gave before it: fragments sorted by their top edge. The stage should grow as n log n.
#include "service/layout.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace quillore::service;

namespace {

Fragment Box(int x, int y, int w, int h, std::string text) {
  return {{x, y, x + w, y, x + w, y + h, x, y + h}, std::move(text), 0.9F};
}

// About a hundred fragments per page, with some jitter so that nothing lines up perfectly.
std::vector<Fragment> Pages(std::size_t count) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> jitter(-2, 2);
  std::vector<Fragment> fragments;
  for (int page = 0; fragments.size() < count; ++page) {
    const int top = page * 1600;
    fragments.push_back(Box(40, top, 900, 30, "Page title " + std::to_string(page)));
    for (int line = 0; line < 40; ++line) {
      fragments.push_back(Box(40 + jitter(random), top + 60 + 30 * line, 400 + jitter(random) * 20, 20,
                              "left column line of prose"));
      fragments.push_back(Box(500 + jitter(random), top + 62 + 33 * line, 400 + jitter(random) * 20, 20,
                              "right column line of prose"));
    }
    for (int row = 0; row < 5; ++row) {
      for (int column = 0; column < 3; ++column) {
        fragments.push_back(Box(40 + 300 * column + jitter(random), top + 1420 + 30 * row, 80, 20, "cell"));
      }
    }
    fragments.push_back(Box(40, top + 1580, 900, 20, "footer"));
  }
  fragments.resize(count);
  std::shuffle(fragments.begin(), fragments.end(), random);
  return fragments;
}

void LayoutStage(benchmark::State& state) {
  const std::vector<Fragment> fragments = Pages(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    // As the service runs it: lines run across a gutter are cut first.
    Layout layout = ArrangeFragments(CutAcrossGutters(fragments), 1000, 1600);
    benchmark::DoNotOptimize(layout);
  }
  state.SetComplexityN(state.range(0));
  state.counters["ns_per_fragment"] =
      benchmark::Counter(static_cast<double>(state.range(0)),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The order before the layout stage: a copy of the fragments sorted by top edge.
void SortByTop(benchmark::State& state) {
  const std::vector<Fragment> fragments = Pages(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<Fragment> sorted = fragments;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Fragment& a, const Fragment& b) { return a.box[1] < b.box[1]; });
    benchmark::DoNotOptimize(sorted);
  }
  state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(LayoutStage)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);
BENCHMARK(SortByTop)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);
