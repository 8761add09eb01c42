// The length field's Golay code and the robust frame search: sync words at the
// edge of the tolerance, frames inside failed candidates, whole or split; and
// the search against a plain bit-by-bit reference on random bits with planted,
// damaged frames (four wrong length bits among them) cut into random datagrams.

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
using Bits = std::vector<uint8_t>;                           // one bit per element, stream order
using Deliveries = std::vector<std::pair<uint64_t, Bytes>>;  // bit of the sync word, packet

// The distance from `word` to its nearest codewords and their data, ascending,
// by comparing it with every codeword.
std::pair<int, std::vector<unsigned>> nearest_codewords(uint32_t word) {
  static const auto codewords = [] {
    std::array<uint32_t, 4096> c{};
    for (unsigned data = 0; data < c.size(); ++data) c[data] = golay24_encode(data);
    return c;
  }();
  int nearest = 24;
  std::vector<unsigned> data;
  for (unsigned d = 0; d < codewords.size(); ++d) {
    const int distance = std::popcount(word ^ codewords[d]);
    if (distance < nearest) data.clear();
    nearest = std::min(nearest, distance);
    if (distance == nearest) data.push_back(d);
  }
  return {nearest, data};
}

// Every word 4 bits from its nearest codeword is c ^ e for a codeword c and
// one of the 10,626 weight-4 patterns e.
TEST(Golay, CorrectsUpToThreeWrongBitsAndListsTheSixCodewordsAtFour) {
  std::array<std::vector<uint32_t>, 5> patterns;  // every error pattern, by weight
  for (uint32_t e = 0; e < (1u << 24); ++e) {
    if (const int w = std::popcount(e); w <= 4) patterns[static_cast<size_t>(w)].push_back(e);
  }
  for (unsigned length : {0u, 33u, 41u, 170u, 255u, 4095u}) {
    ASSERT_EQ(golay24_encode(length) & 0xFFF, length);  // the data in the low 12 bits
    ASSERT_EQ(golay24_encode(0x1000 | length), golay24_encode(length));
    for (int weight = 0; weight <= 3; ++weight) {
      for (uint32_t error : patterns[static_cast<size_t>(weight)]) {
        const GolayDecoded got = golay24_decode(golay24_encode(length) ^ error);
        ASSERT_EQ(std::pair(got.data, got.wrong_bits), std::pair(length, weight))
            << "length " << length << " error " << std::hex << error;
      }
    }
  }
  for (uint32_t error : patterns[4]) {
    const uint32_t received = golay24_encode(170) ^ error;
    const auto [distance, expected] = nearest_codewords(received);
    ASSERT_EQ(std::pair(distance, expected.size()), std::pair(4, size_t{6})) << std::hex << error;
    const GolayDecoded got = golay24_decode(received);
    ASSERT_EQ(got.wrong_bits, 4) << "error " << std::hex << error;
    ASSERT_TRUE(std::ranges::equal(got.nearest, expected)) << "error " << std::hex << error;
  }
}

// A frame and the packet it carries (header, payload, CRC-32C over both).
struct TestFrame {
  Bytes bytes;
  Bytes packet;
  unsigned length() const { return static_cast<unsigned>(bytes.size() - frame_prefix_size); }
};

TestFrame make_frame(std::mt19937_64& rng, size_t payload_size) {
  Bytes payload(payload_size);
  for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
  const Bytes packet = satellite_packet(8, payload);
  return {frame_of_packet(packet), packet};
}

struct Sync {
  uint64_t bit = 0;
  int sync_errors = 0;
  int length_errors = 0;
  int attempts = 0;
  bool operator==(const Sync&) const = default;
};

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
  size_t most_carried = 0;  // the detector's largest carry between calls
  Deliveries deliveries() const {
    Deliveries out;
    for (const Offer& o : offers) {
      if (!o.packet.empty()) out.emplace_back(o.bit, o.packet);
    }
    return out;
  }
};

auto totals(const RobustCounts& c) {
  return std::tuple(c.sync_words, c.length_rejections, c.four_error_fields, c.codewords_offered,
                    c.frames, c.length_bits_corrected, c.far_length_frames);
}

// Decodes and checks a codeword as the downlink does: the packet when it passes.
Bytes accepted_packet(std::span<const uint8_t> codeword) {
  const DecodedCodeword word = decode_codeword(codeword);
  if (word.corrected < 0 || !packet_accepted(check_packet(word.packet()).verdict)) return {};
  return {word.packet().begin(), word.packet().end()};
}

// Runs `stream` through a detector with tolerance `n`, in pieces ending at `ends`, then the rest.
Record detect(int n, std::span<const uint8_t> stream, const std::vector<size_t>& ends = {}) {
  Record r;
  const RobustHandler handler{
      [&r](const RobustCandidate& c) {
        r.syncs.push_back({c.bit, c.sync_errors, c.length_errors, c.attempts});
      },
      [&r](std::span<const uint8_t> codeword, const RobustCandidate& c) {
        r.offers.push_back({c.bit, c.length, c.attempt, accepted_packet(codeword)});
        return !r.offers.back().packet.empty();
      }};
  RobustDetector detector;
  detector.sync_bit_errors = n;
  for (size_t begin = 0, i = 0; begin < stream.size() || i == 0; ++i) {
    const size_t end = i < ends.size() ? ends[i] : stream.size();
    robust_detect(detector, stream.subspan(begin, end - begin), handler);
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
  for (size_t p = 0; p + 32 <= bits.size();) {
    int wrong = 0;
    for (size_t k = 0; k < 32; ++k) wrong += bits[p + k] != sync[k];
    if (wrong > n) {
      ++p;
      continue;
    }
    if (p + 56 > bits.size()) break;
    uint32_t field = 0;
    for (size_t k = 0; k < 24; ++k) field = (field << 1) | bits[p + 32 + k];
    // The nearest lengths in 33 ... 255, ascending; 4 bits off, then the raw last byte too.
    auto [nearest, lengths] = nearest_codewords(field);
    std::erase_if(lengths, [](unsigned d) { return d < 33 || d > 255; });
    const auto distance = [field](unsigned length) {
      return std::popcount(field ^ golay24_encode(length));
    };
    const auto offer = [&lengths](unsigned length) {
      if (length >= 33 && std::ranges::find(lengths, length) == lengths.end()) {
        lengths.push_back(length);
      }
    };
    if (nearest > 8 - wrong) lengths.clear();
    if (nearest == 4 && wrong <= 4) offer(field & 0xFF);
    // Then farther lengths while sync word and field hold at most 8 wrong bits, the field 6.
    for (int d = nearest + 1; d <= std::min(6, 8 - wrong); ++d) {
      for (unsigned length = 33; length <= 255; ++length) {
        if (distance(length) == d) offer(length);
      }
    }
    if (p + 56 + 8 * size_t{lengths.empty() ? 0 : std::ranges::max(lengths)} > bits.size()) break;
    r.syncs.push_back({p, wrong, nearest, static_cast<int>(lengths.size())});
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
    if (!accepted) {
      ++p;
      continue;
    }
    r.counts.frames += 1;
    const int wrong_length_bits = distance(r.offers.back().length);
    r.counts.length_bits_corrected += static_cast<unsigned>(wrong_length_bits);
    r.counts.far_length_frames += wrong_length_bits > 3;
    p += 56 + 8 * size_t{r.offers.back().length};
  }
  return r;
}

// Runs `bits` through the detector as `detect` does, checks each sync word,
// offer and total against the reference, and returns what the detector found.
Record checked(const Bits& bits, int n, const std::vector<size_t>& ends = {}) {
  const Record got = detect(n, pack_bits(bits), ends);
  const Record expected = reference_search(bits, n);
  EXPECT_EQ(got.syncs, expected.syncs);
  EXPECT_EQ(got.offers, expected.offers);
  EXPECT_EQ(totals(got.counts), totals(expected.counts));
  return got;
}

// Runs `stream` with tolerance 4 in pieces ending at `ends` and checks that it finds what
// `whole` found, carrying at most the detector's capacity between calls.
void expect_as_whole(const Record& whole, std::span<const uint8_t> stream,
                     const std::vector<size_t>& ends) {
  SCOPED_TRACE(testing::Message() << ends.size() + 1 << " pieces, the first of " << ends[0]);
  const Record pieces = detect(4, stream, ends);
  EXPECT_EQ(std::tie(pieces.syncs, pieces.offers), std::tie(whole.syncs, whole.offers));
  EXPECT_EQ(totals(pieces.counts), totals(whole.counts));
  EXPECT_LE(pieces.most_carried, robust_carry_capacity);
}

// Piece ends that feed a stream of `size` bytes one byte per call.
std::vector<size_t> every_byte(size_t size) {
  std::vector<size_t> ends(size == 0 ? 0 : size - 1);
  std::iota(ends.begin(), ends.end(), 1);
  return ends;
}

// Flips `count` distinct bits among bits[at] ... bits[at + among - 1].
void flip(std::mt19937_64& rng, Bits& bits, size_t at, size_t count, size_t among) {
  std::vector<size_t> all(among);
  std::iota(all.begin(), all.end(), at);
  std::shuffle(all.begin(), all.end(), rng);
  for (size_t k = 0; k < count; ++k) bits[all[k]] ^= 1;
}

TEST(RobustDetector, SyncWordTakesUpToTheSetWrongBitsAtAnyPosition) {
  std::mt19937_64 rng(11);
  const TestFrame frame = make_frame(rng, 10);
  for (int n = 0; n <= robust_max_sync_bit_errors; ++n) {
    for (size_t lead = 16; lead < 24; ++lead) {  // zero bits, which no tolerance up to 8 matches
      for (size_t first = 0; first < 32; ++first) {
        for (const int wrong : {n, n + 1}) {
          SCOPED_TRACE(testing::Message() << "tolerance " << n << " lead bits " << lead
                                          << " first wrong bit " << first << " wrong " << wrong);
          Bits bits(lead);
          put_bytes(bits, lead, frame.bytes);
          bits.resize(bits.size() + robust_frame_bits + 64);
          for (size_t m = 0; m < static_cast<size_t>(wrong); ++m)
            bits[lead + (first + 3 * m) % 32] ^= 1;
          const Record r = checked(bits, n);
          ASSERT_EQ(r.deliveries(), (wrong <= n ? Deliveries{{lead, frame.packet}} : Deliveries{}));
          ASSERT_EQ(std::ranges::find(r.syncs, lead, &Sync::bit) != r.syncs.end(), wrong <= n);
        }
      }
    }
  }
}

// A frame starting inside a candidate that fails is found, whether the stream
// comes whole or cut at any byte.
TEST(RobustDetector, FrameInsideAFailedCandidateIsFoundWholeOrSplit) {
  std::mt19937_64 rng(14);
  const TestFrame outer = make_frame(rng, 215);  // N = 255
  const TestFrame inner = make_frame(rng, 30);
  Bytes false_prefix(frame_prefix_size);
  make_frame_prefix(std::span(false_prefix).first<frame_prefix_size>(), 255);
  const struct {
    const char* name;
    bool outer_is_frame;  // else only a sync word and length field of 255 over noise
    size_t inner_at;      // bit of the inner frame, from the outer sync word
    size_t sync_damage;   // wrong bits in the outer sync word
  } cases[] = {
      {"inside a false candidate's codeword", false, 56 + 8 * 100 + 3, 0},
      {"inside a false candidate's length field", false, 40, 0},
      {"over the end of a false sync word", false, 29, 2},
      {"inside a codeword cut short", true, 56 + 8 * 40 + 5, 0},
      {"inside a damaged codeword", true, 56 + 8 * 200, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bits bits(77 + 8 * outer.bytes.size());
    for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
    put_bytes(bits, 77, c.outer_is_frame ? outer.bytes : false_prefix);
    for (size_t m = 0; m < c.sync_damage; ++m) bits[77 + 1 + 7 * m] ^= 1;
    put_bytes(bits, 77 + c.inner_at, inner.bytes);
    bits.resize(bits.size() + robust_frame_bits);
    const Record whole = checked(bits, 4);
    ASSERT_EQ(whole.deliveries(), (Deliveries{{77 + c.inner_at, inner.packet}}));
    EXPECT_NE(std::ranges::find(whole.syncs, 77u, &Sync::bit), whole.syncs.end());
    const Bytes stream = pack_bits(bits);
    for (size_t split = 1; split < stream.size() && !HasFailure(); ++split) {
      expect_as_whole(whole, stream, {split});
    }
    expect_as_whole(whole, stream, every_byte(stream.size()));
  }
}

// A length is offered once its own codeword has come, not the longest one
// offered: a frame whose damaged length field also brings longer lengths is
// delivered with a few bytes behind it, before more come. A sync word whose
// next length still waits for its bytes resumes there on the next call.
TEST(RobustDetector, EachLengthIsOfferedOnceItsOwnCodewordHasCome) {
  std::mt19937_64 rng(15);
  const struct {
    const char* name;
    size_t payload;
    uint32_t field_damage;                // bits flipped in the length field
    size_t first_bytes;                   // fed first, from the sync word's byte
    std::vector<unsigned> first_offered;  // lengths offered by then
    std::vector<unsigned> offered;        // and in all
  } cases[] = {
      // 40, then 11 lengths 6 bits away, from 73 up.
      {"2 wrong length bits", 0, 0x008020, 7 + 40 + 10, {40}, {40}},
      // 40, then 3 lengths 5 bits away, from 88 up.
      {"3 wrong length bits", 0, 0x009020, 7 + 40 + 10, {40}, {40}},
      // 3 bits from the codeword of 35, 5 from 60's, and no other length
      // below 60 is 5 bits away: 35 is offered first, then 60.
      {"first refused, the next waits for its bytes", 20, 0xA20003, 7 + 35 + 10, {35}, {35, 60}},
  };
  constexpr size_t lead = 5;  // zero bits, so the codeword is off the byte boundary
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TestFrame frame = make_frame(rng, c.payload);
    Bits bits(lead);
    put_bytes(bits, lead, frame.bytes);
    for (size_t k = 0; k < 24; ++k) {
      bits[lead + 32 + k] ^= static_cast<uint8_t>((c.field_damage >> (23 - k)) & 1);
    }
    bits.resize(bits.size() + robust_frame_bits);
    const Bytes stream = pack_bits(bits);
    const size_t cut = (lead + 8 * c.first_bytes + 7) / 8;
    const auto lengths = [](const Record& r) {
      std::vector<unsigned> out;
      for (const Offer& o : r.offers) out.push_back(o.length);
      return out;
    };

    const Record first = detect(4, std::span(stream).first(cut));
    EXPECT_EQ(lengths(first), c.first_offered);
    EXPECT_EQ(first.deliveries(),
              (c.first_offered == c.offered ? Deliveries{{lead, frame.packet}} : Deliveries{}));
    const Record whole = detect(4, stream);
    ASSERT_EQ(whole.syncs.size(), 1u);
    EXPECT_GT(whole.syncs[0].attempts, static_cast<int>(c.offered.size()));  // longer ones wait
    EXPECT_EQ(lengths(whole), c.offered);
    EXPECT_EQ(whole.deliveries(), (Deliveries{{lead, frame.packet}}));
    EXPECT_EQ(whole.counts.codewords_offered, c.offered.size());
    expect_as_whole(whole, stream, {cut});
    expect_as_whole(whole, stream, every_byte(stream.size()));
  }
}

struct Plant {
  size_t bit = 0;
  size_t end = 0;  // first bit after the frame
  Bytes packet;
  bool receivable = false;  // damage within what must be repaired, not overwritten
};

// Random bits with frames planted at random offsets: some with wrong bits in
// the sync word, the length field (up to six) or the codeword bytes, some
// starting inside the codeword of the one before (at least 40 bytes before its
// end, so that one fails), some behind a false sync word and length field.
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
      at += 56 + rng() % (8 * length);
      continue;
    }
    const TestFrame f = make_frame(rng, rng() % 216);
    put_bytes(bits, at, f.bytes);
    const size_t sync_wrong = rng() % 4 == 0 ? rng() % static_cast<size_t>(n + 2) : 0;
    const size_t length_wrong = rng() % 3 == 0 ? rng() % 7 : 0;
    const size_t bytes_wrong = rng() % 3 == 0 ? rng() % 25 : 0;
    flip(rng, bits, at, sync_wrong, 32);
    flip(rng, bits, at + 32, length_wrong, 24);
    std::vector<size_t> bytes(f.length());
    std::iota(bytes.begin(), bytes.end(), 0);
    std::shuffle(bytes.begin(), bytes.end(), rng);
    for (size_t k = 0; k < bytes_wrong; ++k) bits[at + 56 + 8 * bytes[k] + rng() % 8] ^= 1;
    if (!clear) plants.back().receivable = false;
    plants.push_back({at, at + 8 * f.bytes.size(), f.packet,
                      sync_wrong <= static_cast<size_t>(n) && bytes_wrong <= 16 &&
                          length_wrong <= 6 && sync_wrong + length_wrong <= 8});
    if (f.length() > 40 && rng() % 4 == 0) {
      at += 56 + 8 * (rng() % (f.length() - 40)) + rng() % 8;
    } else {
      at = plants.back().end + rng() % 2000;
    }
  }
  return plants;
}

TEST(RobustDetector, MatchesBitByBitReferenceOnPlantedFrames) {
  for (const auto& [seed, n] : {std::pair{1, 4}, {2, 2}, {3, 6}, {4, 8}}) {
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
    const Record got = checked(bits, n, ends);
    if (HasFailure()) return;
    const Deliveries delivered = got.deliveries();
    for (const auto& [bit, packet] : delivered) {
      const auto plant = std::ranges::find(plants, bit, &Plant::bit);
      ASSERT_NE(plant, plants.end()) << "delivered at bit " << bit;
      ASSERT_EQ(packet, plant->packet) << "delivered at bit " << bit;
    }
    size_t receivable = 0;
    for (const Plant& p : plants) {
      if (!p.receivable) continue;
      ++receivable;
      EXPECT_EQ(std::ranges::count(delivered, p.bit, &Deliveries::value_type::first), 1)
          << "lost the frame at bit " << p.bit;
    }
    EXPECT_GT(receivable, 600u);
    EXPECT_GT(got.counts.far_length_frames, 20u);  // 4 ... 6 wrong length bits, repaired
  }
}

}  // namespace

}  // namespace kestrelis
