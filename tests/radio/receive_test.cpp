// The receive chain from the modem's bytes to the dispatch, through the
// console lines it prints and the GUI frames the dispatch sends.

#include "radio/receive.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "packet/csp.hpp"
#include "radio/frame.hpp"
#include "radio/reed_solomon.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/gui_capture.hpp"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const std::string detected = "-----FRAME DETECTED-----\r\n";
const std::string frame_end = "-------FRAME END--------\r\n";
const std::string self_generated = "Received self-generated packet\n";

Lines frame_lines(int corrected, int length, const std::string& dispatched) {
  return {detected, "ReedSolomon: OK (Corrected " + std::to_string(corrected) + " bytes)\r\n",
          "Received " + std::to_string(length) + " bytes\r\n", frame_end, dispatched};
}

// Feeds `stream` in pieces of `piece` bytes (0: random sizes from a fixed seed).
Lines receive(const Bytes& stream, size_t piece = 2048) {
  OutputCapture capture;
  FrameDetector detector;
  std::mt19937 rng(7);
  for (size_t at = 0; at < stream.size();) {
    const size_t n = std::min(piece != 0 ? piece : 1 + rng() % 60, stream.size() - at);
    receive_bytes(detector, std::span(stream).subspan(at, n));
    at += n;
  }
  return capture.console_messages();
}

TEST(ReceiveChain, CleanFrameIsProcessedWithTheByteAfterIt) {
  EXPECT_EQ(receive(list_frame), Lines{detected});
  Bytes with_next = list_frame;
  with_next.push_back(0x00);
  EXPECT_EQ(receive(with_next), frame_lines(0, 41, self_generated));
}

TEST(ReceiveChain, FrameAtEveryBitPhaseInAnyPieces) {
  for (size_t phase = 0; phase < 8; ++phase) {
    for (size_t piece : {1u, 3u, 0u, 2048u}) {
      SCOPED_TRACE(testing::Message() << "phase " << phase << ", pieces of " << piece);
      EXPECT_EQ(receive(stream_of({list_frame}, phase), piece), frame_lines(0, 41, self_generated));
    }
  }
}

TEST(ReceiveChain, SyncWordToleratesOneWrongBitInEachOfTheFirstTwoBytes) {
  // Bit 0 of 93 wrong together with bit 2, 5 or 6 of 0B puts a window within
  // one bit of 93 between them; the search restarts there and loses the frame.
  const std::set<std::pair<int, int>> restarted = {{0, 2}, {0, 5}, {0, 6}};
  for (int first = -1; first < 8; ++first) {
    for (int second = -1; second < 8; ++second) {
      SCOPED_TRACE(testing::Message() << "wrong bits " << first << ", " << second);
      Bytes frame = list_frame;
      if (first >= 0) frame[0] = static_cast<uint8_t>(frame[0] ^ (1u << first));
      if (second >= 0) frame[1] = static_cast<uint8_t>(frame[1] ^ (1u << second));
      const bool lost = restarted.count({first, second}) != 0;
      EXPECT_EQ(receive(stream_of({frame}, 3)),
                lost ? Lines{} : frame_lines(0, 41, self_generated));
    }
  }
  const std::pair<size_t, uint8_t> lost[] = {{0, 0x11}, {1, 0x30}, {2, 0x01},
                                             {2, 0x80}, {3, 0x04}, {3, 0x40}};
  for (auto [byte, flip] : lost) {
    SCOPED_TRACE(testing::Message() << "sync byte " << byte << " xor " << int{flip});
    Bytes frame = list_frame;
    frame[byte] ^= flip;
    EXPECT_EQ(receive(stream_of({frame}, 5)), Lines{});
  }
}

TEST(ReceiveChain, FramesBackToBackAreBothFound) {
  const auto header = csp_header_bytes({.source = satellite_address, .destination_port = 14});
  const Bytes first = build_frame(header, Bytes{0x01, 0xC0, 0xDB});
  const Bytes second = build_frame(header, Bytes(215, 0x5A));
  OutputCapture capture;
  FrameDetector detector;
  receive_bytes(detector, stream_of({first, second}, 6));
  Lines expected = frame_lines(0, 43, "Digipeater packet\r\n");
  for (const auto& line : frame_lines(0, 255, "Digipeater packet\r\n")) expected.push_back(line);
  EXPECT_EQ(capture.console_messages(), expected);
  Bytes second_data(216, 0x5A);
  second_data[0] = 'P';
  EXPECT_EQ(capture.gui_frames(), (std::vector<Bytes>{{'P', 0x01, 0xC0, 0xDB}, second_data}));
}

TEST(ReceiveChain, SixteenDamagedCodewordBytesAreCorrected) {
  Bytes frame = list_frame;
  for (size_t i = 7; i < 7 + 32; i += 2) frame[i] = static_cast<uint8_t>(~frame[i]);
  EXPECT_EQ(receive(stream_of({frame}, 0)), frame_lines(16, 41, self_generated));
}

TEST(ReceiveChain, LengthBytesThatCannotCarryAPacket) {
  std::mt19937 rng(11);
  for (unsigned n : {0u, 1u, 20u, 32u}) {
    SCOPED_TRACE(testing::Message() << "N = " << n);
    Bytes frame = {0x93, 0x0B, 0x51, 0xDE, 0x00, 0x00, static_cast<uint8_t>(n)};
    for (unsigned i = 0; i < n; ++i) frame.push_back(static_cast<uint8_t>(rng()));
    EXPECT_EQ(receive(stream_of({frame}, 2)), (Lines{detected, "ReedSolomon: ERROR\r\n"}));
  }
  // Valid codewords of 33 to 39 bytes carry packets of 1 to 7 bytes.
  const auto codec = rs_init(0);
  ASSERT_TRUE(codec);
  for (unsigned n = 33; n <= 39; ++n) {
    SCOPED_TRACE(testing::Message() << "N = " << n);
    Bytes codeword(n);
    for (unsigned i = 0; i < n - 32; ++i) codeword[i] = static_cast<uint8_t>(rng());
    ASSERT_TRUE(rs_encode(*codec, codeword, std::span(codeword).subspan(n - 32).first<32>(),
                          static_cast<int>(255 - n)));
    apply_randomizer(codeword);
    Bytes frame = {0x93, 0x0B, 0x51, 0xDE, 0x00, 0x00, static_cast<uint8_t>(n)};
    frame.insert(frame.end(), codeword.begin(), codeword.end());
    EXPECT_EQ(receive(stream_of({frame}, 4)),
              frame_lines(0, static_cast<int>(n), "ERROR: Packet is too small\r\n"));
  }
}

TEST(CheckPacket, CrcOverPacketOrPayloadAndUpToFourWrongBits) {
  // CRC32C of the payload 4C alone is 5E45813D.
  const struct {
    const char* name;
    uint32_t crc;
    Lines lines;
  } cases[] = {
      {"over header and payload", 0x2AC1FD4C, {self_generated}},
      {"over the payload alone", 0x5E45813D, {self_generated}},
      {"four bits off", 0xDE05833C, {"CRC32: ERROR 5e45813d:de05833c\r\n", self_generated}},
      {"five bits off", 0xDE05833E, {"CRC32: ERROR 5e45813d:de05833e\r\n", "CRC32: Error\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture capture;
    Bytes packet = {0xB2, 0x13, 0x8E, 0x00, 0x4C};
    for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(uint8_t(c.crc >> shift));
    check_packet(packet);
    EXPECT_EQ(capture.console_messages(), c.lines);
  }
}

TEST(CheckPacket, PacketsUnderEightBytesAreRefused) {
  for (size_t size = 0; size < 8; ++size) {
    SCOPED_TRACE(testing::Message() << size << " bytes");
    OutputCapture capture;
    check_packet(Bytes(size, 0xB2));  // were it read, its source would be 25
    EXPECT_EQ(capture.console_messages(), Lines{"ERROR: Packet is too small\r\n"});
  }
}

}  // namespace
