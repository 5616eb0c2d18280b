// DecodeEscapes over 1 MiB and 16 MiB answers, beside a plain copy, one Replace pass and an iconv
// conversion of the same bytes: the decoder must stay linear and well above 300 MB/s.
#include "recognition/escape_decoding.h"

#include "platform/codepage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

// An answer shaped like the service's: boxes as ASCII numbers, lines of Chinese as "\u" escapes
// with some ASCII words, quotes and escaped slashes among them.
quillore::Text MakeAnswer(std::size_t size) {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> hanzi(0x4E00, 0x9FA5);
  std::uniform_int_distribution<int> length(4, 24);
  quillore::Text positions = "{\"position\":[";
  quillore::Text texts = "\"text\":[";
  char escape[8];
  while (positions.size() + texts.size() < size) {
    positions += "[12,340,560,340,560,372,12,372],";
    texts += "\"";
    for (int n = length(random); n > 0; --n) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(hanzi(random)));
      texts += escape;
      if (n % 7 == 0) {
        texts += " OCR 2024\\/06 \\\"ok\\\" ";
      }
    }
    texts += "\",";
  }
  quillore::Text answer = positions + "]," + texts + "]}";
  answer.resize(size); // cut anywhere: the decoder must not care
  return answer;
}

void SetThroughput(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void DecodeEscapes(benchmark::State& state) {
  const quillore::Text answer = MakeAnswer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::DecodeEscapes(answer).size());
  }
  SetThroughput(state);
}

// References on the same bytes: a copy into a fresh buffer, one text Replace pass, and iconv's
// GBK-to-UTF-16 conversion.
void CopyReference(benchmark::State& state) {
  const quillore::Text answer = MakeAnswer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(answer.size(), '\0');
    std::memcpy(copy.data(), answer.data(), answer.size());
    benchmark::DoNotOptimize(copy.data());
  }
  SetThroughput(state);
}

void ReplaceReference(benchmark::State& state) {
  const quillore::Text answer = MakeAnswer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::Replace(answer, "\\u", "%u").size());
  }
  SetThroughput(state);
}

void IconvReference(benchmark::State& state) {
  const quillore::Text answer = MakeAnswer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillore::codepage::Utf16FromGbk(answer).size());
  }
  SetThroughput(state);
}

} // namespace

BENCHMARK(DecodeEscapes)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyReference)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplaceReference)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(IconvReference)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
