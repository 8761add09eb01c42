// The simulator: its satellite on the test's own clock, its downlink stream
// read back with the TNC's receive stages, its replay of recordings, and the
// TNC's uplink datagrams decoded; and a short run of the load tool.

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "archive/recording.hpp"
#include "packet/digipeater.hpp"
#include "packet/packet_check.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "radio/test_bit_stream.hpp"
#include "sim/bit_stream.hpp"
#include "sim/options.hpp"
#include "sim/replay.hpp"
#include "sim/satellite.hpp"
#include "sim/soft_channel.hpp"
#include "sim/uplink.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/frame_detector.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::literals;

Bytes text(std::string_view s) { return {s.begin(), s.end()}; }

constexpr CspHeader to(uint8_t destination, uint8_t port, uint8_t source_port = 0) {
  return {.destination = destination, .destination_port = port, .source_port = source_port};
}

TEST(SimSatellite, AnswersListCountAndPingRelaysAfterTheDelayAndRefusesOtherRequests) {
  Satellite sat;
  sat.time_scale = 10;
  // The payloads of the replies to `payload`, each sent to the ground station.
  const auto replies = [&sat](CspHeader header, std::string_view payload, int64_t now_ms) {
    std::vector<std::string> said;
    for (const SimPacket& r : satellite_receive(sat, header, text(payload), now_ms).replies) {
      EXPECT_EQ(r.header.destination, ground_station_address);
      said.emplace_back(r.payload.begin(), r.payload.end());
    }
    return said;
  };
  using Said = std::vector<std::string>;
  EXPECT_EQ(replies(to(satellite_address, digipeater_port, message_source_port),
                    "QQ0ABC > QQ0XYZ , Kestrelis, STORE = 30   hi there\0"sv, 5'000),
            Said{});
  // A second later, 20 satellite seconds remain.
  constexpr CspHeader command = to(satellite_address, digipeater_port, digipeater_port);
  EXPECT_EQ(replies(command, "L", 6'000), Said{"Stored 1: QQ0ABC>QQ0XYZ in 20 s"});
  EXPECT_EQ(replies(command, "C", 6'000), Said{"Count 1"});
  EXPECT_EQ(replies(to(ping_address, ping_port), "QQ0ABC", 6'000), Said{"Pong QQ0ABC"});
  EXPECT_EQ(replies(to(satellite_address, telemetry_port), "L", 0), Said{});

  // 30 satellite seconds at time scale 10 are 3 s of the caller's clock.
  EXPECT_EQ(next_due_ms(sat), 8'000);
  EXPECT_TRUE(satellite_due(sat, 7'999).empty());
  const std::vector<SimPacket> relays = satellite_due(sat, 8'000);
  ASSERT_EQ(relays.size(), 1u);
  EXPECT_EQ(relays[0].header.destination_port, digipeater_message_port);
  EXPECT_EQ(relays[0].payload,
            text("\0"s + static_cast<char>(digipeater_text_message) + "QQ0ABC>QQ0XYZ: hi there"));
  EXPECT_TRUE(satellite_due(sat, 100'000).empty());  // relayed once only

  // The satellite's own rules on top of the TNC's split of the line.
  for (const char* line : {" >QQ0XYZ, Kestrelis, STORE=1 x", "QQ0ABC> , Kestrelis, STORE=1 x",
                           "QQ0ABC>QQ0XYZ, Kestrelis, KEEP=1 x"})
    EXPECT_FALSE(parse_digipeater_request(line)) << line;
}

// Packets planted at every bit offset, with bit errors and without, are found
// by the TNC's frame detector at that offset and pass its packet check, with
// the bytes planted wrong corrected.
TEST(SimBitStream, PlantedPacketsComeBackAtEveryBitOffset) {
  constexpr uint64_t seed = 20240611;
  const auto header =
      csp_header_bytes({.source = satellite_address, .destination_port = telemetry_port});
  for (double ber : {0.0, 0.002}) {
    for (int offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message()
                   << "seed " << seed << ", BER " << ber << ", offset " << offset);
      DownlinkStream s;
      s.random.state = seed + static_cast<uint64_t>(offset);
      s.bit_offset = offset;
      s.bit_error_rate = ber;
      std::vector<std::pair<int, int>> planted;  // bit phase of the sync word's end, bytes wrong
      for (size_t size : {0u, 1u, 72u, 140u, 215u}) {
        Bytes payload(size);
        for (uint8_t& b : payload) b = static_cast<uint8_t>(next_random(s.random));
        append_idle(s, random_below(s.random, 300));
        const PlantedFrame p = append_frame(s, build_frame(header, payload));
        ASSERT_EQ(p.phase, offset);
        planted.emplace_back((offset + 7) % 8, p.byte_errors);
      }
      append_idle(s, 64);
      std::vector<std::pair<int, int>> found;
      int phase = -1;
      FrameHandler handler;
      handler.sync_found = [&](StreamPoint at) { phase = at.bit; };
      handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint) {
        const DecodedCodeword d = decode_codeword(codeword);
        if (d.corrected >= 0 && check_packet(d.packet()).verdict == PacketVerdict::accepted) {
          found.emplace_back(phase, d.corrected);
        }
      };
      FrameDetector detector;
      detect_frames(detector, take_stream_bytes(s, s.packer.bytes.size()), handler);
      EXPECT_EQ(found, planted);
    }
  }
}

// Each error model flips bits, and the soft channel with or without its wide
// tail gives values of the wrong sign, at the rate asked.
TEST(SimBitStream, ErrorsAtTheRateAsked) {
  const Bytes frame(frame_prefix_size + 255, 0x55);
  SimRandom bits{20240611};
  Bytes sent(1 << 16);
  for (uint8_t& b : sent) b = static_cast<uint8_t>(next_random(bits));
  for (double ber : {0.005, 0.03}) {
    for (const BitErrors errors : {BitErrors::independent, BitErrors::pairs, BitErrors::gmsk}) {
      SCOPED_TRACE(testing::Message() << "model " << static_cast<int>(errors) << " BER " << ber);
      DownlinkStream s;
      s.random.state = 20240611;
      s.bit_error_rate = ber;
      s.errors = errors;
      uint64_t flipped = 0;
      for (int i = 0; i < 400; ++i) {
        flipped += static_cast<uint64_t>(append_frame(s, frame).bit_errors);
        (void)take_stream_bytes(s, s.packer.bytes.size());
      }
      EXPECT_NEAR(static_cast<double>(flipped) / (400 * 8 * 255), ber, 0.06 * ber);
    }
    for (double tail : {0.0, 0.05}) {
      SCOPED_TRACE(testing::Message() << "soft, BER " << ber << ", tail " << tail);
      SimRandom random{7};
      Bytes values;
      append_soft(random, make_soft_channel(ber, tail), sent, values);
      uint64_t wrong = 0;
      for (size_t i = 0; i < values.size(); ++i) {
        wrong += (static_cast<int8_t>(values[i]) >= 0) != bool((sent[i / 8] >> (7 - i % 8)) & 1);
      }
      EXPECT_NEAR(static_cast<double>(wrong) / (8 * (1 << 16)), ber, 0.04 * ber);
    }
  }
}

// Ports not given come from the TNC's configuration, that of --config FILE
// when given; a file that cannot be read is refused rather than guessed round.
TEST(SimOptions, PortsFromTheTncsConfigFile) {
  const TempDir dir;
  const std::string file = dir.path() + "/tnc.ini";
  ASSERT_TRUE(write_text_file(file, "[modem]\nGR_ReceivePort = 51234\n").ok());
  const std::string config_option = "--config=" + file;
  const std::string missing = dir.path() + "/none.ini";
  const std::pair<std::vector<std::string_view>, std::pair<uint16_t, uint16_t>> cases[] = {
      {{"--config", file}, {51234, 53011}},
      {{"--tx-port", "50001", config_option}, {51234, 50001}},
      {{"--config", missing}, {0, 0}},  // refused
  };
  for (const auto& [args, ports] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    std::string error;
    const auto o = parse_sim_options(args, error);
    EXPECT_EQ((o ? std::pair(o->rx_port, o->tx_port) : std::pair<uint16_t, uint16_t>(0, 0)), ports)
        << error;
  }
}

// Each recorded time against the one before: gaps kept up to 10 s, longer
// ones waited as 1 s, backward ones not waited; crafted times at the ends of
// the 64-bit range neither overflow nor wait for ages.
TEST(SimReplay, ReplayTimesKeepShortGapsShortenLongOnesAndNeverOverflow) {
  constexpr int64_t t0 = 1'796'594'241'123'456;
  constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
  constexpr int64_t highest = std::numeric_limits<int64_t>::max();
  const struct {
    const char* name;
    std::vector<int64_t> received_us;
    std::vector<int64_t> due_us;
    std::vector<uint64_t> shortened_us;
  } cases[] = {
      {"as recorded", {t0, t0 + 20'000, t0 + 10'020'000}, {0, 20'000, 10'020'000}, {0, 0, 0}},
      {"a gap of an hour",
       {t0, t0 + 3'600'000'000, t0 + 3'600'500'000},
       {0, 1'000'000, 1'500'000},
       {0, 3'600'000'000, 0}},
      {"clock set back", {t0, t0 - 60'000'000, t0 - 59'000'000}, {0, 0, 1'000'000}, {0, 0, 0}},
      {"lowest to highest",
       {lowest, highest, lowest, 0},
       {0, 1'000'000, 1'000'000, 2'000'000},
       {0, std::numeric_limits<uint64_t>::max(), 0, uint64_t{1} << 63}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplayClock clock;
    for (size_t i = 0; i < c.received_us.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "datagram " << i);
      const ReplayStep step = next_replay_step(clock, c.received_us[i]);
      EXPECT_EQ(std::pair(step.due_us, step.shortened_gap_us),
                std::pair(c.due_us[i], c.shortened_us[i]));
      clock = step.clock;
    }
  }
}

#ifdef KESTRELIS_SIM_PATH
// kestrelis-sim --replay of a recording with a gap of a day, since cut short
// by a power cut: the gap is waited as 1 s and every whole datagram is sent.
// How huge, sparse and headerless files are read is the recording's own test.
TEST(SimReplay, ARecordingWithADaysGapAndADamagedEndIsReplayedWithinSeconds) {
  constexpr int64_t t0 = 1'796'594'241'123'456;
  constexpr int64_t day_us = 86'400'000'000;
  const TempDir dir;
  const std::string path = dir.path() + "/replay.rec";
  std::string file(recording_header.begin(), recording_header.end());
  for (const int64_t t : {t0, t0 + day_us, t0 + day_us + 500'000}) {
    const std::vector<uint8_t> record = pack_recorded_datagram(t, std::vector<uint8_t>(64, 0x55));
    file.append(record.begin(), record.end());
  }
  ASSERT_TRUE(write_text_file(path, file + std::string(5, '\0')).ok());
  ModemListener tnc;
  ASSERT_NE(tnc.port(), 0);
  const std::string port = std::to_string(tnc.port());
  const int64_t start_ms = monotonic_ms();
  ChildProcess sim({KESTRELIS_SIM_PATH, "--replay", path, "--rx-port", port}, {});
  EXPECT_EQ(sim.wait_exit(10'000), 0) << sim.output();
  const int64_t took_ms = monotonic_ms() - start_ms;
  EXPECT_GE(took_ms, 1400);
  EXPECT_LE(took_ms, 4000);
  size_t received = 0;
  while (const std::optional<Datagram> d = tnc.receive(100))
    received += d->bytes.size() == 64 ? 1 : 0;
  EXPECT_EQ(received, 3u);
}
#endif

#ifdef KESTRELIS_LOAD_PATH
TEST(LoadToolLoopback, ShortNoiseRunAccountsForEveryPlantedFrame) {
  ChildProcess load({KESTRELIS_LOAD_PATH, "--tnc", KESTRELIS_TNC_PATH, "--quick", "--sections", "b",
                     "--bits", "2e6"},
                    {});
  EXPECT_EQ(load.wait_exit(120'000), 0) << load.output();
  for (const char* said : {"(b) planted frames received exactly once: 19 of 19",
                           "TNC ended on SIGTERM: ended by SIGTERM"})
    EXPECT_NE(load.output().find(said), std::string::npos) << load.output();
}
#endif

TEST(SimUplink, DecodesTheTncsDatagrams) {
  constexpr std::string_view request = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\0";
  const Bytes payload(request.begin(), request.end());
  constexpr std::array<uint8_t, 4> header = csp_header_bytes({.destination = satellite_address,
                                                              .destination_port = digipeater_port,
                                                              .source_port = message_source_port});
  const Bytes built = build_frame(header, payload);
  const auto damaged = [&built](size_t bytes) {
    Bytes frame = built;
    for (size_t i = 0; i < bytes; ++i) frame[frame_prefix_size + 3 * i] ^= 0x5A;
    return frame;
  };
  Bytes body(header.begin(), header.end());
  body.insert(body.end(), payload.begin(), payload.end());
  // A frame like build_frame's, with `crc` in place of the CRC over header and payload.
  const auto frame_with_crc = [&body](uint32_t crc) {
    Bytes packet = body;
    packet.resize(body.size() + crc_size);
    store_be32(std::span(packet).last<crc_size>(), crc);
    return frame_of_packet(packet);
  };
  const struct {
    const char* name;
    Bytes frame;
    size_t preamble, postamble;
    UplinkCheck check;
    int corrected;
  } cases[] = {
      {"clean, preamble 50, postamble 20", built, 50, 20, UplinkCheck::good, 0},
      {"16 damaged bytes, no postamble", damaged(16), 50, 0, UplinkCheck::good, 16},
      {"17 damaged bytes", damaged(17), 50, 0, UplinkCheck::uncorrectable, -1},
      {"CRC over the payload alone", frame_with_crc(crc32c(payload)), 8, 8,
       UplinkCheck::crc_payload, 0},
      {"CRC wrong", frame_with_crc(crc32c(body) ^ 1), 0, 8, UplinkCheck::crc_error, 0},
      {"cut short", Bytes(built.begin(), built.begin() + 60), 50, 0, UplinkCheck::incomplete, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes datagram(c.preamble, idle_byte);
    datagram.insert(datagram.end(), c.frame.begin(), c.frame.end());
    datagram.insert(datagram.end(), c.postamble, idle_byte);
    const auto frames = decode_uplink_datagram(datagram);
    ASSERT_EQ(frames.size(), 1u);
    const UplinkFrame& f = frames[0];
    EXPECT_EQ(std::tuple(f.preamble, f.postamble, f.idle_bytes_ok, f.codeword_length, f.check,
                         f.corrected),
              std::tuple(c.preamble, c.postamble, true, payload.size() + 40, c.check, c.corrected));
    if (c.corrected < 0) continue;
    EXPECT_EQ(std::pair(csp_header_bytes(f.header), f.payload), std::pair(header, payload));
  }
}

}  // namespace

}  // namespace kestrelis
