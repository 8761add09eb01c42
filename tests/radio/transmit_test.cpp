#include "radio/transmit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "radio/frame.hpp"
#include "radio/reed_solomon.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/frame_recording.hpp"
#include "support/gui_capture.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(TransmitPacket, ListAndCountFrames) {
  FrameRecording recording;
  const uint8_t list[] = {0x4C};
  const uint8_t count[] = {0x43};
  transmit_packet(list, 1, 14, 14);
  transmit_packet(count, 1, 14, 14);
  const auto frames = recording.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], list_frame);
  // Prefix and header agree; payload (11), CRC (12-15) and parity differ.
  ASSERT_EQ(frames[1].size(), 48u);
  EXPECT_TRUE(std::equal(frames[0].begin(), frames[0].begin() + 11, frames[1].begin()));
  EXPECT_NE(frames[0][11], frames[1][11]);
  EXPECT_FALSE(std::equal(frames[0].begin() + 12, frames[0].begin() + 16, frames[1].begin() + 12));
  EXPECT_FALSE(std::equal(frames[0].begin() + 16, frames[0].end(), frames[1].begin() + 16));
}

TEST(TransmitPacket, PayloadLimits) {
  OutputCapture capture;
  FrameRecording recording;
  transmit_packet({}, 1, 14, 14);
  transmit_packet(Bytes(215, 0x55), 1, 30, 14);
  transmit_packet(Bytes(216, 0x55), 1, 30, 14);
  const auto frames = recording.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].size(), 47u);
  EXPECT_EQ(frames[0][6], 40);
  ASSERT_EQ(frames[1].size(), 262u);
  EXPECT_EQ(frames[1][6], 255);
  EXPECT_EQ(read_uplink(frames[1]).payload, Bytes(215, 0x55));
  Bytes codeword(frames[1].begin() + frame_prefix_size, frames[1].end());
  apply_randomizer(codeword);
  EXPECT_EQ(rs_decode(*rs_init(0), codeword, 0), 0);  // parity over the whole code
  EXPECT_EQ(capture.console_messages(),
            std::vector<std::string>{"Payload of 216 bytes exceeds 215 bytes: not transmitted\n"});
}

}  // namespace
