// The layout stage on any fragments: every byte string becomes fragments (eight 16-bit coordinates,
// then a length and that many bytes of text), and every layout must read each text exactly once and
// keep every box inside the boxes around it, also after cutting lines run across gutters. The first
// two bytes give the picture's size.
#include "service/layout.h"

#include "tests/service/layout_invariants.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quillore::service;

namespace {

// Far more fragments than a page holds would only slow the fuzzer down.
constexpr std::size_t kMaxFragments = 2000;

int Coordinate(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

std::string Letters(const std::vector<Fragment>& fragments) {
  std::string all;
  for (const Fragment& f : fragments) {
    for (const char c : f.text) {
      if (c != ' ') {
        all += c;
      }
    }
  }
  return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const int width = data[0] * 16;
  const int height = data[1] * 16;
  std::vector<Fragment> fragments;
  for (std::size_t i = 2; i + 17 <= size && fragments.size() < kMaxFragments;) {
    Fragment f;
    for (std::size_t k = 0; k < 8; ++k) {
      f.box[k] = Coordinate(data + i + 2 * k);
    }
    const std::size_t length = std::min<std::size_t>(data[i + 16], size - i - 17);
    f.text.assign(reinterpret_cast<const char*>(data + i + 17), length);
    fragments.push_back(std::move(f));
    i += 17 + length;
  }
  const Layout layout = ArrangeFragments(fragments, width, height);
  const std::string broken = LayoutBroken(fragments, layout);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken: %s\n", broken.c_str());
    std::abort();
  }
  // Lines cut across gutters keep every character but the spaces at the cuts, in order.
  const std::vector<Fragment> cut = CutAcrossGutters(fragments);
  if (Letters(cut) != Letters(fragments)) {
    std::fprintf(stderr, "cutting lost or moved characters\n");
    std::abort();
  }
  const std::string cutBroken = LayoutBroken(cut, ArrangeFragments(cut, width, height));
  if (!cutBroken.empty()) {
    std::fprintf(stderr, "broken after cutting: %s\n", cutBroken.c_str());
    std::abort();
  }
  return 0;
}
