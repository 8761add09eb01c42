// The time the downlink logs a packet with, and what the real kestrelis-tnc
// reports. Its packet log: a log that cannot be written costs the GUI nothing
// - one message, frames keep coming - and logging resumes behind a line cut
// short. Its recordings: decoded again, and bounded by RecordingLimitMB and the
// free disk space.

#include "archive/packet_log.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/downlink.hpp"
#include "app/station_archive.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "support/downlink_packets.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

// The number of GUI frames read until one holds `text`, that one included.
size_t frames_until(KissReader& gui, std::string_view text) {
  size_t n = 0;
  for (std::optional<std::string> frame; (frame = gui.next(5000));) {
    ++n;
    if (frame->find(text) != std::string::npos) break;
  }
  return n;
}

std::vector<PacketBytes> frames_of(const std::vector<std::string>& lines) {
  std::vector<PacketBytes> frames;
  for (const std::string& line : lines) {
    frames.push_back(parse_packet_log_line(line).value_or(LoggedPacket{}).frame);
  }
  return frames;
}

// A packet is logged with the arrival of the datagram that completed its
// frame, not with the time it is handled: the receive thread may have waited
// seconds on a GUI that stopped reading. Three datagrams, each with its own
// arrival time: every packet but the last, then the last one's frame in two
// halves; the first packet with a byte that Reed-Solomon mends. (The start-up
// line naming the log: the golden transcript.)
TEST(PacketLogDownlink, EachPacketCarriesTheArrivalOfTheDatagramThatCompletedIt) {
  const int64_t first_us = 1796594241123456;  // 2026-12-06T21:57:21.123456Z
  const int64_t cut_us = first_us + 2250000;
  const int64_t last_us = cut_us + 999;  // the next millisecond: the halves stay apart
  const std::vector<PacketBytes> packets = sample_packets(first_us / 1000, "late");
  std::vector<uint8_t> head = stream_of_packets(std::vector(packets.begin(), packets.end() - 1));
  head[8 + frame_prefix_size + 3] ^= 0x5A;  // a byte of the first codeword for Reed-Solomon to mend
  const std::vector<uint8_t> tail = stream_of_packets({packets.back()});
  // Each packet's arrival and bytes mended.
  std::vector<std::string> expected(packets.size(), "2026-12-06T21:57:21.123Z 0");
  expected.front().back() = '1';
  expected.back() = "2026-12-06T21:57:23.374Z 0";
  for (const AcquisitionMode acquisition : {AcquisitionMode::described, AcquisitionMode::robust}) {
    SCOPED_TRACE(acquisition == AcquisitionMode::robust ? "robust" : "described");
    TempDir home;
    StationCapture out(TncConfig{.Acquisition = acquisition});
    Station& station = out.station;
    start_archive(station.archive, station.config, home.path(), station.console,
                  station.statistics.packets_not_logged);
    Acquirer acquirer = acquirer_for(station.config);
    receive_datagram(station, acquirer, head, first_us);
    receive_datagram(station, acquirer, std::span(tail).first(tail.size() / 2), cut_us);
    receive_datagram(station, acquirer, std::span(tail).subspan(tail.size() / 2), last_us);
    finish_archive(station.archive, station.console);
    const std::vector<std::string> lines = wait_for_log_lines(home.path(), first_us / 1000, 0, 0);
    EXPECT_EQ(frames_of(lines), packets);
    std::vector<std::string> arrivals;
    for (const std::string& line : lines) {
      const LoggedPacket p = parse_packet_log_line(line).value_or(LoggedPacket{});
      arrivals.push_back(p.received + " " + std::to_string(p.rs_corrected));
    }
    EXPECT_EQ(arrivals, expected);
  }
}

// Packets logged with no GUI connected: SimReplay in station_loopback_test.cpp.
// The statistics, printed every StatsInterval, count the packets not logged.
TEST(PacketLogBinary, AnUnwritableLogNeverStallsTheDownlinkAndLoggingResumesAfterACutLine) {
  const TncPorts ports;
  TncProfile profile(ports.ini("ModemSilence = 0\nStatsInterval = 1\n") + "[rigctld]\nAddress =\n");
  const std::string in_the_way = profile.folder() + "/packets";
  ASSERT_TRUE(write_text_file(in_the_way, "not a folder\n").ok());
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
  KissClient gui(ports.kiss, 5000);
  ASSERT_TRUE(tnc.wait_for_output("GUI connected", 5000)) << tnc.output();
  KissReader reader(gui.fd());

  const int64_t start_ms = now_unix_ms();
  // Two passes while the log cannot be written, then one once it can: every
  // GUI frame still comes, the failure is told once. Each record is a
  // "Received:" text and its telemetry object; the message one text.
  size_t not_logged = 0;
  std::vector<PacketBytes> packets;
  for (const std::string text : {"first pass", "second pass", "third \"pass\""}) {
    packets = sample_packets(start_ms, text);
    if (text.starts_with("third")) {
      // The log's writer runs behind the downlink: once the statistics count
      // every packet so far as not logged, the way is cleared, and the day's
      // file ends in a line cut by a power failure.
      ASSERT_TRUE(
          tnc.wait_for_output("; " + std::to_string(not_logged) + " packets not logged\n", 10000))
          << tnc.output();
      ASSERT_EQ(std::remove(in_the_way.c_str()), 0);
      ASSERT_TRUE(make_directories(in_the_way).ok());
      ASSERT_TRUE(
          write_text_file(in_the_way + "/" + packet_log_file_name(start_ms), "{\"rec").ok());
    } else {
      not_logged += packets.size();
    }
    send_stream(ports.modem, stream_of_packets(packets), 300);
    EXPECT_EQ(frames_until(reader, "Received: " + text), 2 * (packets.size() - 1) + 1)
        << text << "\n"
        << tnc.output();
  }
  std::vector<std::string> lines =
      wait_for_log_lines(profile.home(), start_ms, packets.size() + 1, 5000);
  ASSERT_FALSE(lines.empty()) << tnc.output();
  EXPECT_EQ(lines.front(), "{\"rec");  // a line of its own
  lines.erase(lines.begin());
  EXPECT_EQ(frames_of(lines), packets);
  EXPECT_EQ(parse_packet_log_line(lines.back()).value_or(LoggedPacket{}).decoded,
            "digipeater_text");
  EXPECT_NE(lines.back().find(R"("text":"third \"pass\"")"), std::string::npos);
  ASSERT_TRUE(tnc.wait_for_output("Packet log: writing", 5000)) << tnc.output();
  ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);
  const std::string& out = tnc.output();
  EXPECT_EQ(occurrences(out, "Packet log: cannot write"), 1u) << out;
  EXPECT_EQ(occurrences(out, "Packet log: writing"), 1u) << out;
  // Each report whole: its two lines, never one half printed.
  EXPECT_EQ(occurrences(out, "Statistics: "), 2 * occurrences(out, "Statistics: packets")) << out;
}

// A pass recorded live with the described search, decoded again from its
// recording: with the described search into the live log's very lines, times
// included; with the robust one into those and the frame whose sync word the
// described search missed. The day files get nothing, and an output file is
// never overwritten.
TEST(DecodeBinary, ARecordedPassGivesTheLiveLogAndTheRobustSearchMore) {
  const TncPorts ports;
  TncProfile profile(ports.ini("ModemSilence = 0\nStreamRecording = 1\n") +
                     "[rigctld]\nAddress =\n");
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
  const int64_t start_ms = now_unix_ms();
  const std::vector<PacketBytes> packets = sample_packets(start_ms, "decoded again");
  constexpr size_t missed = 2;  // two wrong bits in the sync word's 0x51
  for (size_t i = 0; i < packets.size(); ++i) {
    std::vector<uint8_t> datagram = stream_of_packets({packets[i]});
    if (i == missed) datagram[8 + 2] ^= 0x81;
    send_stream(ports.modem, datagram, datagram.size());
    sleep_ms(3);  // each packet a millisecond of its own
  }
  const std::vector<std::string> live =
      wait_for_log_lines(profile.home(), start_ms, packets.size() - 1, 5000);
  ASSERT_EQ(live.size(), packets.size() - 1) << tnc.output();
  ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);
  const std::string out = tnc.output();
  const size_t at = out.find("Recording: ") + 11;
  const std::string path = out.substr(at, out.find(',', at) - at);

  ChildProcess described = start_tnc(profile.home(), {"--decode", path});
  EXPECT_EQ(described.wait_exit(10'000), 0) << described.output();
  EXPECT_EQ(lines_of(read_file(path + ".decoded.jsonl")), live) << out << described.output();
  EXPECT_TRUE(described.wait_for_output("Decoding " + path + " (Acquisition = described) into", 0))
      << described.output();
  ChildProcess again = start_tnc(profile.home(), {"--decode", path});
  EXPECT_EQ(again.wait_exit(10'000), 1 << 8) << again.output();
  EXPECT_TRUE(again.wait_for_output("it exists already", 0)) << again.output();

  const std::string robust_path = profile.home() + "/robust.jsonl";
  ChildProcess robust = start_tnc(
      profile.home(), {"--decode", path, "--acquisition", "robust", "--output", robust_path});
  EXPECT_EQ(robust.wait_exit(10'000), 0) << robust.output();
  std::vector<std::string> found = lines_of(read_file(robust_path));
  EXPECT_EQ(frames_of(found), packets);
  if (found.size() == packets.size()) found.erase(found.begin() + missed);
  EXPECT_EQ(found, live);
  EXPECT_EQ(wait_for_log_lines(profile.home(), start_ms, 0, 0), live);
}

// A disk the test makes up, so that the free-space stop can be met.
std::atomic<uint64_t> made_up_free{0};
std::optional<DiskSpace> made_up_disk(const std::string&) {
  return DiskSpace{.free_bytes = made_up_free.load(), .total_bytes = uint64_t{100} << 30};
}

// The recording ends with one line at RecordingLimitMB, or when the disk runs
// low (at the start or later); the packet log is written all the same.
TEST(RecordingBounds, TheLimitAndALowDiskEndTheRecordingAndThePacketLogGoesOn) {
  constexpr uint64_t plenty = uint64_t{50} << 30;
  constexpr uint64_t low = uint64_t{4} << 30;  // under 5 % of 100 GiB
  // RecordingLimitMB, free at the start and later, the line said, the recording's size at most.
  const std::tuple<int32_t, uint64_t, uint64_t, std::string, uint64_t> cases[] = {
      {1, plenty, plenty, "reached RecordingLimitMB = 1 (1048576 bytes)", 1 << 20},
      {0, low, low, "free on the disk of ", 0},
      {0, plenty, low, "MiB (1 GiB or 5 % of the disk); recording ended for this run", 3 << 20},
  };
  for (const auto& [limit_mb, free_at_start, free_later, said_once, most_bytes] : cases) {
    SCOPED_TRACE(said_once);
    TempDir home;
    StationCapture out(TncConfig{.StreamRecording = 1, .RecordingLimitMB = limit_mb});
    Station& station = out.station;
    station.archive.query_disk_space = made_up_disk;
    made_up_free = free_at_start;
    start_archive(station.archive, station.config, home.path(), station.console,
                  station.statistics.packets_not_logged);
    // The first record short enough for the records to fill the limit to the byte.
    const std::vector<uint8_t> filler(65536, idle_byte);
    int64_t received_us = now_unix_us();
    for (int i = 0; i < 40; ++i) {
      if (i == 20) made_up_free = free_later;
      record_datagram(station.archive, ++received_us,
                      std::span(filler).first(i == 0 ? 65536 - 200 : 65536));
    }
    const std::vector<PacketBytes> packets = sample_packets(received_us / 1000, "logged");
    const std::vector<uint8_t> stream = stream_of_packets(packets);
    FrameDetector detector;
    record_datagram(station.archive, ++received_us, stream);
    receive_datagram(station, detector, stream, received_us);
    const std::string recording = station.archive.recording_path;
    finish_archive(station.archive, station.console);

    EXPECT_EQ(frames_of(wait_for_log_lines(home.path(), received_us / 1000, 0, 0)), packets);
    std::string said;
    for (const std::string& line : out.console()) said += line;
    EXPECT_EQ(occurrences(said, said_once), 1u) << said;
    EXPECT_EQ(occurrences(said, "; the packet log goes on"), 1u) << said;
    // The records left queued when the recording ended are no failed write and no recovery.
    EXPECT_EQ(said.find("writ"), std::string::npos) << said;
    EXPECT_LE(file_size(recording).value_or(0), most_bytes);
  }
}

}  // namespace

}  // namespace kestrelis
