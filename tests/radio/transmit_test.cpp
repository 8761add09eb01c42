#include "radio/transmit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/frame_recording.hpp"
#include "support/gui_capture.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// The frame of the "list" command: payload 0x4C to destination 1, ports 14.
const Bytes list_frame = {0x93, 0x0B, 0x51, 0xDE, 0x9A, 0x40, 0x29, 0x4D, 0x5B, 0x80, 0xC0, 0xD6,
                          0x27, 0xB1, 0x41, 0xC2, 0xF7, 0x04, 0x79, 0x52, 0x92, 0x06, 0xA1, 0xB2,
                          0xA2, 0x70, 0x34, 0xD6, 0x52, 0x81, 0xAB, 0x80, 0x2B, 0xF8, 0xE6, 0x2A,
                          0x97, 0x08, 0x82, 0xE5, 0x85, 0xFF, 0x05, 0x64, 0x3E, 0x39, 0x73, 0x7D};

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
  EXPECT_EQ(frames[1].size(), 262u);
  EXPECT_EQ(frames[1][6], 255);
  EXPECT_EQ(read_uplink(frames[1]).payload, Bytes(215, 0x55));
  EXPECT_EQ(capture.console_messages(),
            std::vector<std::string>{"Payload of 216 bytes exceeds 215 bytes: not transmitted\n"});
}

}  // namespace
