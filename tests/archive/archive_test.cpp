// The archive: the bounded writer behind a stuck or failing disk, packet log
// lines as written and as refused, stream recordings, whole and cut (the
// appends behind both: files_test.cpp).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "archive/archive_writer.hpp"
#include "archive/packet_log.hpp"
#include "archive/recording.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "support/process.hpp"

namespace kestrelis {

namespace {

// A write function that holds every write until released, and records what
// it wrote, what was lost and what was reported. The writer's thread alone
// touches `written` and `reports` until the writer is drained or gone.
struct StuckDisk {
  std::atomic<bool> released = false;
  std::atomic<int> entered = 0;
  std::vector<std::string> written;
  std::vector<int> errors;  // the result of each write, in turn; 0 once used up
  std::atomic<uint64_t> lost{0};
  std::vector<std::pair<std::string, int>> reports;

  ArchiveWriter writer(size_t capacity) {
    return ArchiveWriter(
        capacity,
        [this](const ArchiveItem& item) {
          ++entered;
          while (!released) sleep_ms(1);
          written.push_back(item.bytes);
          return ArchiveWritten{sys_result(
              SysStep::write, written.size() <= errors.size() ? errors[written.size() - 1] : 0)};
        },
        [this](const ArchiveItem& item, const ArchiveWritten& outcome) {
          reports.emplace_back(item.bytes, outcome.status.error);
        },
        lost);
  }
};

TEST(ArchiveWriter, StuckWriteNeverHoldsTheQueueSideAndDropsAreCounted) {
  StuckDisk disk;
  {
    ArchiveWriter writer = disk.writer(100);
    ASSERT_TRUE(archive_offer(writer, {"f", "line 0..\n"}));
    while (disk.entered < 1) sleep_ms(1);  // the writer holds item 0 and is stuck
    // Ten 10-byte items fill the 100 bytes; the next ten are refused at once.
    int taken = 0;
    for (int i = 1; i <= 20; ++i) {
      taken += archive_offer(writer, {"f", std::string(9, char('a' + i)) + "\n"}) ? 1 : 0;
    }
    EXPECT_EQ(std::tuple(taken, disk.lost.load()), std::tuple(10, 10u));
    disk.released = true;
    EXPECT_EQ(archive_drain(writer, 5000), 0u);
    EXPECT_EQ(std::tuple(writer.items_written(), writer.bytes_written()), std::tuple(11u, 109u));
  }
  ASSERT_EQ(disk.written.size(), 11u);
  EXPECT_EQ(disk.written[10], "kkkkkkkkk\n");
  EXPECT_TRUE(disk.reports.empty());
}

TEST(ArchiveWriter, AFailureIsReportedOnceAndSoIsTheRecovery) {
  StuckDisk disk;
  disk.errors = {0, 28, 28, 28, 0, 0, 5, 0};
  disk.released = true;
  ArchiveWriter writer = disk.writer(1000);
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(archive_offer(writer, {"f", std::to_string(i)}));
  EXPECT_EQ(archive_drain(writer, 5000), 0u);
  EXPECT_EQ(disk.reports,
            (std::vector<std::pair<std::string, int>>{{"1", 28}, {"4", 0}, {"6", 5}, {"7", 0}}));
  EXPECT_EQ(disk.lost.load(), 4u);
  EXPECT_EQ(writer.items_written(), 4u);
}

TEST(ArchiveWriter, DrainGivesUpOnAStuckWriteAndCountsWhatIsLeft) {
  StuckDisk disk;
  ArchiveWriter writer = disk.writer(1000);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(archive_offer(writer, {"f", "x"}));
  while (disk.entered < 1) sleep_ms(1);
  EXPECT_EQ(archive_drain(writer, 50), 5u);  // the stuck write among them
  EXPECT_EQ(disk.lost.load(), 5u);
  // The process is ending: a packet the receive thread offers now is lost, and counted.
  EXPECT_FALSE(archive_offer(writer, {"f", "x"}));
  EXPECT_EQ(disk.lost.load(), 6u);
  disk.released = true;  // lets the destructor join the thread
}

using Bytes = std::vector<uint8_t>;

TEST(PacketLog, LinesReadBackAsWritten) {
  const std::vector<uint8_t> packet = {0x8a, 0x00, 0x07, 0x40, 0xff, 0x01, 0x02, 0x03, 0x04};
  Dispatch telemetry;
  telemetry.action = PacketAction::telemetry;
  telemetry.telemetry.status = TelemetryStatus::decoded;
  telemetry.telemetry.members = R"("tlm_id":"4138","UNIX":"1796479387.412")";
  const Dispatch text{PacketAction::digipeater_message, 0, 0, {}, {},
                      "say \"hi\"\\\n\xe9\x01\x7f~"};
  const std::pair<const Dispatch*, const char*> cases[] = {
      {&telemetry, "telemetry"}, {&text, "digipeater_text"}, {nullptr, "none"}};
  for (const auto& [dispatch, decoded] : cases) {
    SCOPED_TRACE(decoded);
    const std::string line = packet_log_line({1796479387412, packet, 3, true, 1, 8, dispatch});
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto read = parse_packet_log_line(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(read.has_value()) << line;
    EXPECT_EQ(std::tie(read->received, read->frame, read->rs_corrected, read->crc_tolerated,
                       read->source, read->port, read->decoded),
              std::tuple("2026-12-05T14:03:07.412Z", packet, 3, true, 1, 8, decoded));
  }
  // Control bytes, DEL and the bytes above it escaped, the text's bytes kept as code points.
  EXPECT_NE(packet_log_line({1796479387412, packet, 3, true, 1, 8, &text})
                .find(R"("text":"say \"hi\"\\\u000a\u00e9\u0001\u007f~")"),
            std::string::npos);
  EXPECT_EQ(packet_log_file_name(1796479387412), "2026-12-05.jsonl");
  EXPECT_EQ(iso_utc_ms(-1), "1969-12-31T23:59:59.999Z");
}

TEST(PacketLog, AnythingButAWholeLineIsRefused) {
  const std::string good =
      R"({"received":"2026-12-05T14:03:07.412Z","frame":"8a00074001020304","rs_corrected":0,)"
      R"("crc_tolerated":false,"source":1,"port":8,"decoded":"none"})";
  ASSERT_TRUE(parse_packet_log_line(good).has_value());
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  // Reed-Solomon mends up to 16 bytes of a codeword.
  EXPECT_TRUE(parse_packet_log_line(with("\"rs_corrected\":0", "\"rs_corrected\":16")));
  const std::string cases[] = {
      good.substr(0, good.size() / 2),  // cut by a power failure
      "",
      "[1,2,3]",
      with("8a00074001020304", "8a0007400102030"),   // odd number of digits
      with("8a00074001020304", "8a000740010203zz"),  // not hex
      with("8a00074001020304", "8a000740010203"),    // shorter than header and CRC
      with("14:03:07.412Z", "14:03:07Z"),            // time without milliseconds
      with("\"rs_corrected\":0", "\"rs_corrected\":\"0\""),
      with("\"rs_corrected\":0", "\"rs_corrected\":17"),
      with("\"port\":8", "\"port\":64"),
      with("\"crc_tolerated\":false", "\"crc_tolerated\":0"),
      with("\"decoded\":\"none\"", "\"decoded\":\"other\""),
      with("\"source\":1,", ""),
      with("\"decoded\":\"none\"", "\"decoded\":\"none\",\"x\":" + std::string(5000, '[')),
      good + "x",
  };
  for (const std::string& line : cases)
    EXPECT_FALSE(parse_packet_log_line(line).has_value()) << line.substr(0, 120);
}

// The records read_recording hands out, and how far it read.
std::pair<std::vector<RecordedDatagram>, RecordingSummary> stream_read(const std::string& path) {
  std::vector<RecordedDatagram> got;
  const RecordingSummary summary =
      read_recording(path, [&](int64_t received_us, std::span<const uint8_t> datagram) {
        got.push_back({received_us, {datagram.begin(), datagram.end()}});
        return true;
      });
  return {std::move(got), summary};
}

// In memory and streamed from a file alike, whole and cut inside the time,
// the length and the bytes of a record, at random points anywhere, and just
// after a piece boundary: the streamed reader takes the file in pieces of
// 1 MiB, which records of 64 KiB straddle.
TEST(Recording, RoundTripAndEveryCutReadsUpToTheLastWholeRecord) {
  constexpr unsigned seed = 20261206;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 rng(seed);
  std::vector<RecordedDatagram> sent;
  Bytes file(recording_header.begin(), recording_header.end());
  std::vector<size_t> ends;  // file size after each record
  std::vector<size_t> sizes = {1u, 64u, 2048u, 65536u, 7u};
  for (int i = 0; i < 20; ++i) sizes.push_back(65536 - rng() % 64);
  for (size_t size : sizes) {
    RecordedDatagram d{1'796'594'241'123'456 + int64_t(rng() % 1'000'000), Bytes(size)};
    for (uint8_t& b : d.bytes) b = static_cast<uint8_t>(rng());
    const Bytes record = pack_recorded_datagram(d.received_us, d.bytes);
    file.insert(file.end(), record.begin(), record.end());
    ends.push_back(file.size());
    sent.push_back(std::move(d));
  }
  ASSERT_GT(file.size(), recording_read_piece);
  const TempDir dir;
  const std::string path = dir.path() + "/p.rec";
  std::vector<size_t> cuts = {file.size(), ends[3] + 3, ends[3] + 10, file.size() - 1,
                              recording_read_piece + 1};
  for (int i = 0; i < 12; ++i) cuts.push_back(recording_header.size() + rng() % (file.size() - 8));
  for (const size_t cut : cuts) {
    SCOPED_TRACE(testing::Message() << "cut at " << cut);
    const size_t whole_records =
        static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
    const size_t good = whole_records > 0 ? ends[whole_records - 1] : 8;
    ASSERT_TRUE(write_text_file(path, std::string(file.begin(), file.begin() + cut)).ok());
    const RecordingRead in_memory = unpack_recording(std::span(file).first(cut));
    const auto [streamed, summary] = stream_read(path);
    for (const auto& [datagrams, read] :
         {std::pair(in_memory.datagrams, in_memory.summary), std::pair(streamed, summary)}) {
      EXPECT_EQ(read.state, good == cut ? RecordingState::whole : RecordingState::cut);
      EXPECT_EQ(recording_problem(read, "p.rec"),
                good == cut ? ""
                            : "p.rec is damaged after " + std::to_string(whole_records) +
                                  " datagrams (byte " + std::to_string(good) + " of " +
                                  std::to_string(cut) + "): read up to there\n");
      ASSERT_EQ(datagrams.size(), whole_records);
      for (size_t i = 0; i < whole_records; ++i) {
        EXPECT_EQ(datagrams[i].received_us, sent[i].received_us) << i;
        EXPECT_EQ(datagrams[i].bytes, sent[i].bytes) << i;
      }
    }
  }
}

// A file of many GiB is refused or cut at once, without being read: one
// without the header, and one whose records end in a hole of zeros, as a
// preallocated or sparse file holds (a record of no bytes is damage).
TEST(Recording, HugeSparseFilesAreRefusedOrCutAtTheirFirstHole) {
  const TempDir dir;
  const std::string path = dir.path() + "/h.rec";
  const auto problem_of_huge = [&path](std::span<const uint8_t> start) {
    EXPECT_TRUE(write_text_file(path, std::string(start.begin(), start.end())).ok());
    std::filesystem::resize_file(path, uint64_t{3} << 30);  // sparse: nothing is written
    const int64_t start_ms = monotonic_ms();
    const RecordingSummary read = stream_read(path).second;
    EXPECT_LT(monotonic_ms() - start_ms, 1000);
    EXPECT_EQ(read.file_size, uint64_t{3} << 30);
    return recording_problem(read, "h.rec");
  };
  EXPECT_EQ(problem_of_huge({}), "h.rec is not a Kestrelis stream recording\n");
  const Bytes first = pack_recorded_datagram(1'796'594'241'123'456, Bytes(100, 0x55));
  Bytes head(recording_header.begin(), recording_header.end());
  head.insert(head.end(), first.begin(), first.end());
  EXPECT_EQ(problem_of_huge(head),
            "h.rec is damaged after 1 datagrams (byte 120 of 3221225472): read up to there\n");
}

TEST(Recording, TooLittleFreeIsUnderOneGibOrUnderATwentieth) {
  constexpr uint64_t gib = uint64_t{1} << 30;
  EXPECT_FALSE(too_little_free_to_record(gib, 4 * gib));  // a small disk
  EXPECT_TRUE(too_little_free_to_record(gib - 1, 4 * gib));
  EXPECT_FALSE(too_little_free_to_record(50 * gib, 1000 * gib));  // a large disk, 5 % free
  EXPECT_TRUE(too_little_free_to_record(50 * gib - 1, 1000 * gib));
  EXPECT_TRUE(too_little_free_to_record(0, 0));
}

TEST(Recording, LayoutFileNamesAndForeignOrOversizedContent) {
  const Bytes record = pack_recorded_datagram(0x0102030405060708, Bytes{0xAA, 0x55});
  EXPECT_EQ(record, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 2, 0xAA, 0x55}));
  EXPECT_EQ(std::string(recording_header.begin(), recording_header.end() - 1), "KSTRREC");
  EXPECT_EQ(recording_file_name(1'796'594'241'999, 0), "20261206T215721Z.rec");
  EXPECT_EQ(recording_file_name(1'796'594'241'000, 2), "20261206T215721Z-2.rec");

  Bytes oversized(recording_header.begin(), recording_header.end());
  const Bytes head = {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1};  // 65537 bytes announced
  oversized.insert(oversized.end(), head.begin(), head.end());
  oversized.resize(oversized.size() + 65537);
  EXPECT_EQ(unpack_recording(oversized).summary.state, RecordingState::cut);
  Bytes empty_record(recording_header.begin(), recording_header.end());
  empty_record.resize(empty_record.size() + record_head_size + 10);
  EXPECT_EQ(unpack_recording(empty_record).summary.state, RecordingState::cut);
  EXPECT_EQ(unpack_recording(empty_record).summary.good_bytes, 8u);
  const Bytes text = {'{', '"', 'r', 'e', 'c', 'e', 'i', 'v', 'e', 'd', '"'};
  EXPECT_EQ(unpack_recording(text).summary.state, RecordingState::not_a_recording);
  EXPECT_EQ(unpack_recording(Bytes{}).summary.state, RecordingState::not_a_recording);
}

}  // namespace

}  // namespace kestrelis
