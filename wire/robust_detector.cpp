#include "wire/robust_detector.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace kestrelis {

namespace {

constexpr uint32_t sync_value = 0x930B51DE;
constexpr size_t sync_bits = 32;
constexpr size_t header_bits = sync_bits + 24;
// Enough bytes behind the carry to decide any sync word that starts in it.
constexpr size_t join_lookahead = robust_carry_capacity;

using LaneTable = std::array<uint64_t, 256>;

// The search looks at the stream one byte i at a time. A sync word starting
// o = 0 ... 7 bits before byte i covers the low o bits of byte i - 1, all of
// bytes i ... i + 2 and the high 8 - o bits of byte i + 3. Table m + 1 gives,
// in byte lane o, how many bits of byte i + m differ from the sync bits they
// would carry; the five summed are the sync word's wrong bits at all eight
// offsets at once.
constexpr std::array<LaneTable, 5> make_sync_tables() {
  std::array<LaneTable, 5> tables{};
  for (int m = -1; m <= 3; ++m) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      uint64_t lanes = 0;
      for (int o = 0; o < 8; ++o) {
        uint64_t wrong = 0;
        for (int j = 0; j < 8; ++j) {
          const int k = o + 8 * m + j;  // sync bit under bit j (most significant first)
          if (k < 0 || k >= 32) continue;
          wrong += ((byte >> (7 - j)) & 1u) != ((sync_value >> (31 - k)) & 1u);
        }
        lanes |= wrong << (8 * o);
      }
      tables[static_cast<size_t>(m + 1)][byte] = lanes;
    }
  }
  return tables;
}

constexpr std::array<LaneTable, 5> sync_tables = make_sync_tables();

constexpr uint64_t lane_ones = 0x0101010101010101;
constexpr uint64_t lane_highs = 0x8080808080808080;

static_assert(((sync_tables[0][0xFF] + sync_tables[1][0x93] + sync_tables[2][0x0B] +
                sync_tables[3][0x51] + sync_tables[4][0xDE]) &
               0xFF) == 0);

// `count` (1 ... 32) bits from bit `at`, the first most significant; all must be in `data`.
uint32_t bits_at(std::span<const uint8_t> data, size_t at, size_t count) {
  uint64_t v = 0;
  const size_t last = (at + count - 1) / 8;
  for (size_t i = at / 8; i <= last; ++i) v = (v << 8) | data[i];
  const size_t unused = (last + 1) * 8 - (at + count);
  return static_cast<uint32_t>((v >> unused) & ((uint64_t{1} << count) - 1));
}

// The first bit from `from` on, below `stop`, where a sync word starts with at
// most `n` wrong bits; else the first one whose 32 bits are not all in
// `data`; else `stop`.
size_t find_sync(std::span<const uint8_t> data, size_t from, size_t stop, unsigned n) {
  const size_t size = data.size();
  // A lane below n + 1 sets its high bit here; lanes never exceed 32.
  const uint64_t limit = lane_ones * (n + 1);
  // At low tolerances the three whole bytes alone rule out nearly every
  // offset; at high ones they pass about every tenth byte or more, and the
  // branch costs more than the two lookups it saves.
  const bool middle_first = n <= 5;
  size_t i = (from + 7) / 8;
  for (; i + 3 < size && 8 * i < stop + 7; ++i) {
    const uint64_t middle =
        sync_tables[1][data[i]] + sync_tables[2][data[i + 1]] + sync_tables[3][data[i + 2]];
    if (middle_first && ((middle - limit) & ~middle & lane_highs) == 0) continue;
    const uint64_t wrong =
        middle + sync_tables[0][i == 0 ? 0 : data[i - 1]] + sync_tables[4][data[i + 3]];
    if (((wrong - limit) & ~wrong & lane_highs) == 0) continue;
    for (size_t o = std::min<size_t>(7, 8 * i) + 1; o-- > 0;) {  // ascending stream bits
      const size_t at = 8 * i - o;
      if (at < from) continue;
      if (at >= stop) return stop;
      if (((wrong >> (8 * o)) & 0xFF) <= n) return at;
    }
  }
  for (size_t at = std::max(from, 8 * i >= 7 ? 8 * i - 7 : 0); at < stop; ++at) {
    if (at + sync_bits > 8 * size) return at;
    if (std::popcount(bits_at(data, at, sync_bits) ^ sync_value) <= static_cast<int>(n)) {
      return at;
    }
  }
  return stop;
}

// The lengths offered for one length field, each with the bits its codeword
// differs from the field.
struct LengthChoice {
  int wrong_bits = 0;
  int count = 0;
  std::array<unsigned, robust_max_lengths> lengths{};
  std::array<int, robust_max_lengths> distances{};
};

// The codeword of every length a frame can have.
const std::array<uint32_t, robust_max_length + 1>& length_codewords() {
  static const auto codewords = [] {
    std::array<uint32_t, robust_max_length + 1> c{};
    for (unsigned length = robust_min_length; length <= robust_max_length; ++length) {
      c[length] = golay24_encode(length);
    }
    return c;
  }();
  return codewords;
}

LengthChoice choose_lengths(uint32_t field, int sync_errors) {
  const GolayDecoded decoded = golay24_decode(field);
  const auto& codewords = length_codewords();
  LengthChoice c;
  c.wrong_bits = decoded.wrong_bits;
  const auto offer = [&c, &codewords, field](unsigned length) {
    const auto taken = std::span(c.lengths).first(static_cast<size_t>(c.count));
    if (length < robust_min_length || length > robust_max_length) return;
    if (std::ranges::find(taken, length) != taken.end()) return;
    c.lengths[static_cast<size_t>(c.count)] = length;
    c.distances[static_cast<size_t>(c.count++)] = std::popcount(field ^ codewords[length]);
  };
  // A sync word with more than 4 wrong bits is weak evidence on its own: its
  // length field must make up the rest of the 8 wrong bits allowed.
  const int reach = robust_evidence_bits - sync_errors;
  if (decoded.wrong_bits <= std::min(3, reach)) {
    offer(decoded.data);
  } else if (decoded.wrong_bits == 4 && reach >= 4) {
    for (uint16_t data : decoded.nearest) offer(data);
    offer(field & 0xFF);
  }
  // Codewords differ in at least 8 bits and all have even weight, so the
  // others lie at least 8 - d bits from a field d bits from its nearest one,
  // and at least 6 from a field 4 bits from six.
  const int others = decoded.wrong_bits <= 3 ? 8 - decoded.wrong_bits : 6;
  const int farthest = std::min(robust_far_length_bits, reach);
  for (int distance = others; distance <= farthest; ++distance) {
    for (unsigned length = robust_min_length; length <= robust_max_length; ++length) {
      if (std::popcount(field ^ codewords[length]) == distance) offer(length);
    }
  }
  return c;
}

// Offers the choice's length k of the sync word at bit `at`, whose codeword
// is all in `data`; returns whether the caller accepted it.
bool offer_codeword(RobustDetector& d, std::span<const uint8_t> data, size_t at,
                    const LengthChoice& choice, int k, RobustCandidate candidate,
                    const RobustHandler& handler) {
  std::array<uint8_t, robust_max_length> codeword{};
  const size_t first = at + header_bits;
  const size_t byte = first / 8;
  const unsigned shift = static_cast<unsigned>(first % 8);
  const unsigned length = choice.lengths[static_cast<size_t>(k)];
  // A codeword not on a byte boundary also reads part of the byte after it, which is in `data`.
  for (size_t j = 0; j < length; ++j) {
    const unsigned pair = shift == 0 ? unsigned{data[byte + j]} << 8
                                     : (unsigned{data[byte + j]} << 8) | data[byte + j + 1];
    codeword[j] = static_cast<uint8_t>(pair >> (8 - shift));
  }
  candidate.attempt = k;
  candidate.length = length;
  candidate.length_distance = choice.distances[static_cast<size_t>(k)];
  ++d.counts.codewords_offered;
  return handler.try_codeword && handler.try_codeword(std::span(codeword).first(length), candidate);
}

// Decides every sync word starting in [from, stop) of `data`, whose first bit
// is stream bit `base`; `resume` tells how far the one at `from` had got.
// Returns the first bit not decided: `stop`, a bit past it after an accepted
// codeword, or a sync word whose next length's bits have not all come, which
// it leaves in d.resume.
size_t search(RobustDetector& d, std::span<const uint8_t> data, uint64_t base, size_t from,
              size_t stop, RobustResume resume, const RobustHandler& handler) {
  const size_t bits = data.size() * 8;
  const auto n =
      static_cast<unsigned>(std::clamp(d.sync_bit_errors, 0, robust_max_sync_bit_errors));
  size_t at = from;
  while (at < stop) {
    at = find_sync(data, at, stop, n);
    if (at >= stop || at + header_bits > bits) return at;
    const RobustResume done = at == from ? resume : RobustResume{};
    resume = {};
    const int sync_errors = std::popcount(bits_at(data, at, sync_bits) ^ sync_value);
    const LengthChoice choice = choose_lengths(bits_at(data, at + sync_bits, 24), sync_errors);
    const auto complete = [&choice, at, bits](int k) {
      return at + header_bits + 8 * size_t{choice.lengths[static_cast<size_t>(k)]} <= bits;
    };
    if (done.refused < choice.count && !complete(done.refused)) {
      d.resume = done;
      return at;
    }

    RobustCandidate candidate;
    candidate.bit = base + at;
    candidate.sync_errors = sync_errors;
    candidate.length_errors = choice.wrong_bits;
    candidate.attempts = choice.count;
    candidate.length = choice.count == 0 ? 0 : choice.lengths[0];
    candidate.length_distance = choice.count == 0 ? 0 : choice.distances[0];
    RobustCounts& counts = d.counts;
    if (!done.announced) {
      ++counts.sync_words;
      if (choice.count == 0) {
        ++counts.length_rejections;
      } else if (choice.wrong_bits == 4) {
        ++counts.four_error_fields;
      }
      if (handler.sync_found) handler.sync_found(candidate);
    }
    int k = done.refused;
    for (; k < choice.count; ++k) {
      if (!complete(k)) {
        d.resume = {true, k};
        return at;
      }
      if (offer_codeword(d, data, at, choice, k, candidate, handler)) break;
    }
    if (k == choice.count) {
      ++at;
      continue;
    }
    ++counts.frames;
    const int distance = choice.distances[static_cast<size_t>(k)];
    counts.length_bits_corrected += static_cast<uint64_t>(distance);
    if (distance > 3) ++counts.far_length_frames;
    at += header_bits + 8 * size_t{choice.lengths[static_cast<size_t>(k)]};
  }
  return at;
}

// Keeps the bytes of `data` from the one holding bit `next` for the next call.
void keep_rest(RobustDetector& d, std::span<const uint8_t> data, uint64_t base, size_t next) {
  const size_t first = next / 8;
  const auto rest = data.subspan(first);
  d.carry_size = std::min(rest.size(), d.carry.size());
  std::copy_n(rest.begin(), d.carry_size, d.carry.begin());
  d.carry_from = static_cast<unsigned>(next % 8);
  d.carry_bit = base + 8 * first;
}

}  // namespace

void robust_detect(RobustDetector& detector, std::span<const uint8_t> bytes,
                   const RobustHandler& handler) {
  RobustDetector& d = detector;
  const uint64_t bytes_bit = d.carry_bit + 8 * d.carry_size;
  size_t from = d.carry_from;
  // Only the first sync word this call finds can be the one left undecided.
  RobustResume resume = std::exchange(d.resume, {});
  if (d.carry_size > 0) {
    // Sync words starting in the carry are decided over the carry joined to
    // the start of `bytes`; the rest of `bytes` is searched where it lies.
    std::array<uint8_t, robust_carry_capacity + join_lookahead> join{};
    const size_t taken = std::min(bytes.size(), join_lookahead);
    std::copy_n(d.carry.begin(), d.carry_size, join.begin());
    std::copy_n(bytes.begin(), taken, join.begin() + static_cast<ptrdiff_t>(d.carry_size));
    const auto joined = std::span(join).first(d.carry_size + taken);
    const size_t carry_bits = 8 * d.carry_size;
    const size_t next = search(d, joined, d.carry_bit, d.carry_from, carry_bits, resume, handler);
    if (next < carry_bits) {  // undecided: all of `bytes` is in `joined`
      keep_rest(d, joined, d.carry_bit, next);
      return;
    }
    from = next - carry_bits;
    resume = {};
  }
  const size_t next = search(d, bytes, bytes_bit, from, 8 * bytes.size(), resume, handler);
  keep_rest(d, bytes, bytes_bit, next);
}

}  // namespace kestrelis
