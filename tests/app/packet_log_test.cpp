// The time the downlink logs a packet with, and what the real kestrelis-tnc
// reports. Its packet log: a log that cannot be written costs the GUI nothing
// - one message, frames keep coming - and logging resumes behind a line cut
// short. Its decoder statistics: on SIGUSR1 and every StatsInterval seconds
// (how they are counted: robust_downlink_test.cpp).

#include "archive/packet_log.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/downlink.hpp"
#include "app/station_archive.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/downlink_packets.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

// A TNC on `ports` that keys nothing and watches no silence.
std::string config_for(const TncPorts& ports, const std::string& more = "") {
  return ports.ini("ModemSilence = 0\n" + more) + "[rigctld]\nAddress =\n";
}

// The number of GUI frames read until one holds `text`, that one included.
size_t frames_until(KissReader& gui, std::string_view text) {
  size_t n = 0;
  for (std::optional<std::string> frame; (frame = gui.next(5000));) {
    ++n;
    if (frame->find(text) != std::string::npos) break;
  }
  return n;
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
  for (const char* acquisition : {"described", "robust"}) {
    SCOPED_TRACE(acquisition);
    TempDir home;
    TncConfig config;
    config.Acquisition = std::string_view(acquisition) == "robust" ? AcquisitionMode::robust
                                                                   : AcquisitionMode::described;
    StationCapture out(config);
    Station& station = out.station;
    start_archive(station.archive, station.config, home.path(), station.console,
                  station.statistics.packets_not_logged);
    std::variant<FrameDetector, RobustDetector> detector;
    if (config.Acquisition == AcquisitionMode::robust) detector.emplace<RobustDetector>();
    const auto feed = [&](std::span<const uint8_t> bytes, int64_t received_us) {
      std::visit([&](auto& d) { receive_datagram(station, d, bytes, received_us); }, detector);
    };
    feed(head, first_us);
    feed(std::span(tail).first(tail.size() / 2), cut_us);
    feed(std::span(tail).subspan(tail.size() / 2), last_us);
    finish_archive(station.archive, station.console);
    const std::vector<std::string> lines =
        wait_for_log_lines(home.path(), first_us / 1000, packets.size(), 0);
    ASSERT_EQ(lines.size(), packets.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "packet " << i);
      const std::optional<LoggedPacket> logged = parse_packet_log_line(lines[i]);
      ASSERT_TRUE(logged) << lines[i];
      EXPECT_EQ(logged->frame, packets[i]);
      EXPECT_EQ(logged->rs_corrected, i == 0 ? 1 : 0);
      EXPECT_EQ(logged->received,
                i + 1 < lines.size() ? "2026-12-06T21:57:21.123Z" : "2026-12-06T21:57:23.374Z");
    }
  }
}

// Packets logged with no GUI connected: SimReplay in station_loopback_test.cpp.
TEST(PacketLogBinary, AnUnwritableLogNeverStallsTheDownlinkAndLoggingResumesAfterACutLine) {
  const TncPorts ports;
  TncProfile profile(config_for(ports));
  const std::string in_the_way = profile.folder() + "/packets";
  ASSERT_TRUE(write_text_file(in_the_way, "not a folder\n").ok());
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
  KissClient gui(ports.kiss, 5000);
  ASSERT_TRUE(gui.connected());
  ASSERT_TRUE(tnc.wait_for_output("GUI connected", 5000)) << tnc.output();
  KissReader reader(gui.fd());

  const int64_t start_ms = now_unix_ms();
  // Two passes while the log cannot be written: every GUI frame still comes,
  // and the failure is told once.
  size_t not_logged = 0;
  for (const char* text : {"first pass", "second pass"}) {
    const std::vector<PacketBytes> packets = sample_packets(start_ms, text);
    not_logged += packets.size();
    send_stream(ports.modem, stream_of_packets(packets), 300);
    // Each record is a "Received:" text and its telemetry object; the message one text.
    EXPECT_EQ(frames_until(reader, std::string("Received: ") + text), 2 * (packets.size() - 1) + 1)
        << text << "\n"
        << tnc.output();
  }
  // The log's writer runs behind the downlink: once the statistics count every
  // packet so far as not logged, the way is cleared.
  const std::string all_lost = "; " + std::to_string(not_logged) + " packets not logged\n";
  bool counted = false;
  for (int i = 0; i < 50 && !counted; ++i) {
    ASSERT_EQ(::kill(tnc.pid(), SIGUSR1), 0);
    counted = tnc.wait_for_output(all_lost, 100);
  }
  ASSERT_TRUE(counted) << tnc.output();
  ASSERT_EQ(std::remove(in_the_way.c_str()), 0);
  // The day's file now ends in a line cut by a power failure: it stays a line of its own.
  const std::string cut_line = R"({"received":"2026-12-06T21:57:21.123Z","frame":"8a)";
  ASSERT_TRUE(make_directories(in_the_way).ok());
  ASSERT_TRUE(write_text_file(in_the_way + "/" + packet_log_file_name(start_ms), cut_line).ok());

  const std::vector<PacketBytes> packets = sample_packets(start_ms, "third \"pass\"");
  send_stream(ports.modem, stream_of_packets(packets), 300);
  EXPECT_EQ(frames_until(reader, "Received: third \"pass\""), 2 * (packets.size() - 1) + 1);
  const std::vector<std::string> lines =
      wait_for_log_lines(profile.home(), start_ms, packets.size() + 1, 5000);
  ASSERT_EQ(lines.size(), packets.size() + 1) << tnc.output();
  EXPECT_EQ(lines[0], cut_line);
  for (size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "packet " << i << ": " << lines[i + 1]);
    const std::optional<LoggedPacket> logged = parse_packet_log_line(lines[i + 1]);
    ASSERT_TRUE(logged);
    const bool text = i + 1 == packets.size();
    EXPECT_EQ(logged->frame, packets[i]);
    EXPECT_EQ(logged->decoded, text ? "digipeater_text" : "telemetry");
    EXPECT_EQ(logged->port, text ? digipeater_message_port : telemetry_port);
    EXPECT_EQ(logged->source, satellite_address);
    EXPECT_EQ(logged->rs_corrected, 0);
    EXPECT_FALSE(logged->crc_tolerated);
    EXPECT_GE(logged->received, iso_utc_ms(start_ms));
  }
  EXPECT_NE(lines.back().find(R"("text":"third \"pass\"")"), std::string::npos);
  ASSERT_TRUE(tnc.wait_for_output("Packet log: writing", 5000)) << tnc.output();
  ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);
  const std::string& out = tnc.output();
  EXPECT_EQ(occurrences(out, "Packet log: cannot write"), 1u) << out;
  EXPECT_EQ(occurrences(out, "Packet log: writing"), 1u) << out;
  EXPECT_NE(out.substr(out.rfind("Statistics: packets")).find(all_lost), std::string::npos) << out;
}

// A pass recorded live with the described search, decoded again from its
// recording: with the described search into the live log's very lines, times
// included; with the robust one into those and the frame whose sync word the
// described search missed, from a recording since cut short. The day files
// get nothing, and an output file is never overwritten.
TEST(DecodeBinary, ARecordedPassGivesTheLiveLogAndTheRobustSearchMore) {
  const TncPorts ports;
  TncProfile profile(config_for(ports, "StreamRecording = 1\n"));
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
  const int64_t start_ms = now_unix_ms();
  const std::vector<PacketBytes> packets = sample_packets(start_ms, "decoded again");
  constexpr size_t missed = 2;  // two wrong bits in the sync word's 0x51
  const Socket socket = udp_open();
  for (size_t i = 0; i < packets.size(); ++i) {
    std::vector<uint8_t> datagram = stream_of_packets({packets[i]});
    if (i == missed) datagram[8 + 2] ^= 0x81;
    ASSERT_TRUE(datagram_send(socket.fd(), {0x7F000001, ports.modem}, datagram).ok());
    sleep_ms(3);  // each packet a millisecond of its own
  }
  const std::vector<std::string> live =
      wait_for_log_lines(profile.home(), start_ms, packets.size() - 1, 5000);
  ASSERT_EQ(live.size(), packets.size() - 1) << tnc.output();
  ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);
  const std::string out = tnc.output();
  const size_t at = out.find("Recording: ");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string path = out.substr(at + 11, out.find(',', at) - at - 11);

  ChildProcess described = start_tnc(profile.home(), {"--decode", path});
  EXPECT_EQ(described.wait_exit(10'000), 0) << described.output();
  EXPECT_EQ(lines_of(read_file(path + ".decoded.jsonl")), live) << described.output();
  EXPECT_NE(described.output().find("Decoding " + path + " (Acquisition = described) into"),
            std::string::npos)
      << described.output();
  ChildProcess again = start_tnc(profile.home(), {"--decode", path});
  EXPECT_EQ(again.wait_exit(10'000), 1 << 8) << again.output();
  EXPECT_NE(again.output().find("it exists already"), std::string::npos) << again.output();

  ASSERT_TRUE(append_whole(path, std::string(5, '\0'), AppendKind::record).ok());
  const std::string robust_path = profile.home() + "/robust.jsonl";
  ChildProcess robust = start_tnc(
      profile.home(), {"--decode", path, "--acquisition", "robust", "--output", robust_path});
  EXPECT_EQ(robust.wait_exit(10'000), 0) << robust.output();
  EXPECT_NE(
      robust.output().find(" is damaged after " + std::to_string(packets.size()) + " datagrams"),
      std::string::npos)
      << robust.output();
  const std::vector<std::string> found = lines_of(read_file(robust_path));
  ASSERT_EQ(found.size(), packets.size()) << robust.output();
  for (size_t i = 0, j = 0; i < found.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "packet " << i);
    const std::optional<LoggedPacket> logged = parse_packet_log_line(found[i]);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->frame, packets[i]);
    if (i != missed) {
      EXPECT_EQ(found[i], live[j++]);
    }
  }
  EXPECT_EQ(wait_for_log_lines(profile.home(), start_ms, 0, 0), live);
}

// A disk the test makes up, so that the free-space stop can be met.
std::atomic<uint64_t> made_up_free{0};
constexpr uint64_t made_up_total = uint64_t{100} << 30;
std::optional<DiskSpace> made_up_disk(const std::string&) {
  return DiskSpace{.free_bytes = made_up_free.load(), .total_bytes = made_up_total};
}

// The recording ends with one line at RecordingLimitMB, or when the disk runs
// low (at the start or later); the packet log is written all the same.
TEST(RecordingBounds, TheLimitAndALowDiskEndTheRecordingAndThePacketLogGoesOn) {
  constexpr uint64_t plenty = uint64_t{50} << 30;
  constexpr uint64_t low = uint64_t{4} << 30;  // under 5 % of 100 GiB
  const struct {
    const char* name;
    int32_t limit_mb;
    uint64_t free_at_start, free_later;
    std::string said;
    uint64_t most_bytes;  // the recording's size at the end
  } cases[] = {
      {"limit", 1, plenty, plenty, "reached RecordingLimitMB = 1 (1048576 bytes)", 1 << 20},
      {"low at start", 0, low, low, "free on the disk of ", 0},
      {"low later", 0, plenty, low, "MiB (1 GiB or 5 % of the disk); recording ended for this run",
       3 << 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir home;
    TncConfig config;
    config.StreamRecording = 1;
    config.RecordingLimitMB = c.limit_mb;
    StationCapture out(config);
    Station& station = out.station;
    station.archive.query_disk_space = made_up_disk;
    made_up_free = c.free_at_start;
    start_archive(station.archive, station.config, home.path(), station.console,
                  station.statistics.packets_not_logged);
    // The first record short enough for the records to fill the limit to the byte.
    const std::vector<uint8_t> filler(65536, idle_byte);
    const std::vector<uint8_t> first(65536 - 200, idle_byte);
    int64_t received_us = now_unix_us();
    for (int i = 0; i < 40; ++i) {
      if (i == 20) made_up_free = c.free_later;
      record_datagram(station.archive, ++received_us, i == 0 ? first : filler);
    }
    const std::vector<PacketBytes> packets = sample_packets(received_us / 1000, "logged");
    const std::vector<uint8_t> stream = stream_of_packets(packets);
    FrameDetector detector;
    record_datagram(station.archive, ++received_us, stream);
    receive_datagram(station, detector, stream, received_us);
    const std::string recording = station.archive.recording_path;
    finish_archive(station.archive, station.console);

    EXPECT_EQ(wait_for_log_lines(home.path(), received_us / 1000, packets.size(), 0).size(),
              packets.size());
    const std::vector<std::string> said = out.console();
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [&](const std::string& l) {
                              return l.find("Recording: ") == 0 && l.find(c.said) != l.npos &&
                                     l.find("the packet log goes on") != l.npos;
                            }),
              1)
        << testing::PrintToString(said);
    EXPECT_LE(file_size(recording).value_or(0), c.most_bytes);
  }
}

// Waits until `word` has come `n` times, for at most `timeout_ms`.
bool wait_for_count(ChildProcess& tnc, std::string_view word, size_t n, int timeout_ms) {
  for (int waited = 0; occurrences(tnc.output(), word) < n; waited += 50) {
    if (waited >= timeout_ms) return false;
    (void)tnc.wait_for_output("\x01", 50);  // never printed: drains the output for 50 ms
  }
  return true;
}

// Printed at exit without being asked: the golden transcript.
TEST(StatisticsBinary, PrintedOnSigusr1AndEveryInterval) {
  // Two wrong bits in the last sync byte, one in the length field.
  std::vector<uint8_t> stream = list_frame;
  stream[3] ^= 0x03;
  stream[5] ^= 0x10;
  stream.resize(stream.size() + 2);
  const std::string counts = "Statistics: " + std::to_string(8 * stream.size()) +
                             " bits, 1 sync words, 1 length bits corrected; codewords 1 decoded";
  const std::string second_line = "Statistics: packets 0 telemetry";
  const struct {
    const char* name;
    std::string extra_config;
    bool sigusr1;
    size_t reports;  // before SIGTERM
  } cases[] = {{"SIGUSR1", "", true, 1}, {"every second", "StatsInterval = 1\n", false, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TncPorts ports;
    TncProfile profile(config_for(ports, "Acquisition = robust\n" + c.extra_config));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    ASSERT_TRUE(datagram_send(udp_open().fd(), {0x7F000001, ports.modem}, stream).ok());
    ASSERT_TRUE(tnc.wait_for_output("Received self-generated packet", 5000)) << tnc.output();
    if (c.sigusr1) (void)::kill(tnc.pid(), SIGUSR1);
    ASSERT_TRUE(wait_for_count(tnc, second_line, c.reports, 5000)) << tnc.output();
    ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);  // a report is never read half printed
    const std::string& all = tnc.output();
    EXPECT_NE(all.find(counts), std::string::npos) << all;
    EXPECT_EQ(occurrences(all, "Statistics: "), 2 * occurrences(all, second_line)) << all;
  }
}

}  // namespace

}  // namespace kestrelis
