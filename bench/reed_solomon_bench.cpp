// The codec beside libfec's encode_rs_8 / decode_rs_8 on the same words:
// compare each "ours" line with the "libfec" line of the same arguments. The
// erasure decoders also run side by side in one benchmark, which reports the
// ratio of their times.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
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
  if (!rs_encode(rs_codec(), w.clean, std::span(w.clean).last<rs_parity_size>(), pad)) {
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

void encode_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  const RsCodec& codec = rs_codec();
  std::array<uint8_t, rs_parity_size> parity{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(rs_encode(codec, w.clean, parity, pad));
    benchmark::DoNotOptimize(parity.data());
  }
}

void decode_clean_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 0);
  for (auto _ : state) benchmark::DoNotOptimize(rs_decode(rs_codec(), w.clean));
}

void decode_16_errors_ours(benchmark::State& state) {
  const int pad = static_cast<int>(state.range(0));
  Words w = make_words(pad, 16);
  std::vector<uint8_t> word = w.damaged;
  for (auto _ : state) {
    std::ranges::copy(w.damaged, word.begin());
    benchmark::DoNotOptimize(rs_decode(rs_codec(), word));
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

// Errors-and-erasures decoding at pad 0 with the bound filled: `erasures`
// bytes erased (given random values) and (32 - erasures) / 2 errors elsewhere.
struct ErasedWords {
  Words words;
  std::vector<int> erasures;
};

ErasedWords make_erased_words(int erasures) {
  ErasedWords e;
  e.words = make_words(0, 0);
  std::mt19937 rng(4343);
  std::vector<int> positions(e.words.clean.size());
  std::iota(positions.begin(), positions.end(), 0);
  std::shuffle(positions.begin(), positions.end(), rng);
  e.erasures.assign(positions.begin(), positions.begin() + erasures);
  const int errors = (rs_parity_size - erasures) / 2;
  for (int i = 0; i < erasures + errors; ++i) {
    e.words.damaged[static_cast<size_t>(positions[static_cast<size_t>(i)])] ^=
        static_cast<uint8_t>(1 + rng() % 255);
  }
  return e;
}

void decode_erasures_ours(benchmark::State& state) {
  const ErasedWords e = make_erased_words(static_cast<int>(state.range(0)));
  const RsCodec& codec = rs_codec();
  std::vector<uint8_t> word = e.words.damaged;
  for (auto _ : state) {
    std::ranges::copy(e.words.damaged, word.begin());
    benchmark::DoNotOptimize(rs_decode_erasures(codec, word, e.erasures));
  }
  if (word != e.words.clean) state.SkipWithError("not corrected");
}

#if KESTRELIS_HAVE_LIBFEC
void decode_erasures_libfec(benchmark::State& state) {
  const ErasedWords e = make_erased_words(static_cast<int>(state.range(0)));
  std::vector<uint8_t> word = e.words.damaged;
  std::array<int, rs_parity_size> positions{};
  for (auto _ : state) {
    std::ranges::copy(e.words.damaged, word.begin());
    std::ranges::copy(e.erasures, positions.begin());
    benchmark::DoNotOptimize(
        decode_rs_8(word.data(), positions.data(), static_cast<int>(e.erasures.size()), 0));
  }
  if (word != e.words.clean) state.SkipWithError("not corrected");
}

// Both decoders in alternating batches of the same words, so that a load
// that comes and goes weighs on both: ratio = ours / libfec (goal: <= 1).
void decode_erasures_ratio(benchmark::State& state) {
  const ErasedWords e = make_erased_words(static_cast<int>(state.range(0)));
  const RsCodec& codec = rs_codec();
  std::vector<uint8_t> word = e.words.damaged;
  std::array<int, rs_parity_size> positions{};
  constexpr int batch = 64;
  std::chrono::steady_clock::duration ours{};
  std::chrono::steady_clock::duration theirs{};
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) {
      std::ranges::copy(e.words.damaged, word.begin());
      benchmark::DoNotOptimize(rs_decode_erasures(codec, word, e.erasures));
    }
    auto middle = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) {
      std::ranges::copy(e.words.damaged, word.begin());
      std::ranges::copy(e.erasures, positions.begin());
      benchmark::DoNotOptimize(
          decode_rs_8(word.data(), positions.data(), static_cast<int>(e.erasures.size()), 0));
    }
    auto end = std::chrono::steady_clock::now();
    ours += middle - start;
    theirs += end - middle;
  }
  const double decodes = static_cast<double>(state.iterations()) * batch;
  const double ours_ns = std::chrono::duration<double, std::nano>(ours).count() / decodes;
  const double theirs_ns = std::chrono::duration<double, std::nano>(theirs).count() / decodes;
  state.counters["ours_ns"] = ours_ns;
  state.counters["libfec_ns"] = theirs_ns;
  state.counters["ratio"] = ours_ns / theirs_ns;
}
#endif

BENCHMARK(encode_ours)->Name("encode/ours")->Arg(0)->Arg(214);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(encode_libfec)->Name("encode/libfec")->Arg(0)->Arg(214);
#endif
BENCHMARK(decode_clean_ours)->Name("decode_clean/ours")->Arg(0)->Arg(214);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(decode_clean_libfec)->Name("decode_clean/libfec")->Arg(0)->Arg(214);
#endif
BENCHMARK(decode_16_errors_ours)->Name("decode_16_errors/ours")->Arg(0);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(decode_16_errors_libfec)->Name("decode_16_errors/libfec")->Arg(0);
#endif
BENCHMARK(decode_erasures_ours)->Name("decode_erasures/ours")->Arg(0)->Arg(16)->Arg(32);
#if KESTRELIS_HAVE_LIBFEC
BENCHMARK(decode_erasures_libfec)->Name("decode_erasures/libfec")->Arg(0)->Arg(16)->Arg(32);
BENCHMARK(decode_erasures_ratio)
    ->Name("decode_erasures/ours_over_libfec")
    ->Arg(0)
    ->Arg(16)
    ->Arg(32);
#endif

}  // namespace

}  // namespace kestrelis
