// The robust frame search against a plain bit-by-bit reference on random bits
// with planted, damaged frames (frames inside failed candidates, four to six
// wrong length bits among them) cut into random datagrams: the same sync words,
// offers, totals, and each offer in the call that brings its codeword's last
// bit. The reference finds a length field's nearest codewords by comparing it
// with all 4096, so this is also the test of the Golay decoder.

#include "wire/robust_detector.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "packet/packet_check.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/downlink_packets.hpp"
#include "wire/golay.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Bits = std::vector<uint8_t>;  // one bit per element, stream order

// A sync word: its first bit, wrong sync and length bits, lengths to offer.
using Sync = std::tuple<uint64_t, int, int, int>;

struct Offer {
  uint64_t bit = 0;
  unsigned length = 0;
  int attempt = 0;
  Bytes packet;  // empty: the codeword did not pass
  bool operator==(const Offer&) const = default;
};

// What a search found, in stream order, and its totals.
struct Record {
  std::vector<Sync> syncs;
  std::vector<Offer> offers;
  RobustCounts counts;
  std::vector<size_t> offers_by_call;  // offers made by the end of each call
  size_t most_carried = 0;             // the detector's largest carry between calls
};

// Decodes and checks a codeword as the downlink does: the packet when it passes.
Bytes accepted_packet(std::span<const uint8_t> codeword) {
  const DecodedCodeword word = decode_codeword(codeword);
  if (word.corrected < 0 || !packet_accepted(check_packet(word.packet()).verdict)) return {};
  return {word.packet().begin(), word.packet().end()};
}

// Runs `stream` through a detector with tolerance `n`, in pieces ending at `ends`, then the rest.
Record detect(int n, std::span<const uint8_t> stream, const std::vector<size_t>& ends) {
  Record r;
  const RobustHandler handler{
      [&r](const RobustCandidate& c) {
        r.syncs.emplace_back(c.bit, c.sync_errors, c.length_errors, c.attempts);
      },
      [&r](std::span<const uint8_t> codeword, const RobustCandidate& c) {
        r.offers.push_back({c.bit, c.length, c.attempt, accepted_packet(codeword)});
        return !r.offers.back().packet.empty();
      }};
  RobustDetector detector;
  detector.sync_bit_errors = n;
  for (size_t begin = 0, i = 0; begin < stream.size(); ++i) {
    const size_t end = i < ends.size() ? ends[i] : stream.size();
    robust_detect(detector, stream.subspan(begin, end - begin), handler);
    r.offers_by_call.push_back(r.offers.size());
    r.most_carried = std::max(r.most_carried, detector.carry_size);
    begin = end;
  }
  r.counts = detector.counts;
  return r;
}

// The search written straight from its description, bit by bit, on one bit per element.
Record reference_search(const Bits& bits, int n) {
  Bits sync;
  put_bytes(sync, 0, sync_word);
  Record r;
  for (size_t p = 0; p + 32 <= bits.size(); ++p) {
    int wrong = 0;
    for (size_t k = 0; k < 32; ++k) wrong += bits[p + k] != sync[k];
    if (wrong > n) continue;
    if (p + 56 > bits.size()) break;
    uint32_t field = 0;
    for (size_t k = 0; k < 24; ++k) field = (field << 1) | bits[p + 32 + k];
    // Lengths in 33 ... 255 at the distance of the nearest codeword, ascending, and at each
    // farther one while sync word and field hold at most 8 wrong bits, the field 6. When the
    // nearest is 4 bits off, the raw last byte follows those at 4.
    const auto distance = [field](unsigned d) { return std::popcount(field ^ golay24_encode(d)); };
    int nearest = 24;
    for (unsigned d = 0; d < 4096; ++d) nearest = std::min(nearest, distance(d));
    std::vector<unsigned> lengths;
    const auto offer = [&lengths](unsigned length) {
      if (length >= 33 && std::ranges::find(lengths, length) == lengths.end()) {
        lengths.push_back(length);
      }
    };
    for (int d = nearest; d <= std::min(6, 8 - wrong); ++d) {
      for (unsigned length = 33; length <= 255; ++length) {
        if (distance(length) == d) offer(length);
      }
      if (d == 4 && nearest == 4) offer(field & 0xFF);
    }
    if (p + 56 + 8 * size_t{lengths.empty() ? 0 : std::ranges::max(lengths)} > bits.size()) break;
    r.syncs.emplace_back(p, wrong, nearest, static_cast<int>(lengths.size()));
    r.counts.sync_words += 1;
    r.counts.length_rejections += lengths.empty();
    r.counts.four_error_fields += !lengths.empty() && nearest == 4;
    bool accepted = false;
    for (size_t i = 0; i < lengths.size() && !accepted; ++i) {
      const auto codeword = bits.begin() + static_cast<ptrdiff_t>(p + 56);
      r.offers.push_back({p, lengths[i], static_cast<int>(i),
                          accepted_packet(pack_bits(Bits(codeword, codeword + 8 * lengths[i])))});
      r.counts.codewords_offered += 1;
      accepted = !r.offers.back().packet.empty();
    }
    if (!accepted) continue;
    r.counts.frames += 1;
    const int wrong_length_bits = distance(r.offers.back().length);
    r.counts.length_bits_corrected += static_cast<unsigned>(wrong_length_bits);
    r.counts.far_length_frames += wrong_length_bits > 3;
    p += 56 + 8 * size_t{r.offers.back().length} - 1;  // the next search starts after the codeword
  }
  return r;
}

// Flips `count` distinct bits among bits[at] ... bits[at + among - 1].
void flip(std::mt19937_64& rng, Bits& bits, size_t at, size_t count, size_t among) {
  std::vector<size_t> all(among);
  std::iota(all.begin(), all.end(), at);
  std::shuffle(all.begin(), all.end(), rng);
  for (size_t k = 0; k < count; ++k) bits[all[k]] ^= 1;
}

struct Plant {
  size_t bit = 0;
  size_t end = 0;           // first bit after the frame
  bool receivable = false;  // damage within what must be repaired, not overwritten
};

// Random bits with frames planted at random offsets: some with wrong bits in
// the sync word, the length field (up to six) or the codeword bytes, some
// starting inside the codeword of the one before (at least 40 bytes before its
// end, so that one fails), some inside a false sync word, length field and codeword.
std::vector<Plant> plant_frames(std::mt19937_64& rng, Bits& bits, int n) {
  std::vector<Plant> plants;
  size_t at = rng() % 3000;
  while (at + robust_frame_bits + 100 < bits.size()) {
    const bool clear = plants.empty() || plants.back().end <= at;
    if (clear && rng() % 8 == 0) {  // a false sync word and length field, a frame inside it
      Bytes prefix(frame_prefix_size);
      const unsigned length = 33 + static_cast<unsigned>(rng() % 223);
      make_frame_prefix(std::span(prefix).first<frame_prefix_size>(), length);
      put_bytes(bits, at, prefix);
      flip(rng, bits, at, rng() % static_cast<size_t>(n + 1), 32);
      flip(rng, bits, at + 32, rng() % 5, 24);
      at += 1 + rng() % (55 + 8 * length);
      continue;
    }
    Bytes payload(rng() % 216);
    for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
    const Bytes frame = frame_of_packet(satellite_packet(8, payload));
    const size_t length = frame.size() - frame_prefix_size;
    put_bytes(bits, at, frame);
    const size_t sync_wrong = rng() % 4 == 0 ? rng() % static_cast<size_t>(n + 2) : 0;
    const size_t length_wrong = rng() % 3 == 0 ? rng() % 7 : 0;
    const size_t bytes_wrong = rng() % 3 == 0 ? rng() % 25 : 0;
    flip(rng, bits, at, sync_wrong, 32);
    flip(rng, bits, at + 32, length_wrong, 24);
    flip(rng, bits, at + 56, bytes_wrong, 8 * length);  // so at most bytes_wrong bytes
    if (!clear) plants.back().receivable = false;
    plants.push_back({at, at + 8 * frame.size(),
                      sync_wrong <= static_cast<size_t>(n) && bytes_wrong <= 16 &&
                          length_wrong <= 6 && sync_wrong + length_wrong <= 8});
    if (length > 40 && rng() % 4 == 0) {
      at += 56 + 8 * (rng() % (length - 40)) + rng() % 8;
    } else {
      at = plants.back().end + rng() % 2000;
    }
  }
  return plants;
}

TEST(RobustDetector, MatchesBitByBitReferenceOnPlantedFrames) {
  for (const auto& [seed, n] : {std::pair{1, 4}, {2, 2}, {3, 6}, {4, 8}, {5, 0}}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " sync_bit_errors " << n);
    std::mt19937_64 rng(static_cast<uint64_t>(seed));
    Bits bits(2'000'000);
    for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
    const std::vector<Plant> plants = plant_frames(rng, bits, n);
    // Pieces of 1 to 16 bytes and of up to 4096 bytes, as datagrams would come.
    std::vector<size_t> ends;
    for (size_t end = 0; end < bits.size() / 8;) {
      end += rng() % 2 == 0 ? 1 + rng() % 16 : 1 + rng() % 4096;
      if (end < bits.size() / 8) ends.push_back(end);
    }
    const Record got = detect(n, pack_bits(bits), ends);
    const Record expected = reference_search(bits, n);
    ASSERT_EQ(got.syncs, expected.syncs);
    ASSERT_EQ(got.offers, expected.offers);
    using Totals = std::array<uint64_t, 7>;  // every field of RobustCounts
    EXPECT_EQ(std::bit_cast<Totals>(got.counts), std::bit_cast<Totals>(expected.counts));
    EXPECT_LE(got.most_carried, robust_carry_capacity);
    for (size_t i = 0; i < ends.size(); ++i) {
      const auto due = std::ranges::find_if(
          expected.offers, [&](const Offer& o) { return o.bit + 56 + 8 * o.length > 8 * ends[i]; });
      ASSERT_EQ(got.offers_by_call[i], size_t(due - expected.offers.begin())) << "byte " << ends[i];
    }
    for (const Plant& p : plants) {
      const auto delivered = [&p](const Offer& o) { return o.bit == p.bit && !o.packet.empty(); };
      EXPECT_TRUE(!p.receivable || std::ranges::count_if(got.offers, delivered) == 1)
          << "lost the frame at bit " << p.bit;
    }
    EXPECT_GT(std::ranges::count_if(plants, &Plant::receivable), 600);
    EXPECT_GT(got.counts.far_length_frames, n == 0 ? 0u : 20u);  // 4 ... 6 wrong length bits
  }
}

}  // namespace

}  // namespace kestrelis
