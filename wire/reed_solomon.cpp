#include "wire/reed_solomon.hpp"

#include <algorithm>

namespace kestrelis {

namespace {

constexpr int field_polynomial = 0x187;
constexpr int nn = 255;  // code length, and log_table's marker for zero
constexpr int first_root = 112;
constexpr int root_step = 11;
constexpr int root_step_inverse = 116;
constexpr int data_capacity = nn - rs_parity_size;  // 223

// x mod 255 for x >= 0, by folding: 256 = 1 (mod 255).
constexpr int modnn(int x) {
  while (x >= nn) {
    x -= nn;
    x = (x >> 8) + (x & nn);
  }
  return x;
}

struct Field {
  std::array<uint8_t, 256> exp{};
  std::array<uint8_t, 256> log{};
  bool primitive = false;
};

constexpr Field make_field() {
  Field f;
  f.log[0] = nn;
  f.exp[nn] = 0;
  int value = 1;
  for (int i = 0; i < nn; ++i) {
    f.log[static_cast<size_t>(value)] = static_cast<uint8_t>(i);
    f.exp[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
    value <<= 1;
    if (value & 0x100) value ^= field_polynomial;
  }
  f.primitive = value == 1;
  return f;
}

constexpr Field field = make_field();
static_assert(field.primitive, "the field polynomial must be primitive");
static_assert(root_step * root_step_inverse % nn == 1);

constexpr uint8_t field_mul(uint8_t a, uint8_t b) {
  if (a == 0 || b == 0) return 0;
  return field.exp[static_cast<size_t>(modnn(field.log[a] + field.log[b]))];
}

// g(x) = product of (x + alpha^(11 * (112 + i))) for i = 0 ... 31; g[j] is
// the coefficient of x^j, in polynomial form.
constexpr std::array<uint8_t, 33> make_generator() {
  std::array<uint8_t, 33> g{};
  g[0] = 1;
  for (int i = 0; i < rs_parity_size; ++i) {
    const uint8_t root = field.exp[static_cast<size_t>(modnn((first_root + i) * root_step))];
    g[static_cast<size_t>(i) + 1] = 1;
    for (size_t j = static_cast<size_t>(i); j > 0; --j) {
      g[j] = static_cast<uint8_t>(g[j - 1] ^ field_mul(g[j], root));
    }
    g[0] = field_mul(g[0], root);
  }
  return g;
}

constexpr std::array<uint8_t, 33> generator = make_generator();

constexpr std::array<uint8_t, 33> make_generator_log() {
  std::array<uint8_t, 33> g{};
  for (size_t j = 0; j < g.size(); ++j) g[j] = field.log[generator[j]];
  return g;
}

// parity_rows[f][k] = f * g[31 - k]: what one data byte with feedback f adds
// to the shifted parity register, so that encoding costs one row per byte.
using ParityRows = std::array<std::array<uint8_t, rs_parity_size>, 256>;

constexpr ParityRows make_parity_rows() {
  ParityRows rows{};
  for (size_t f = 0; f < rows.size(); ++f) {
    for (size_t k = 0; k < rs_parity_size; ++k) {
      rows[f][k] = field_mul(static_cast<uint8_t>(f), generator[rs_parity_size - 1 - k]);
    }
  }
  return rows;
}

constexpr ParityRows parity_rows = make_parity_rows();

// The remainder of x^32 * d(x) modulo g(x), highest power first.
std::array<uint8_t, rs_parity_size> parity_of(std::span<const uint8_t> data) {
  std::array<uint8_t, rs_parity_size> reg{};
  for (uint8_t d : data) {
    const auto& row = parity_rows[d ^ reg[0]];
    for (size_t k = 0; k + 1 < rs_parity_size; ++k) reg[k] = reg[k + 1] ^ row[k];
    reg[rs_parity_size - 1] = row[rs_parity_size - 1];
  }
  return reg;
}

}  // namespace

const RsCodec& rs_codec() {
  static constexpr RsCodec codec{
      .exp_table = field.exp, .log_table = field.log, .generator = make_generator_log()};
  return codec;
}

bool rs_encode(const RsCodec& /*codec*/, std::span<const uint8_t> data,
               std::span<uint8_t, rs_parity_size> parity, int pad) {
  if (pad < 0 || pad > data_capacity) return false;
  const size_t length = static_cast<size_t>(data_capacity - pad);
  if (data.size() < length) return false;
  std::ranges::copy(parity_of(data.first(length)), parity.begin());
  return true;
}

int rs_decode(const RsCodec& codec, std::span<uint8_t> word) {
  if (word.size() < static_cast<size_t>(nn - rs_max_pad) || word.size() > size_t{nn}) return -1;
  const size_t stored = word.size();
  const int pad = nn - static_cast<int>(stored);
  const auto& exp = codec.exp_table;
  const auto& log = codec.log_table;
  const auto ex = [&exp](int power) { return exp[static_cast<size_t>(modnn(power))]; };

  // The syndromes S_i = r(beta_i) are the values of r(x) mod g(x) at the
  // roots of g, and that remainder is the received parity XOR the parity
  // re-encoded from the received data. So a clean word costs one encoder pass
  // (a row per byte) instead of 32 evaluations over the whole word, and a
  // damaged one 32 evaluations of a 32-symbol polynomial.
  auto remainder = parity_of(word.first(stored - rs_parity_size));
  for (size_t k = 0; k < rs_parity_size; ++k) remainder[k] ^= word[stored - rs_parity_size + k];
  if (std::ranges::all_of(remainder, [](uint8_t r) { return r == 0; })) return 0;

  std::array<int, rs_parity_size> s{};  // log form
  for (int i = 0; i < rs_parity_size; ++i) {
    const int root = modnn((first_root + i) * root_step);
    int value = 0;
    for (uint8_t r : remainder)
      value = r ^ (value == 0 ? 0 : ex(log[static_cast<size_t>(value)] + root));
    s[static_cast<size_t>(i)] = log[static_cast<size_t>(value)];
  }

  // Berlekamp-Massey: lambda in polynomial form, b in log form.
  std::array<uint8_t, rs_parity_size + 1> lambda{};
  std::array<int, rs_parity_size + 1> b{};
  lambda[0] = 1;
  b.fill(nn);
  b[0] = 0;
  const auto shift_b = [&b] {
    std::copy_backward(b.begin(), b.end() - 1, b.end());
    b[0] = nn;
  };
  int length = 0;
  for (int r = 1; r <= rs_parity_size; ++r) {
    int discrepancy = 0;
    for (int i = 0; i < r; ++i) {
      const uint8_t l = lambda[static_cast<size_t>(i)];
      const int syndrome = s[static_cast<size_t>(r - 1 - i)];
      if (l != 0 && syndrome != nn) discrepancy ^= ex(log[l] + syndrome);
    }
    if (discrepancy == 0) {
      shift_b();
      continue;
    }
    const int d = log[static_cast<size_t>(discrepancy)];
    std::array<uint8_t, rs_parity_size + 1> t = lambda;
    for (size_t i = 0; i < rs_parity_size; ++i) {
      if (b[i] != nn) t[i + 1] = static_cast<uint8_t>(t[i + 1] ^ ex(d + b[i]));
    }
    if (2 * length <= r - 1) {
      length = r - length;
      for (size_t i = 0; i < b.size(); ++i)
        b[i] = lambda[i] == 0 ? nn : modnn(log[lambda[i]] - d + nn);
    } else {
      shift_b();
    }
    lambda = t;
  }

  std::array<int, rs_parity_size + 1> lambda_log{};
  int degree = 0;
  for (size_t i = 0; i < lambda.size(); ++i) {
    lambda_log[i] = log[lambda[i]];
    if (lambda[i] != 0) degree = static_cast<int>(i);
  }
  // A locator shorter than the shortest register that generates the
  // syndromes matches no error pattern: its "corrections" leave a non-codeword.
  if (degree != length) return -1;

  // Chien search over the stored positions only: position k is a root when
  // lambda(alpha^i) = 0 with i = 11 * (k + 1). A root among the pad zeros is
  // never found, so such a word fails the root count below.
  const int start = modnn(root_step * pad);
  std::array<int, rs_parity_size + 1> reg{};
  for (size_t j = 1; j <= static_cast<size_t>(degree); ++j) {
    reg[j] = lambda_log[j] == nn ? nn : modnn(lambda_log[j] + static_cast<int>(j) * start);
  }
  std::array<int, rs_parity_size> roots{};
  std::array<int, rs_parity_size> positions{};
  int count = 0;
  for (int k = pad, i = start; k < nn && count < degree; ++k) {
    i = modnn(i + root_step);
    int q = 1;  // lambda[0]
    for (int j = 1; j <= degree; ++j) {
      int& r = reg[static_cast<size_t>(j)];
      if (r == nn) continue;
      r = modnn(r + root_step * j);
      q ^= exp[static_cast<size_t>(r)];
    }
    if (q != 0) continue;
    roots[static_cast<size_t>(count)] = i;
    positions[static_cast<size_t>(count)] = k;
    ++count;
  }
  if (count != degree) return -1;

  // Omega(x) = S(x) * lambda(x) mod x^32, log form, degree below lambda's.
  std::array<int, rs_parity_size> omega{};
  for (int i = 0; i < degree; ++i) {
    int value = 0;
    for (int j = 0; j <= i; ++j) {
      const int syndrome = s[static_cast<size_t>(i - j)];
      const int l = lambda_log[static_cast<size_t>(j)];
      if (syndrome != nn && l != nn) value ^= ex(syndrome + l);
    }
    omega[static_cast<size_t>(i)] = log[static_cast<size_t>(value)];
  }

  // Forney: error value = Omega(alpha^i) * alpha^(111 * i) / lambda'(alpha^i),
  // the derivative being the odd-power terms of lambda.
  for (int c = count - 1; c >= 0; --c) {
    const int i = roots[static_cast<size_t>(c)];
    int numerator = 0;
    for (int j = degree - 1; j >= 0; --j) {
      const int o = omega[static_cast<size_t>(j)];
      if (o != nn) numerator ^= ex(o + j * i);
    }
    if (numerator == 0) continue;
    const int second_factor = modnn(i * (first_root - 1));
    int denominator = 0;
    for (int j = std::min(degree, rs_parity_size - 1) & ~1; j >= 0; j -= 2) {
      const int l = lambda_log[static_cast<size_t>(j) + 1];
      if (l != nn) denominator ^= ex(l + j * i);
    }
    uint8_t& symbol = word[static_cast<size_t>(positions[static_cast<size_t>(c)] - pad)];
    symbol = static_cast<uint8_t>(symbol ^ ex(log[static_cast<size_t>(numerator)] + second_factor +
                                              nn - log[static_cast<size_t>(denominator)]));
  }
  return count;
}

namespace {

// Log form with a marker for zero far above every real sum: zero_log for 0,
// and exp_or_zero[i] = alpha^(i mod 255) below 510, 0 from 510 on. Then
// a * b = exp_or_zero[log_or_marker(a) + log_or_marker(b)] and a * alpha^p
// (p <= 254) likewise, with no test for zero and no reduction mod 255.
constexpr int zero_log = 512;

constexpr std::array<uint16_t, 256> make_log_or_marker() {
  std::array<uint16_t, 256> l{};
  for (size_t x = 0; x < l.size(); ++x) l[x] = x == 0 ? zero_log : field.log[x];
  return l;
}

constexpr std::array<uint8_t, 2 * zero_log + 1> make_exp_or_zero() {
  std::array<uint8_t, 2 * zero_log + 1> e{};
  for (size_t i = 0; i < 2 * nn; ++i) e[i] = field.exp[i % nn];
  return e;
}

constexpr std::array<uint16_t, 256> log_or_marker = make_log_or_marker();
constexpr std::array<uint8_t, 2 * zero_log + 1> exp_or_zero = make_exp_or_zero();

inline uint8_t mul(uint8_t a, uint8_t b) {
  return exp_or_zero[static_cast<size_t>(log_or_marker[a]) + log_or_marker[b]];
}

inline uint8_t mul_power(uint8_t a, int power) {
  return exp_or_zero[static_cast<size_t>(log_or_marker[a] + power)];
}

// sum of p[j] * alpha^(power * j) over j = first, first + 2, ... <= last: the
// terms are independent, so they overlap where Horner's rule would wait.
inline uint8_t evaluate(std::span<const uint8_t> p, int first, int last, int step, int power) {
  uint8_t value = 0;
  const int stride = modnn(step * power);
  for (int j = first, e = modnn(first * power); j <= last; j += step) {
    value ^= mul_power(p[static_cast<size_t>(j)], e);
    e += stride;
    if (e >= nn) e -= nn;
  }
  return value;
}

// syndrome_powers[i][k] = (31 - k) * 11 * (112 + i) mod 255: the power of the
// root beta_i that multiplies remainder byte k (highest power first).
constexpr std::array<std::array<uint8_t, rs_parity_size>, rs_parity_size> make_syndrome_powers() {
  std::array<std::array<uint8_t, rs_parity_size>, rs_parity_size> p{};
  for (int i = 0; i < rs_parity_size; ++i) {
    for (int k = 0; k < rs_parity_size; ++k) {
      p[static_cast<size_t>(i)][static_cast<size_t>(k)] =
          static_cast<uint8_t>((rs_parity_size - 1 - k) * root_step * (first_root + i) % nn);
    }
  }
  return p;
}

constexpr auto syndrome_powers = make_syndrome_powers();

using Poly = std::array<uint8_t, rs_parity_size + 1>;

}  // namespace

// Position k = stored index + pad has the locator X_k = alpha^(11 (254 - k)),
// X_k^-1 = alpha^(11 (k + 1)). With the erasure locator G(x) = prod (1 + X_k x)
// over the erasures and the syndrome polynomial S(x), the modified syndromes
// T(x) = G(x) S(x) mod x^32 satisfy, at indices s ... 31, the recursion of the
// locator of the other errors alone, s(x); Berlekamp-Massey finds it from those
// 32 - s values. The errata locator is then L(x) = s(x) G(x), the evaluator
// W(x) = S(x) L(x) mod x^32, and each value X^(1-112) W(X^-1) / L'(X^-1)
// (Forney).
int rs_decode_erasures(const RsCodec& /*codec*/, std::span<uint8_t> word,
                       std::span<const int> erasures) {
  if (word.size() < static_cast<size_t>(nn - rs_max_pad) || word.size() > size_t{nn}) return -1;
  const int stored = static_cast<int>(word.size());
  const int pad = nn - stored;
  if (erasures.size() > rs_parity_size) return -1;
  std::array<bool, nn> erased{};
  for (int b : erasures) {
    if (b < 0 || b >= stored || erased[static_cast<size_t>(b)]) return -1;
    erased[static_cast<size_t>(b)] = true;
  }
  const int s_count = static_cast<int>(erasures.size());

  // As in rs_decode: the syndromes are the values of r(x) mod g(x).
  auto remainder = parity_of(word.first(word.size() - rs_parity_size));
  for (size_t k = 0; k < rs_parity_size; ++k)
    remainder[k] ^= word[word.size() - rs_parity_size + k];
  if (std::ranges::all_of(remainder, [](uint8_t r) { return r == 0; })) return 0;
  std::array<uint16_t, rs_parity_size> remainder_log{};
  for (size_t k = 0; k < rs_parity_size; ++k) remainder_log[k] = log_or_marker[remainder[k]];
  std::array<uint8_t, rs_parity_size> syndromes{};
  for (size_t i = 0; i < rs_parity_size; ++i) {
    uint8_t value = 0;
    for (size_t k = 0; k < rs_parity_size; ++k) {
      value ^= exp_or_zero[static_cast<size_t>(remainder_log[k] + syndrome_powers[i][k])];
    }
    syndromes[i] = value;
  }

  Poly gamma{};
  gamma[0] = 1;
  for (int e = 0; e < s_count; ++e) {
    const int locator = modnn(root_step * (nn - 1 - (erasures[static_cast<size_t>(e)] + pad)));
    for (int j = e + 1; j >= 1; --j) {
      gamma[static_cast<size_t>(j)] ^= mul_power(gamma[static_cast<size_t>(j) - 1], locator);
    }
  }

  const int n = rs_parity_size - s_count;
  std::array<uint8_t, rs_parity_size> modified{};  // T_(s + j)
  for (int j = 0; j < n; ++j) {
    const int index = s_count + j;
    uint8_t value = 0;
    for (int i = 0; i <= s_count; ++i) {
      value ^= mul(gamma[static_cast<size_t>(i)], syndromes[static_cast<size_t>(index - i)]);
    }
    modified[static_cast<size_t>(j)] = value;
  }

  Poly sigma{};
  Poly b{};
  sigma[0] = 1;
  b[0] = 1;
  int length = 0;
  for (int r = 1; r <= n; ++r) {
    uint8_t discrepancy = 0;
    for (int i = 0; i < r; ++i) {
      discrepancy ^= mul(sigma[static_cast<size_t>(i)], modified[static_cast<size_t>(r - 1 - i)]);
    }
    if (discrepancy == 0) {
      std::copy_backward(b.begin(), b.end() - 1, b.end());
      b[0] = 0;
      continue;
    }
    const int d = field.log[discrepancy];
    Poly t = sigma;
    for (int i = 0; i < r; ++i) {
      t[static_cast<size_t>(i) + 1] ^= mul_power(b[static_cast<size_t>(i)], d);
    }
    if (2 * length <= r - 1) {
      length = r - length;
      for (size_t i = 0; i < b.size(); ++i) b[i] = mul_power(sigma[i], nn - d);
    } else {
      std::copy_backward(b.begin(), b.end() - 1, b.end());
      b[0] = 0;
    }
    sigma = t;
  }
  // Beyond 2t + s <= 32 the answer is not unique: refuse rather than guess.
  if (2 * length + s_count > rs_parity_size) return -1;

  // Chien search of s(x) over the stored positions, as in rs_decode. It must
  // find `length` roots: a locator of lower degree than its register, or one
  // with roots among the pad zeros, matches no error pattern. A root at an
  // erased position would be a double root of the errata locator.
  std::array<int, rs_parity_size> positions{};  // stored indices: erasures, then errors
  std::ranges::copy(erasures, positions.begin());
  int count = s_count;
  if (length > 0) {
    const int start = modnn(root_step * pad);
    std::array<int, rs_parity_size + 1> reg{};
    std::array<int, rs_parity_size + 1> step{};
    for (int j = 1; j <= length; ++j) {
      const uint8_t c = sigma[static_cast<size_t>(j)];
      reg[static_cast<size_t>(j)] = c == 0 ? nn : modnn(field.log[c] + j * start);
      step[static_cast<size_t>(j)] = modnn(root_step * j);
    }
    for (int k = pad; k < nn && count < s_count + length; ++k) {
      uint8_t q = 1;
      for (int j = 1; j <= length; ++j) {
        int& r = reg[static_cast<size_t>(j)];
        if (r == nn) continue;
        r += step[static_cast<size_t>(j)];
        if (r >= nn) r -= nn;
        q ^= field.exp[static_cast<size_t>(r)];
      }
      if (q != 0) continue;
      if (erased[static_cast<size_t>(k - pad)]) return -1;
      positions[static_cast<size_t>(count++)] = k - pad;
    }
    if (count != s_count + length) return -1;
  }

  Poly errata{};
  const int errata_degree = length + s_count;
  for (int i = 0; i <= length; ++i) {
    if (sigma[static_cast<size_t>(i)] == 0) continue;
    for (int j = 0; j <= s_count; ++j) {
      errata[static_cast<size_t>(i + j)] ^=
          mul(sigma[static_cast<size_t>(i)], gamma[static_cast<size_t>(j)]);
    }
  }
  std::array<uint16_t, rs_parity_size> syndrome_log{};
  std::array<uint16_t, rs_parity_size + 1> errata_log{};
  for (size_t i = 0; i < rs_parity_size; ++i) syndrome_log[i] = log_or_marker[syndromes[i]];
  for (size_t i = 0; i < errata_log.size(); ++i) errata_log[i] = log_or_marker[errata[i]];
  std::array<uint8_t, rs_parity_size> omega{};
  for (int i = 0; i < errata_degree; ++i) {
    uint8_t value = 0;
    for (int j = 0; j <= i; ++j) {
      value ^= exp_or_zero[static_cast<size_t>(syndrome_log[static_cast<size_t>(i - j)]) +
                           errata_log[static_cast<size_t>(j)]];
    }
    omega[static_cast<size_t>(i)] = value;
  }

  std::array<uint8_t, rs_parity_size> values{};
  for (int c = 0; c < count; ++c) {
    const int root = modnn(root_step * (positions[static_cast<size_t>(c)] + pad + 1));
    const uint8_t numerator = evaluate(omega, 0, errata_degree - 1, 1, root);
    // The odd terms of L at X^-1 sum to X^-1 L'(X^-1) (in characteristic 2
    // L'(x) = sum over odd m of L_m x^(m - 1)), hence alpha^(112 root) below.
    const uint8_t odd_terms = evaluate(errata, 1, errata_degree, 2, root);
    if (numerator == 0) continue;
    values[static_cast<size_t>(c)] = field.exp[static_cast<size_t>(
        modnn(field.log[numerator] + root * first_root + nn - field.log[odd_terms]))];
  }
  int changed = 0;
  for (int c = 0; c < count; ++c) {
    word[static_cast<size_t>(positions[static_cast<size_t>(c)])] ^= values[static_cast<size_t>(c)];
    changed += values[static_cast<size_t>(c)] != 0 ? 1 : 0;
  }
  return changed;
}

}  // namespace kestrelis
