// The frame detector against a plain bit-by-bit reference, on random bits
// with planted sync words, fed in random pieces.

#include "radio/frame_detector.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Event {
  bool complete = false;  // false: sync word accepted
  uint64_t bit = 0;       // position in the whole stream
  std::vector<uint8_t> codeword;
  bool operator==(const Event&) const = default;
};

// The detector written straight from its description, one bit at a time.
struct Reference {
  int sync_phase = -1, match_state = 0, match_phase = 0, byte_index = -1, remaining = 250;
  int frame_length = 0;
  unsigned history = 0;
  std::array<uint8_t, 256> frame{};
  std::vector<Event> events;

  static int wrong_bits(unsigned a, unsigned b) {
    int n = 0;
    for (unsigned x = (a ^ b) & 0xFF; x != 0; x >>= 1) n += static_cast<int>(x & 1);
    return n;
  }

  void bit(unsigned b, int phase, uint64_t position) {
    history = ((history << 1) | b) & 0xFF;
    if (sync_phase != -1 && phase != sync_phase) return;
    const unsigned current = history;
    if (sync_phase != -1) {
      byte_index += 1;
      remaining -= 1;
    }
    if (byte_index == 0) remaining = 250;
    if (byte_index == 2) {
      frame_length = static_cast<int>(current);
      remaining = frame_length + 1;
    }
    if (byte_index >= 3) {
      frame.at(static_cast<size_t>(byte_index - 3)) = static_cast<uint8_t>(current);
      if (remaining == 0) {
        remaining = 250;
        sync_phase = -1;
        byte_index = -1;
        events.push_back({true, position, {frame.begin(), frame.begin() + frame_length}});
      }
    }
    if (phase == match_phase) {
      if (match_state == 1) {
        match_state = wrong_bits(current, 0x0B) <= 1 ? 2 : 0;
      } else if (match_state == 2) {
        match_state = current == 0x51 ? 3 : 0;
      } else if (match_state == 3) {
        if (current == 0xDE) {
          events.push_back({false, position, {}});
          sync_phase = phase;
        }
        match_state = 0;
      }
    }
    if (sync_phase == -1 && wrong_bits(current, 0x93) <= 1) {
      match_state = 1;
      match_phase = phase;
    }
  }
};

void expect_same_state(const FrameDetector& d, const Reference& r) {
  EXPECT_EQ(d.sync_phase, r.sync_phase);
  EXPECT_EQ(d.match_state, r.match_state);
  EXPECT_EQ(d.match_phase, r.match_phase);
  EXPECT_EQ(d.byte_index, r.byte_index);
  EXPECT_EQ(d.remaining, r.remaining);
  EXPECT_EQ(d.frame_length, r.frame_length);
  EXPECT_EQ(d.history, r.history);
  EXPECT_EQ(d.frame, r.frame);
}

// Random bits with sync words planted at random bit offsets: some exact, some
// with one wrong bit in any byte, some with only the 51 DE tail, followed by
// a random length byte (often small, so that frames end soon).
std::vector<uint8_t> planted_stream(std::mt19937_64& rng, size_t bytes) {
  std::vector<uint8_t> bits(bytes * 8);
  for (auto& b : bits) b = static_cast<uint8_t>(rng() & 1);
  const uint8_t sync[] = {0x93, 0x0B, 0x51, 0xDE};
  for (size_t at = rng() % 2000; at + 64 < bits.size(); at += 200 + rng() % 3000) {
    std::vector<uint8_t> word(sync, sync + 4);
    const unsigned kind = rng() % 8;
    if (kind < 4) word[kind] ^= static_cast<uint8_t>(1u << (rng() % 8));
    if (kind == 4) word.erase(word.begin(), word.begin() + 2);
    word.push_back(static_cast<uint8_t>(rng()));
    word.push_back(static_cast<uint8_t>(rng()));
    word.push_back(static_cast<uint8_t>(rng() % 2 == 0 ? rng() % 40 : rng()));
    for (size_t i = 0; i < word.size() * 8; ++i) bits[at + i] = (word[i / 8] >> (7 - i % 8)) & 1;
  }
  std::vector<uint8_t> packed(bytes);
  for (size_t i = 0; i < bits.size(); ++i) {
    packed[i / 8] = static_cast<uint8_t>(packed[i / 8] | (bits[i] << (7 - i % 8)));
  }
  return packed;
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
    FrameHandler handler;
    handler.sync_found = [&](StreamPoint at) {
      events.push_back({false, (base + at.byte) * 8 + static_cast<uint64_t>(at.bit), {}});
    };
    handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint at) {
      events.push_back({true, (base + at.byte) * 8 + static_cast<uint64_t>(at.bit),
                        {codeword.begin(), codeword.end()}});
    };

    // Pieces of 1 to 16 bytes and of up to 4096 bytes, as datagrams would come.
    for (size_t offset = 0; offset < stream.size();) {
      size_t size = rng() % 2 == 0 ? 1 + rng() % 16 : 1 + rng() % 4096;
      size = std::min(size, stream.size() - offset);
      detect_frames(detector, std::span(stream).subspan(offset, size), handler);
      for (size_t i = offset * 8; i < (offset + size) * 8; ++i) {
        reference.bit((stream[i / 8] >> (7 - i % 8)) & 1u, static_cast<int>(i % 8), i);
      }
      base = offset += size;
      expect_same_state(detector, reference);
      ASSERT_EQ(events, reference.events) << "after byte " << offset;
      if (HasFailure()) return;
    }
    // The planting must have exercised both outcomes many times.
    EXPECT_GT(events.size(), 200u);
  }
}

}  // namespace
