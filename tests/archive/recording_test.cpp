// Stream recordings: the documented layout, packing and unpacking as mirrors,
// and a file cut anywhere read up to its last whole record.

#include "archive/recording.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Recording, RecordLayoutIsBigEndianTimeLengthBytes) {
  const Bytes record = pack_recorded_datagram(0x0102030405060708, Bytes{0xAA, 0x55});
  EXPECT_EQ(record, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 2, 0xAA, 0x55}));
  EXPECT_EQ(std::string(recording_header.begin(), recording_header.end() - 1), "KSTRREC");
}

TEST(Recording, RoundTripAndEveryCutReadsUpToTheLastWholeRecord) {
  constexpr unsigned seed = 20261206;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 rng(seed);
  std::vector<RecordedDatagram> sent;
  Bytes file(recording_header.begin(), recording_header.end());
  std::vector<size_t> ends;  // file size after each record
  for (size_t size : {0u, 1u, 64u, 2048u, 65536u, 7u}) {
    RecordedDatagram d{1'796'594'241'123'456 + int64_t(rng() % 1'000'000), Bytes(size)};
    for (uint8_t& b : d.bytes) b = static_cast<uint8_t>(rng());
    const Bytes record = pack_recorded_datagram(d.received_us, d.bytes);
    file.insert(file.end(), record.begin(), record.end());
    ends.push_back(file.size());
    sent.push_back(std::move(d));
  }
  const RecordingRead whole = unpack_recording(file);
  EXPECT_EQ(whole.state, RecordingState::whole);
  EXPECT_EQ(recording_problem(whole, "x.rec", file.size()), "");
  ASSERT_EQ(whole.datagrams.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(whole.datagrams[i].received_us, sent[i].received_us) << i;
    EXPECT_EQ(whole.datagrams[i].bytes, sent[i].bytes) << i;
  }

  // Cut inside the time, the length and the bytes of the last record, and
  // at random points anywhere.
  std::vector<size_t> cuts = {ends[4] + 3, ends[4] + 10, file.size() - 1};
  for (int i = 0; i < 20; ++i) cuts.push_back(recording_header.size() + rng() % (file.size() - 8));
  for (const size_t cut : cuts) {
    SCOPED_TRACE(testing::Message() << "cut at " << cut);
    const RecordingRead read = unpack_recording(std::span(file).first(cut));
    const size_t whole_records =
        static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
    ASSERT_EQ(read.datagrams.size(), whole_records);
    const bool at_end = whole_records > 0 ? ends[whole_records - 1] == cut : cut == 8;
    EXPECT_EQ(read.state, at_end ? RecordingState::whole : RecordingState::cut);
    if (!at_end) {
      EXPECT_EQ(recording_problem(read, "p.rec", cut),
                "p.rec is damaged after " + std::to_string(whole_records) + " datagrams (byte " +
                    std::to_string(read.good_bytes) + " of " + std::to_string(cut) +
                    "): read up to there\n");
    }
  }
}

TEST(Recording, ForeignOrOversizedContentIsNotTakenAsDatagrams) {
  Bytes oversized(recording_header.begin(), recording_header.end());
  const Bytes head = {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1};  // 65537 bytes announced
  oversized.insert(oversized.end(), head.begin(), head.end());
  oversized.resize(oversized.size() + 65537);
  EXPECT_EQ(unpack_recording(oversized).state, RecordingState::cut);
  EXPECT_TRUE(unpack_recording(oversized).datagrams.empty());

  const Bytes text = {'{', '"', 'r', 'e', 'c', 'e', 'i', 'v', 'e', 'd', '"'};
  EXPECT_EQ(unpack_recording(text).state, RecordingState::not_a_recording);
  EXPECT_EQ(unpack_recording(Bytes{}).state, RecordingState::not_a_recording);
}

TEST(Recording, FileNamesAreTheUtcStartSecond) {
  EXPECT_EQ(recording_file_name(1'796'594'241'999, 0), "20261206T215721Z.rec");
  EXPECT_EQ(recording_file_name(1'796'594'241'000, 2), "20261206T215721Z-2.rec");
}

}  // namespace

}  // namespace kestrelis
