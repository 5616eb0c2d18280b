// Split, Replace and TextBetween over 1 MiB and 16 MiB of GBK text: the time must grow linearly.
#include "util/text.h"

#include "http/text_helpers.h"

#include <benchmark/benchmark.h>

namespace {

// Mixed ASCII and two-byte characters with a separator every few characters, like a long answer.
quillore::Text MakeText(std::size_t size) {
  const quillore::Text unit = "\xD6\xD0\xCE\xC4 abc, \x81\x40xyz\", \"";
  quillore::Text text;
  text.reserve(size + unit.size());
  while (text.size() < size) {
    text += unit;
  }
  return text;
}

void Split(benchmark::State& state) {
  quillore::Text text = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::Split(text, "\", \"").size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Replace(benchmark::State& state) {
  quillore::Text text = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::Replace(text, ", ", "{$}").size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void TextBetween(benchmark::State& state) {
  quillore::Text text = "\"text\": [\"" + MakeText(static_cast<std::size_t>(state.range(0))) + "\"]}";
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::TextBetween(text, "\"text\": [\"", "\"]}").size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(Split)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(Replace)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(TextBetween)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
