// The robust frame search: sync words at the edge of the tolerance, length
// fields with four wrong bits, frames inside false candidates, frames split
// across calls, and a plain bit-by-bit reference on random bits with
// planted, damaged frames.

#include "wire/robust_detector.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <vector>

#include "packet/packet_check.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

using Bits = std::vector<uint8_t>;  // one bit per element, stream order

// Writes the bits of `bytes` over `bits` from bit `at`, growing it if needed.
void put_bytes(Bits& bits, size_t at, std::span<const uint8_t> bytes) {
  bits.resize(std::max(bits.size(), at + 8 * bytes.size()));
  for (size_t i = 0; i < 8 * bytes.size(); ++i) bits[at + i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
}

std::vector<uint8_t> pack(const Bits& bits) {
  std::vector<uint8_t> bytes((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i) {
    bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | bits[i] << (7 - i % 8));
  }
  return bytes;
}

uint32_t field_at(const Bits& bits, size_t at) {
  uint32_t field = 0;
  for (size_t k = 0; k < 24; ++k) field = (field << 1) | bits[at + k];
  return field;
}

// The length fields of make_frame_prefix for every 12-bit value.
const std::vector<uint32_t>& length_fields() {
  static const std::vector<uint32_t> fields = [] {
    std::vector<uint32_t> out;
    for (unsigned data = 0; data < 4096; ++data) {
      std::array<uint8_t, frame_prefix_size> prefix{};
      make_frame_prefix(prefix, data);
      Bits bits;
      put_bytes(bits, 0, prefix);
      out.push_back(field_at(bits, 32));
    }
    return out;
  }();
  return fields;
}

// The lengths to offer for a received field and its distance to the nearest
// codeword, by comparing it with every codeword: the nearest in 33 ... 255,
// ascending; at distance 4 then the raw last byte too.
std::pair<int, std::vector<unsigned>> offered_lengths(uint32_t field) {
  const auto& fields = length_fields();
  int nearest = 24;
  for (uint32_t c : fields) nearest = std::min(nearest, std::popcount(field ^ c));
  std::vector<unsigned> lengths;
  for (unsigned data = 33; data <= 255; ++data) {
    if (std::popcount(field ^ fields[data]) == nearest) lengths.push_back(data);
  }
  const unsigned raw = field & 0xFF;
  if (nearest == 4 && raw >= 33 && std::ranges::find(lengths, raw) == lengths.end()) {
    lengths.push_back(raw);
  }
  return {nearest, lengths};
}

// A frame from build_frame and the packet it carries (header, payload,
// CRC-32C over both, most significant byte first).
struct TestFrame {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> packet;
  unsigned length() const { return static_cast<unsigned>(bytes.size() - frame_prefix_size); }
};

TestFrame make_frame(std::mt19937_64& rng, size_t payload_size) {
  const auto header = csp_header_bytes({.source = 1, .destination = 25, .destination_port = 8});
  TestFrame f;
  f.packet.resize(header.size() + payload_size + 4);
  std::ranges::copy(header, f.packet.begin());
  for (size_t i = 0; i < payload_size; ++i)
    f.packet[header.size() + i] = static_cast<uint8_t>(rng());
  const auto covered = std::span(f.packet).first(header.size() + payload_size);
  store_be32(std::span(f.packet).last<4>(), crc32c(covered));
  f.bytes = build_frame(header, covered.subspan(header.size()));
  return f;
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
  bool accepted = false;
  bool operator==(const Offer&) const = default;
};

struct Delivery {
  uint64_t bit = 0;
  std::vector<uint8_t> packet;
  bool operator==(const Delivery&) const = default;
};

struct Record {
  std::vector<Sync> syncs;
  std::vector<Offer> offers;
  std::vector<Delivery> deliveries;
};

// Decodes and checks a codeword as the downlink does; the packet when it passes.
bool accepts(std::span<const uint8_t> codeword, std::vector<uint8_t>& packet) {
  const DecodedCodeword word = decode_codeword(codeword);
  if (word.corrected < 0 || !packet_accepted(check_packet(word.packet()).verdict)) return false;
  packet.assign(word.packet().begin(), word.packet().end());
  return true;
}

RobustHandler recording_handler(Record& r) {
  return {[&r](const RobustCandidate& c) {
            r.syncs.push_back({c.bit, c.sync_errors, c.length_errors, c.attempts});
          },
          [&r](std::span<const uint8_t> codeword, const RobustCandidate& c) {
            std::vector<uint8_t> packet;
            const bool ok = accepts(codeword, packet);
            r.offers.push_back({c.bit, c.length, c.attempt, ok});
            if (ok) r.deliveries.push_back({c.bit, packet});
            return ok;
          }};
}

// Runs `stream` through `detector` in pieces ending at `ends`, then the rest.
Record run_in_pieces(RobustDetector& detector, std::span<const uint8_t> stream,
                     const std::vector<size_t>& ends = {}) {
  Record all;
  const RobustHandler handler = recording_handler(all);
  size_t begin = 0;
  for (size_t end : ends) {
    robust_detect(detector, stream.subspan(begin, end - begin), handler);
    begin = end;
  }
  robust_detect(detector, stream.subspan(begin), handler);
  return all;
}

Record run_with(int sync_bit_errors, std::span<const uint8_t> stream,
                const std::vector<size_t>& ends = {}) {
  RobustDetector detector;
  detector.sync_bit_errors = sync_bit_errors;
  return run_in_pieces(detector, stream, ends);
}

std::vector<size_t> random_positions(std::mt19937_64& rng, size_t count, size_t among) {
  std::vector<size_t> all(among);
  for (size_t i = 0; i < among; ++i) all[i] = i;
  std::shuffle(all.begin(), all.end(), rng);
  all.resize(count);
  return all;
}

// A frame behind zero bits (which no sync word tolerance up to 8 matches),
// then enough zero bits to decide any candidate before it.
Bits frame_stream(const TestFrame& f, size_t lead_bits) {
  Bits bits(lead_bits);
  put_bytes(bits, lead_bits, f.bytes);
  bits.resize(bits.size() + robust_frame_bits + 64);
  return bits;
}

TEST(RobustDetector, SyncWordTakesUpToTheSetWrongBitsAtAnyPosition) {
  std::mt19937_64 rng(11);
  const TestFrame frame = make_frame(rng, 10);
  for (int n = 0; n <= robust_max_sync_bit_errors; ++n) {
    for (size_t lead = 16; lead < 24; ++lead) {
      for (size_t first = 0; first < 32; ++first) {
        for (const int wrong : {n, n + 1}) {
          SCOPED_TRACE(testing::Message() << "tolerance " << n << " lead bits " << lead
                                          << " first wrong bit " << first << " wrong " << wrong);
          Bits bits = frame_stream(frame, lead);
          for (size_t m = 0; m < static_cast<size_t>(wrong); ++m)
            bits[lead + (first + 3 * m) % 32] ^= 1;
          const Record r = run_with(n, pack(bits));
          const auto at_frame = std::ranges::find(r.syncs, lead, &Sync::bit);
          if (wrong <= n) {
            ASSERT_EQ(r.deliveries, (std::vector<Delivery>{{lead, frame.packet}}));
            ASSERT_NE(at_frame, r.syncs.end());
            ASSERT_EQ(at_frame->sync_errors, wrong);
          } else {
            ASSERT_TRUE(r.deliveries.empty());
            ASSERT_EQ(at_frame, r.syncs.end());
          }
        }
      }
    }
  }
}

TEST(RobustDetector, FourWrongLengthBitsOfferNearbyLengthsUntilOnePasses) {
  std::mt19937_64 rng(13);
  for (const size_t payload : {1u, 60u, 215u}) {
    const TestFrame frame = make_frame(rng, payload);
    // Every field bit wrong in some pattern, then random patterns.
    std::vector<std::vector<size_t>> patterns;
    for (size_t a = 0; a < 24; ++a)
      patterns.push_back({a, (a + 1) % 24, (a + 5) % 24, (a + 11) % 24});
    for (int i = 0; i < 40; ++i) patterns.push_back(random_positions(rng, 4, 24));
    for (const auto& pattern : patterns) {
      SCOPED_TRACE(testing::Message()
                   << "N " << frame.length() << " wrong field bits " << pattern[0] << " "
                   << pattern[1] << " " << pattern[2] << " " << pattern[3]);
      Bits bits = frame_stream(frame, 19);
      for (size_t k : pattern) bits[19 + 32 + k] ^= 1;
      const auto [distance, lengths] = offered_lengths(field_at(bits, 19 + 32));
      ASSERT_EQ(distance, 4);
      const auto true_at = std::ranges::find(lengths, frame.length());
      ASSERT_NE(true_at, lengths.end());

      RobustDetector detector;
      const Record r = run_in_pieces(detector, pack(bits));
      ASSERT_EQ(r.deliveries, (std::vector<Delivery>{{19, frame.packet}}));
      ASSERT_EQ(r.syncs, (std::vector<Sync>{{19, 0, 4, static_cast<int>(lengths.size())}}));
      // Offered in order up to the true length, which alone passed.
      std::vector<Offer> expected;
      for (auto it = lengths.begin(); it <= true_at; ++it) {
        expected.push_back({19, *it, static_cast<int>(it - lengths.begin()), it == true_at});
      }
      ASSERT_EQ(r.offers, expected);
      EXPECT_EQ(detector.counts.four_error_frames, 1u);
    }
  }
}

TEST(RobustDetector, FrameInsideAFailedCandidateIsFound) {
  std::mt19937_64 rng(14);
  const TestFrame outer = make_frame(rng, 215);  // N = 255
  const TestFrame inner = make_frame(rng, 30);
  std::array<uint8_t, frame_prefix_size> false_prefix{};
  make_frame_prefix(false_prefix, 255);
  struct Case {
    const char* name;
    bool outer_is_frame;  // else only a sync word and length field of 255 over noise
    size_t inner_at;      // bit of the inner frame, from the outer sync word
    size_t sync_damage;   // wrong bits in the outer sync word
  };
  const Case cases[] = {
      {"inside a false candidate's codeword", false, 56 + 8 * 100 + 3, 0},
      {"inside a false candidate's length field", false, 40, 0},
      {"over the end of a false sync word", false, 29, 2},
      {"inside a codeword cut short", true, 56 + 8 * 40 + 5, 0},
      {"inside a damaged codeword", true, 56 + 8 * 200, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bits bits(77 + 8 * outer.bytes.size());
    for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
    put_bytes(bits, 77, c.outer_is_frame ? std::span(outer.bytes) : std::span(false_prefix));
    for (size_t m = 0; m < c.sync_damage; ++m) bits[77 + 1 + 7 * m] ^= 1;
    put_bytes(bits, 77 + c.inner_at, inner.bytes);
    bits.resize(bits.size() + robust_frame_bits);

    const Record r = run_with(4, pack(bits));
    ASSERT_EQ(r.deliveries, (std::vector<Delivery>{{77 + c.inner_at, inner.packet}}));
    EXPECT_NE(std::ranges::find(r.syncs, 77u, &Sync::bit), r.syncs.end());
  }
}

TEST(RobustDetector, FrameSplitAcrossCallsAtEveryPoint) {
  std::mt19937_64 rng(15);
  const TestFrame frame = make_frame(rng, 215);
  Bits sync;
  put_bytes(sync, 0, sync_word);
  struct Case {
    const char* name;
    int sync_bit_errors;
    bool decoy;  // a sync word 8 bits off five bits before the frame's, which has 4 wrong bits
  };
  for (const Case c : {Case{"one frame", 4, false}, Case{"a candidate just before", 8, true}}) {
    for (size_t lead = 240; lead < 248; ++lead) {
      SCOPED_TRACE(testing::Message() << c.name << ", frame at bit " << lead);
      Bits bits(lead);
      for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
      put_bytes(bits, lead, frame.bytes);
      bits.resize(bits.size() + robust_frame_bits);
      if (c.decoy) {
        // The decoy's bits 5 ... 31 are the frame's bits 0 ... 26; 12 of them differ
        // from the sync word. Flipping 4 of those in the frame moves them to the frame.
        for (size_t j = 0; j < 5; ++j) bits[lead - 5 + j] = sync[j];
        int flipped = 0;
        for (size_t j = 5; j < 32 && flipped < 4; ++j) {
          if (sync[j - 5] == sync[j]) continue;
          bits[lead + j - 5] ^= 1;
          ++flipped;
        }
      }
      const std::vector<uint8_t> stream = pack(bits);
      const Record whole = run_with(c.sync_bit_errors, stream);
      ASSERT_EQ(whole.deliveries, (std::vector<Delivery>{{lead, frame.packet}}));
      if (c.decoy) {
        const auto decoy = std::ranges::find(whole.syncs, lead - 5, &Sync::bit);
        ASSERT_NE(decoy, whole.syncs.end());
        ASSERT_EQ(decoy->sync_errors, 8);
      }

      std::vector<size_t> every_byte;
      for (size_t split = 0; split <= stream.size(); ++split) {
        SCOPED_TRACE(testing::Message() << "split at byte " << split);
        RobustDetector detector;
        detector.sync_bit_errors = c.sync_bit_errors;
        const Record split_run = run_in_pieces(detector, stream, {split});
        ASSERT_EQ(split_run.syncs, whole.syncs);
        ASSERT_EQ(split_run.offers, whole.offers);
        ASSERT_EQ(split_run.deliveries, whole.deliveries);
        ASSERT_LE(detector.carry_size, robust_carry_capacity);
        if (split > 0 && split < stream.size()) every_byte.push_back(split);
      }
      const Record byte_run = run_with(c.sync_bit_errors, stream, every_byte);
      EXPECT_EQ(byte_run.syncs, whole.syncs);
      EXPECT_EQ(byte_run.offers, whole.offers);
    }
  }
}

// The search written straight from its description, bit by bit, on one bit per element.
Record reference_search(const Bits& bits, int n) {
  Bits sync;
  put_bytes(sync, 0, sync_word);
  Record r;
  size_t p = 0;
  while (p + 32 <= bits.size()) {
    int wrong = 0;
    for (size_t k = 0; k < 32; ++k) wrong += bits[p + k] != sync[k];
    if (wrong > n) {
      ++p;
      continue;
    }
    if (p + 56 > bits.size()) break;
    const auto [nearest, lengths] = offered_lengths(field_at(bits, p + 32));
    const unsigned longest = lengths.empty() ? 0 : std::ranges::max(lengths);
    if (p + 56 + 8 * size_t{longest} > bits.size()) break;
    r.syncs.push_back({p, wrong, nearest, static_cast<int>(lengths.size())});
    bool accepted = false;
    for (size_t i = 0; i < lengths.size() && !accepted; ++i) {
      Bits codeword_bits(bits.begin() + static_cast<ptrdiff_t>(p + 56),
                         bits.begin() + static_cast<ptrdiff_t>(p + 56 + 8 * lengths[i]));
      std::vector<uint8_t> packet;
      accepted = accepts(pack(codeword_bits), packet);
      r.offers.push_back({p, lengths[i], static_cast<int>(i), accepted});
      if (accepted) {
        r.deliveries.push_back({p, packet});
        p += 56 + 8 * size_t{lengths[i]};
      }
    }
    if (!accepted) ++p;
  }
  return r;
}

struct Plant {
  size_t bit = 0;
  size_t end = 0;  // first bit after the frame
  std::vector<uint8_t> packet;
  bool receivable = false;  // damage within what must be repaired, not overwritten
};

// Random bits with frames planted at random offsets: some with wrong bits in
// the sync word, the length field or the codeword bytes, some starting inside
// the codeword of the one before (at least 40 bytes before its end, so that
// one fails), some behind a false sync word and length field.
std::vector<Plant> plant_frames(std::mt19937_64& rng, Bits& bits, int n) {
  std::vector<Plant> plants;
  const auto flip = [&](size_t at, size_t count, size_t among) {
    for (size_t k : random_positions(rng, count, among)) bits[at + k] ^= 1;
  };
  size_t at = rng() % 3000;
  while (at + robust_frame_bits + 100 < bits.size()) {
    const bool clear = plants.empty() || plants.back().end <= at;
    if (clear && rng() % 8 == 0) {  // a false sync word and length field, a frame inside it
      std::array<uint8_t, frame_prefix_size> prefix{};
      const unsigned length = 33 + static_cast<unsigned>(rng() % 223);
      make_frame_prefix(prefix, length);
      put_bytes(bits, at, prefix);
      flip(at, rng() % static_cast<size_t>(n + 1), 32);
      flip(at + 32, rng() % 5, 24);
      at += 56 + rng() % (8 * length);
      continue;
    }
    const TestFrame f = make_frame(rng, rng() % 216);
    put_bytes(bits, at, f.bytes);
    const size_t sync_wrong = rng() % 4 == 0 ? rng() % static_cast<size_t>(n + 2) : 0;
    const size_t length_wrong = rng() % 3 == 0 ? rng() % 6 : 0;
    const size_t bytes_wrong = rng() % 3 == 0 ? rng() % 25 : 0;
    flip(at, sync_wrong, 32);
    flip(at + 32, length_wrong, 24);
    for (size_t byte : random_positions(rng, bytes_wrong, f.length())) {
      bits[at + 56 + 8 * byte + rng() % 8] ^= 1;
    }
    if (!clear) plants.back().receivable = false;
    plants.push_back(
        {at, at + 8 * f.bytes.size(), f.packet,
         sync_wrong <= static_cast<size_t>(n) && length_wrong <= 4 && bytes_wrong <= 16});
    if (f.length() > 40 && rng() % 4 == 0) {
      at += 56 + 8 * (rng() % (f.length() - 40)) + rng() % 8;
    } else {
      at = plants.back().end + rng() % 2000;
    }
  }
  return plants;
}

TEST(RobustDetector, MatchesBitByBitReferenceOnPlantedFrames) {
  struct Case {
    uint64_t seed;
    int n;
  };
  for (const auto [seed, n] : {Case{1, 4}, Case{2, 2}, Case{3, 6}, Case{4, 8}}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " sync_bit_errors " << n);
    std::mt19937_64 rng(seed);
    Bits bits(2'000'000);
    for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
    const std::vector<Plant> plants = plant_frames(rng, bits, n);
    const std::vector<uint8_t> stream = pack(bits);
    // Pieces of 1 to 16 bytes and of up to 4096 bytes, as datagrams would come.
    std::vector<size_t> ends;
    for (size_t end = 0; end < stream.size();) {
      end += rng() % 2 == 0 ? 1 + rng() % 16 : 1 + rng() % 4096;
      if (end < stream.size()) ends.push_back(end);
    }
    RobustDetector detector;
    detector.sync_bit_errors = n;
    const Record got = run_in_pieces(detector, stream, ends);
    const Record expected = reference_search(bits, n);
    ASSERT_EQ(got.syncs, expected.syncs);
    ASSERT_EQ(got.offers, expected.offers);
    ASSERT_EQ(got.deliveries, expected.deliveries);

    for (const Delivery& d : got.deliveries) {
      const auto plant = std::ranges::find(plants, d.bit, &Plant::bit);
      ASSERT_NE(plant, plants.end()) << "delivered at bit " << d.bit;
      ASSERT_EQ(d.packet, plant->packet) << "delivered at bit " << d.bit;
    }
    size_t receivable = 0;
    for (const Plant& p : plants) {
      if (!p.receivable) continue;
      ++receivable;
      EXPECT_NE(std::ranges::find(got.deliveries, p.bit, &Delivery::bit), got.deliveries.end())
          << "lost the frame at bit " << p.bit;
    }
    EXPECT_GT(receivable, 600u);

    RobustCounts counts;
    for (const Sync& s : expected.syncs) {
      counts.length_rejections += s.attempts == 0;
      counts.four_error_fields += s.attempts > 0 && s.length_errors == 4;
    }
    for (const Delivery& d : expected.deliveries) {
      const int length_errors = std::ranges::find(expected.syncs, d.bit, &Sync::bit)->length_errors;
      counts.four_error_frames += length_errors == 4;
      counts.golay_bits_corrected += length_errors == 4 ? 0u : static_cast<unsigned>(length_errors);
    }
    const RobustCounts& c = detector.counts;
    EXPECT_EQ(c.sync_words, expected.syncs.size());
    EXPECT_EQ(c.codewords_offered, expected.offers.size());
    EXPECT_EQ(c.frames, expected.deliveries.size());
    EXPECT_EQ(c.length_rejections, counts.length_rejections);
    EXPECT_EQ(c.four_error_fields, counts.four_error_fields);
    EXPECT_EQ(c.four_error_frames, counts.four_error_frames);
    EXPECT_EQ(c.golay_bits_corrected, counts.golay_bits_corrected);
  }
}

}  // namespace

}  // namespace kestrelis
