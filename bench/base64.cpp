// EncodeBase64 against OpenSSL's EVP_EncodeBlock on the same input, in the same run.
#include "recognition/base64.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>

namespace {

quillore::Bytes RandomBytes(std::size_t size) {
  quillore::Bytes bytes(size);
  std::mt19937 random(42);
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

void Ours(benchmark::State& state) {
  quillore::Bytes input = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    quillore::Text out = quillore::EncodeBase64(input);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The reference, given the same chance: output allocated once, like ours.
void OpenSsl(benchmark::State& state) {
  quillore::Bytes input = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string out(4 * ((input.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), input.data(),
                                  static_cast<int>(input.size()));
    out.resize(written);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(Ours)->Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSsl)->Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
