// The frame detector against a plain bit-by-bit reference, on random bits
// with planted sync words, fed in random pieces.

#include "wire/frame_detector.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "radio/test_bit_stream.hpp"

namespace kestrelis {

namespace {

struct Event {
  bool complete = false;  // false: sync word accepted
  uint64_t bit = 0;       // position in the whole stream
  std::vector<uint8_t> codeword;
  bool operator==(const Event&) const = default;
};

// The detector written straight from its description, one bit at a time.
struct Reference {
  FrameDetector s;
  std::vector<Event> events;

  static bool near(unsigned a, unsigned b) { return std::popcount((a ^ b) & 0xFFu) <= 1; }

  void bit(unsigned b, int phase, uint64_t position) {
    s.history = static_cast<uint8_t>((unsigned{s.history} << 1) | b);
    if (s.sync_phase != -1 && phase != s.sync_phase) return;
    const uint8_t current = s.history;
    if (s.sync_phase != -1) {
      s.byte_index += 1;
      s.remaining -= 1;
    }
    if (s.byte_index == 0) s.remaining = 250;
    if (s.byte_index == 2) {
      s.frame_length = current;
      s.remaining = current + 1;
    }
    if (s.byte_index >= 3) {
      s.frame.at(static_cast<size_t>(s.byte_index - 3)) = current;
      if (s.remaining == 0) {
        s.remaining = 250;
        s.sync_phase = -1;
        s.byte_index = -1;
        events.push_back({true, position, {s.frame.begin(), s.frame.begin() + s.frame_length}});
      }
    }
    if (phase == s.match_phase && s.match_state == 1) {
      s.match_state = near(current, 0x0B) ? 2 : 0;
    } else if (phase == s.match_phase && s.match_state == 2) {
      s.match_state = current == 0x51 ? 3 : 0;
    } else if (phase == s.match_phase && s.match_state == 3) {
      s.match_state = 0;
      if (current == 0xDE) {
        s.sync_phase = phase;
        events.push_back({false, position, {}});
      }
    }
    if (s.sync_phase == -1 && near(current, 0x93)) {
      s.match_state = 1;
      s.match_phase = phase;
    }
  }
};

// Random bits with sync words planted at random bit offsets: exact, with one
// wrong bit in any byte, or only the 51 DE tail; then a random length byte,
// often small so that frames end soon.
std::vector<uint8_t> planted_stream(std::mt19937_64& rng, size_t bytes) {
  std::vector<uint8_t> bits(bytes * 8);
  for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
  for (size_t at = rng() % 2000; at + 64 < bits.size(); at += 200 + rng() % 3000) {
    std::vector<uint8_t> word = {0x93, 0x0B, 0x51, 0xDE};
    const unsigned kind = rng() % 8;
    if (kind < 4) word[kind] ^= static_cast<uint8_t>(1u << (rng() % 8));
    if (kind == 4) word.erase(word.begin(), word.begin() + 2);
    word.push_back(static_cast<uint8_t>(rng()));
    word.push_back(static_cast<uint8_t>(rng()));
    word.push_back(static_cast<uint8_t>(rng() % 2 == 0 ? rng() % 40 : rng()));
    put_bytes(bits, at, word);
  }
  return pack_bits(bits);
}

TEST(FrameDetector, MatchesBitByBitReference) {
  for (uint64_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937_64 rng(seed);
    const std::vector<uint8_t> stream = planted_stream(rng, 250'000);

    FrameDetector detector;
    Reference reference;
    std::vector<Event> events;
    uint64_t base = 0;
    const auto bit_of = [&](StreamPoint at) { return (base + at.byte) * 8 + uint64_t(at.bit); };
    const auto synced = [&](StreamPoint at) { events.push_back({false, bit_of(at), {}}); };
    const FrameHandler handler{
        synced, [&](std::span<const uint8_t> codeword, StreamPoint at) {
          events.push_back({true, bit_of(at), {codeword.begin(), codeword.end()}});
        }};

    // Pieces of 1 to 16 bytes and of up to 4096 bytes, as datagrams would come.
    for (size_t offset = 0; offset < stream.size(); base = offset) {
      const size_t size =
          std::min(rng() % 2 == 0 ? 1 + rng() % 16 : 1 + rng() % 4096, stream.size() - offset);
      detect_frames(detector, std::span(stream).subspan(offset, size), handler);
      for (size_t i = offset * 8; i < (offset + size) * 8; ++i) {
        reference.bit((stream[i / 8] >> (7 - i % 8)) & 1u, static_cast<int>(i % 8), i);
      }
      offset += size;
      ASSERT_EQ(events, reference.events) << "after byte " << offset;
    }
    EXPECT_GT(events.size(), 200u);  // both kinds of event, many times
  }
}

}  // namespace

}  // namespace kestrelis
