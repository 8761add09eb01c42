// The simulator's downlink stream read back with the TNC's own receive
// pieces, from the stream functions and from the real program on loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "packet/csp.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "radio/bytes.hpp"
#include "radio/frame.hpp"
#include "radio/frame_detector.hpp"
#include "radio/reed_solomon.hpp"
#include "sim/bit_stream.hpp"
#include "support/process.hpp"
#include "telemetry/telemetry.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
  Bytes packet;  // header and payload
  int corrected = 0;
  int sync_end_phase = 0;
};

// The receive side: every good packet in the stream fed to it so far.
struct StreamReceiver {
  FrameDetector detector;
  int sync_phase = -1;
  std::vector<Received> got;
};

void feed(StreamReceiver& r, std::span<const uint8_t> bytes) {
  FrameHandler handler;
  handler.sync_found = [&](StreamPoint at) { r.sync_phase = at.bit; };
  handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint) {
    Bytes word(codeword.begin(), codeword.end());
    const int pad = 255 - static_cast<int>(word.size());
    std::optional<RsCodec> rs = rs_init(pad);
    if (!rs) return;
    apply_randomizer(word);
    const int corrected = rs_decode(*rs, word, pad);
    if (corrected < 0) return;
    const auto packet = std::span<const uint8_t>(word).first(word.size() - 32);
    const auto body = packet.first(packet.size() - 4);
    if (load_be32(packet.last<4>()) != crc32c(body)) return;
    r.got.push_back({Bytes(body.begin(), body.end()), corrected, r.sync_phase});
  };
  detect_frames(r.detector, bytes, handler);
}

TEST(SimBitStream, PlantedPacketsComeBackAtEveryBitOffset) {
  constexpr uint64_t seed = 20240611;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  int errors_planted = 0;
  for (double ber : {0.0, 0.002}) {
    for (int offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message() << "BER " << ber << ", bit offset " << offset);
      DownlinkStream s;
      s.random.state = seed + static_cast<uint64_t>(offset);
      s.bit_offset = offset;
      s.bit_error_rate = ber;
      std::vector<Received> planted;
      for (size_t size : {size_t{0}, size_t{1}, size_t{72}, size_t{140}, size_t{215}}) {
        Bytes packet(csp_header_size + size);
        const auto header =
            csp_header_bytes({.source = satellite_address, .destination_port = telemetry_port});
        std::copy(header.begin(), header.end(), packet.begin());
        for (size_t i = csp_header_size; i < packet.size(); ++i) {
          packet[i] = static_cast<uint8_t>(next_random(s.random));
        }
        append_idle(s, random_below(s.random, 300));
        const PlantedFrame p =
            append_frame(s, build_frame(header, std::span(packet).subspan(csp_header_size)));
        ASSERT_EQ(p.phase, offset);
        ASSERT_LE(p.byte_errors, 16);
        errors_planted += p.byte_errors;
        planted.push_back({packet, p.byte_errors, (offset + 7) % 8});
      }
      append_idle(s, 64);
      const Bytes stream = take_stream_bytes(s, s.pending.size());
      StreamReceiver receiver;
      for (size_t i = 0; i < stream.size(); i += 37) {
        feed(receiver, std::span(stream).subspan(i, std::min<size_t>(37, stream.size() - i)));
      }
      const std::vector<Received>& got = receiver.got;
      ASSERT_EQ(got.size(), planted.size());
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].packet, planted[i].packet) << "packet " << i;
        EXPECT_EQ(got[i].corrected, planted[i].corrected) << "packet " << i;
        EXPECT_EQ(got[i].sync_end_phase, planted[i].sync_end_phase) << "packet " << i;
      }
    }
  }
  EXPECT_GT(errors_planted, 0);
}

#ifdef KESTRELIS_SIM_PATH
TEST(SimLoopback, StreamsEveryLayoutAndRelaysARequest) {
  NetResult modem = udp_bind("127.0.0.1", 0, 4 << 20);
  ASSERT_EQ(modem.failed_at, NetStep::none);
  const uint16_t uplink_port = free_udp_port();
  ChildProcess sim({KESTRELIS_SIM_PATH, "--rx-port", std::to_string(local_port(modem.socket.fd())),
                    "--tx-port", std::to_string(uplink_port), "--bitrate", "400000", "--datagram",
                    "512", "--interval", "0.02", "--time-scale", "100", "--seed", "3", "--quiet"},
                   {});
  ASSERT_TRUE(sim.wait_for_output("sim: uplink on UDP", 5000)) << sim.output();

  // A digipeater request as the TNC sends it, due after 100 satellite seconds: 1 s here.
  const std::string line = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=100 hi";
  Bytes request(50, 0xAA);
  const Bytes payload = [&] {
    Bytes p(line.begin(), line.end());
    p.push_back(0);
    return p;
  }();
  const Bytes frame = build_frame(std::array<uint8_t, 4>{0xB2, 0x13, 0x9E, 0x00}, payload);
  request.insert(request.end(), frame.begin(), frame.end());
  request.insert(request.end(), 20, 0xAA);
  ASSERT_EQ(datagram_send(udp_open().fd(), {*parse_ipv4("127.0.0.1"), uplink_port}, request), 0);

  std::set<std::pair<unsigned, unsigned>> layouts;
  std::string relay;
  StreamReceiver receiver;
  Bytes buffer(4096);
  const int64_t give_up = monotonic_ms() + 10'000;
  while ((layouts.size() < 9 || relay.empty()) && monotonic_ms() < give_up) {
    if (!wait_readable(modem.socket.fd(), 100)) continue;
    const long n = datagram_receive(modem.socket.fd(), buffer);
    ASSERT_GT(n, 0);
    feed(receiver, std::span(buffer).first(static_cast<size_t>(n)));
    for (const Received& r : receiver.got) {
      const auto header = std::span(r.packet).first<4>();
      EXPECT_EQ(csp_source(header), satellite_address);
      if (csp_destination_port(header) == telemetry_port) {
        const TelemetryWord w =
            split_telemetry_word(load_be16(std::span(r.packet).subspan<4, 2>()));
        layouts.insert({w.tlm_sat, w.tlm_version});
      } else if (csp_destination_port(header) == digipeater_message_port) {
        relay.assign(r.packet.begin() + 6, r.packet.end());
      }
    }
    receiver.got.clear();
  }
  EXPECT_EQ(layouts.size(), 9u);
  EXPECT_EQ(relay, "QQ0ABC>QQ0XYZ: hi");
  EXPECT_EQ(sim.stop(SIGTERM, 5000), 0) << sim.output();
  for (const char* expected :
       {"uplink: 156 bytes: preamble 50, postamble 20, N 79, RS corrected 0, CRC ok",
        "satellite: stored message from QQ0ABC to QQ0XYZ, relay in 100 s",
        "downlink: relay port 29 \"QQ0ABC>QQ0XYZ: hi\"", "sim: stopped (signal 15)"}) {
    EXPECT_NE(sim.output().find(expected), std::string::npos) << expected << "\n" << sim.output();
  }
}
#endif

}  // namespace
