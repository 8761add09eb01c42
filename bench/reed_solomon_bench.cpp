// The codec beside libfec's encode_rs_8 / decode_rs_8 on the same words:
// compare each "ours" line with the "libfec" line of the same arguments.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "wire/reed_solomon.hpp"

#if KESTRELIS_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}
#endif

namespace kestrelis {

namespace {

// A codeword of random data at `pad`, and a copy with `errors` symbols changed.
struct Words {
  std::vector<uint8_t> clean;
  std::vector<uint8_t> damaged;
};

Words make_words(int pad, int errors) {
  std::mt19937 rng(4242);
  Words w;
  w.clean.resize(static_cast<size_t>(255 - pad));
  std::ranges::generate(w.clean, [&] { return static_cast<uint8_t>(rng()); });
  if (!rs_encode(*rs_init(pad), w.clean, std::span(w.clean).last<rs_parity_size>(), pad)) {
    std::abort();
  }
  std::vector<size_t> positions(w.clean.size());
  std::iota(positions.begin(), positions.end(), size_t{0});
  std::shuffle(positions.begin(), positions.end(), rng);
  w.damaged = w.clean;
  for (int i = 0; i < errors; ++i) {
    w.damaged[positions[static_cast<size_t>(i)]] ^= static_cast<uint8_t>(1 + rng() % 255);
  }
  return w;
}

void rs_init_only(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(rs_init(214));
}

void encode_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  const RsCodec codec = *rs_init(pad);
  std::array<uint8_t, rs_parity_size> parity{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(rs_encode(codec, w.clean, parity, pad));
    benchmark::DoNotOptimize(parity.data());
  }
}

// rs_init and rs_decode of a clean word, as the receive chain runs per frame.
void decode_clean_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  for (auto _ : state) {
    const auto codec = rs_init(pad);
    benchmark::DoNotOptimize(rs_decode(*codec, w.clean, pad));
  }
}

void decode_clean_ours_no_init(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  const RsCodec codec = *rs_init(pad);
  for (auto _ : state) benchmark::DoNotOptimize(rs_decode(codec, w.clean, pad));
}

void decode_16_errors_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 16);
  std::vector<uint8_t> word = w.damaged;
  for (auto _ : state) {
    std::ranges::copy(w.damaged, word.begin());
    const auto codec = rs_init(pad);
    benchmark::DoNotOptimize(rs_decode(*codec, word, pad));
  }
  if (word != w.clean) state.SkipWithError("not corrected");
}

#if KESTRELIS_HAVE_LIBFEC
void encode_libfec(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  std::array<uint8_t, rs_parity_size> parity{};
  for (auto _ : state) {
    encode_rs_8(w.clean.data(), parity.data(), pad);
    benchmark::DoNotOptimize(parity.data());
  }
}

void decode_clean_libfec(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  for (auto _ : state) benchmark::DoNotOptimize(decode_rs_8(w.clean.data(), nullptr, 0, pad));
}

void decode_16_errors_libfec(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 16);
  std::vector<uint8_t> word = w.damaged;
  for (auto _ : state) {
    std::ranges::copy(w.damaged, word.begin());
    benchmark::DoNotOptimize(decode_rs_8(word.data(), nullptr, 0, pad));
  }
  if (word != w.clean) state.SkipWithError("not corrected");
}
#endif

BENCHMARK(rs_init_only)->Name("rs_init");
BENCHMARK(encode_ours)->Name("encode/ours")->Arg(0)->Arg(214);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(encode_libfec)->Name("encode/libfec")->Arg(0)->Arg(214);
#endif
BENCHMARK(decode_clean_ours_no_init)->Name("decode_clean/ours")->Arg(0)->Arg(214);
BENCHMARK(decode_clean_ours)->Name("decode_clean/ours_with_rs_init")->Arg(0)->Arg(214);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(decode_clean_libfec)->Name("decode_clean/libfec")->Arg(0)->Arg(214);
#endif
BENCHMARK(decode_16_errors_ours)->Name("decode_16_errors/ours_with_rs_init")->Arg(0);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(decode_16_errors_libfec)->Name("decode_16_errors/libfec")->Arg(0);
#endif

}  // namespace

}  // namespace kestrelis
