// The real kestrelis-tnc driven through a fixed session - start-up, downlink
// without and with a GUI, a list of GUI requests, SIGTERM - with everything it
// prints, sends to the GUI, hands to the modem and asks of rigctld recorded as
// one text and compared byte for byte with tests/golden/transcript.txt.
// KESTRELIS_UPDATE_GOLDEN=1 writes the file instead.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "radio/test_bit_stream.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"
#include "text/format.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string golden_path = KESTRELIS_SOURCE_DIR "/tests/golden/transcript.txt";
const std::string actual_path = KESTRELIS_BINARY_DIR "/golden_transcript.actual.txt";

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// `parts` one behind the other; a braced list is evaluated in order, so noise stays in sequence.
Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Printable ASCII as it is, a backslash doubled, everything else \r, \n or \xHH.
std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    out += c == '\\'               ? "\\\\"
           : c == '\r'             ? "\\r"
           : c == '\n'             ? "\\n"
           : c >= 0x20 && c < 0x7F ? std::string(1, c)
                                   : format_text("\\x%02X", static_cast<uint8_t>(c));
  }
  return out;
}

// Deterministic bytes: std::mt19937 is fully specified, so a seed gives the same bytes anywhere.
struct Noise {
  std::mt19937 gen{20240611};
  uint8_t byte() { return static_cast<uint8_t>(gen() >> 24); }
  Bytes bytes(size_t n) {
    Bytes b(n);
    for (auto& x : b) x = byte();
    return b;
  }
};

// Priority 2, to the station, from port 3.
CspHeader header(uint8_t source, uint8_t port) { return {2, source, 25, port, 3, 0}; }

Bytes frame(uint8_t source, uint8_t port, const Bytes& payload) {
  return build_frame(csp_header_bytes(header(source, port)), payload);
}

// A sync word and the length field of `length`, nothing behind.
Bytes prefix(unsigned length) {
  Bytes p(frame_prefix_size);
  make_frame_prefix(std::span(p).first<frame_prefix_size>(), length);
  return p;
}

// A port-29 frame from the satellite whose CRC field holds `crc`.
Bytes frame_with_crc(const Bytes& payload, uint32_t crc) {
  const auto h = csp_header_bytes(header(1, 29));
  Bytes packet = joined({Bytes(h.begin(), h.end()), payload, Bytes(4)});
  store_be32(std::span(packet).last<4>(), crc);
  return frame_of_packet(packet);
}

Bytes text_message(std::string_view text, uint8_t kind = 3) {
  return joined({{0x11, kind}, bytes_of(text)});
}

// A record of `size` noisy bytes behind its telemetry word and record time.
Bytes record(Noise& noise, unsigned sat, unsigned version, unsigned type, size_t size,
             uint32_t seconds) {
  Bytes r = noise.bytes(size);
  store_be16(std::span(r).first<2>(),
             static_cast<uint16_t>((sat << 12) | (1u << 8) | (version << 3) | type));
  store_be16(std::span(r).subspan<2, 2>(), static_cast<uint16_t>(seconds % 1000));
  store_be32(std::span(r).subspan<4, 4>(), seconds);
  return r;
}

Bytes corrupted(Bytes f, Noise& noise, size_t count) {
  for (size_t i = 0; i < count; ++i)
    f[frame_prefix_size + 3 + 3 * i] ^= static_cast<uint8_t>(noise.byte() | 1);
  return f;
}

// The frames, false syncs and noise of the downlink, each behind a few noise bits.
Bytes bit_stream(const std::vector<Bytes>& items, Noise& noise) {
  std::vector<uint8_t> bits;
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < 3 + i % 6; ++k) bits.push_back(noise.byte() & 1);
    put_bytes(bits, bits.size(), items[i]);
  }
  bits.resize(bits.size() + 64);
  return pack_bits(bits);
}

std::vector<Bytes> phase_a_items(Noise& noise) {
  return {frame(1, 8, record(noise, 1, 5, 1, 140, 1700000000)),
          frame(1, 14, bytes_of("QQ0ABC>QQ0XYZ packet")),
          frame(1, 29, text_message("nobody listens")), frame(1, 41, {0x01, 0x02})};
}

std::vector<Bytes> phase_b_items(Noise& noise) {
  std::vector<Bytes> items;
  struct Layout {
    unsigned sat, version, type;  // type 0: a telemetry and a beacon record
    size_t size;
  };
  const Layout layouts[] = {{1, 5, 0, 140}, {1, 6, 0, 135}, {1, 7, 0, 140},
                            {1, 8, 0, 140}, {1, 9, 0, 140}, {3, 1, 0, 95},
                            {3, 2, 0, 97},  {3, 3, 0, 97},  {3, 11, 0, 72}};
  uint32_t seconds = 1717000000;
  for (const Layout& l : layouts) {
    for (unsigned type : {1u, 2u}) {
      items.push_back(frame(1, 8, record(noise, l.sat, l.version, type, l.size, seconds)));
      seconds += 3601;
    }
  }
  // An unknown satellite, unknown versions of satellites 3 and 1, a short record.
  for (const Layout& l : {Layout{2, 5, 1, 140}, {3, 4, 2, 97}, {1, 12, 1, 140}, {1, 9, 2, 40}}) {
    items.push_back(frame(1, 8, record(noise, l.sat, l.version, l.type, l.size, seconds)));
  }
  items.push_back(frame(1, 8, {0x19}));
  Bytes packet = noise.bytes(24);
  packet[3] = 0xC0;  // bytes the KISS link must escape
  packet[9] = 0xDB;
  items.push_back(frame(1, 14, packet));
  items.push_back(
      frame(1, 29, joined({text_message("73 from orbit, 100% fine"), {0x00, 'x', 'y'}})));
  items.push_back(frame(1, 29, text_message("kind one", 1)));
  items.push_back(frame(1, 29, {0x11}));
  items.push_back(frame(1, 10, bytes_of("quiet port")));
  items.push_back(frame(25, 29, text_message("our own uplink")));
  items.push_back(frame(7, 29, text_message("another source")));
  items.push_back(corrupted(frame(1, 29, text_message("five bytes corrected")), noise, 5));
  items.push_back(corrupted(frame(1, 29, text_message("twenty bytes damaged")), noise, 20));
  // CRC over the payload only; three and five bits off.
  const std::pair<const char*, uint32_t> crcs[] = {{"payload-only CRC", 0},
                                                   {"CRC three bits off", 0x00010005u},
                                                   {"CRC five bits off", 0x0001001Du}};
  for (const auto& [text, flip] : crcs) {
    const Bytes payload = text_message(text);
    items.push_back(frame_with_crc(payload, crc32c(payload) ^ flip));
  }
  items.push_back(frame_of_packet(noise.bytes(1)));  // N = 33
  items.push_back(frame_of_packet(noise.bytes(7)));  // N = 39
  items.push_back(joined({prefix(32), noise.bytes(33)}));
  items.push_back(joined({prefix(0), noise.bytes(1)}));
  // A sync word and a length field with noise where the codeword should be.
  items.push_back(
      joined({noise.bytes(40), {0x93, 0x0B, 0x51, 0xDE, 0x35, 0x27, 100}, noise.bytes(140)}));
  // Sync words with bits flipped (byte, mask): byte 0; bytes 0 and 1; byte 2, which is refused.
  const std::pair<size_t, uint8_t> flips[][2] = {
      {{0, 0x04}, {0, 0x00}}, {{0, 0x80}, {1, 0x01}}, {{2, 0x10}, {0, 0x00}}};
  for (const auto& flip : flips) {
    Bytes f = frame(1, 29, text_message("sync with a wrong bit"));
    for (const auto& [at, mask] : flip) f[at] ^= mask;
    items.push_back(f);
  }
  items.push_back(frame(1, 40, bytes_of("unknown port")));  // also the end marker
  return items;
}

// Everything the TNC's peers see, collected section by section.
struct Recorder {
  ChildProcess& tnc;
  ModemListener& modem;
  FakeRigctld& rig;
  std::vector<std::pair<std::string, std::string>> masks{};  // regular expression, replacement
  int gui_fd = -1;
  size_t console_mark = 0;
  size_t rig_mark = 0;
  KissDeframer deframer{1 << 16};
  size_t gui_bytes = 0;
  std::vector<std::string> gui_frames{};  // command byte, then the data
  std::vector<Bytes> datagrams{};
  size_t seen = 0;  // bytes and items taken in so far, to notice arrivals
  Clock::time_point last_change = Clock::now();
  std::ostringstream out{};

  // Takes in whatever arrived; notes the time of the last arrival.
  void poll() {
    uint8_t buffer[8192];
    for (ssize_t n; gui_fd >= 0 && (n = ::recv(gui_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
      gui_bytes += static_cast<size_t>(n);
      for (const uint8_t b : std::span(buffer).first(static_cast<size_t>(n))) {
        if (const KissStep step = kiss_receive_byte(deframer, b); step.frame)
          gui_frames.push_back(char(deframer.buffer[0]) +
                               std::string(step.frame->begin(), step.frame->end()));
      }
    }
    while (auto d = modem.receive(0)) datagrams.push_back(d->bytes);
    const size_t now = tnc.output().size() + gui_bytes + datagrams.size() + rig.commands().size();
    if (now != seen) last_change = Clock::now();
    seen = now;
  }

  // Waits until the console shows `marker` `count` times since the last
  // section, no transmission is under way, and nothing arrived for 300 ms.
  bool settle(std::string_view marker, size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    last_change = Clock::now();
    while (Clock::now() < deadline) {
      poll();
      const std::string_view console = std::string_view(tnc.output()).substr(console_mark);
      const auto commands = rig.commands();
      const auto since = std::span(commands).subspan(rig_mark);
      const auto unkeyed = std::ranges::count(since, "T 0", &RigCommand::bytes);
      const bool sending = std::ranges::count(since, "T 1", &RigCommand::bytes) > unkeyed ||
                           static_cast<ptrdiff_t>(occurrences(console, "to GNURadio")) > unkeyed;
      if ((count == 0 || occurrences(console, marker) >= count) && !sending &&
          Clock::now() - last_change >= std::chrono::milliseconds(300)) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Appends a section of all that arrived since the last one. `sort_after`:
  // console lines behind the line holding it are sorted (threads starting together).
  void section(const std::string& title, bool settled, const std::string& detail = {},
               std::string_view sort_after = {}) {
    poll();
    out << "== " << title << " ==\n";
    if (!detail.empty()) out << detail << "\n";
    if (!settled) out << "(did not settle within 5 s)\n";
    out << "-- console --\n";
    // The console text since the last section, split behind each "\n", stamps
    // and ports masked, the machine-dependent receive-buffer line left out.
    static const std::regex stamp(R"(\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::string text = std::regex_replace(tnc.output().substr(console_mark), stamp, "[TS] ");
    console_mark = tnc.output().size();
    for (const auto& [from, to] : masks) text = std::regex_replace(text, std::regex(from), to);
    std::vector<std::string> lines;
    for (size_t begin = 0, end; begin < text.size(); begin = end) {
      end = std::min(text.find('\n', begin), text.size() - 1) + 1;
      const std::string line = text.substr(begin, end - begin);
      if (line.find("UDP receive buffer is ") == line.npos) lines.push_back(escaped(line));
    }
    if (!sort_after.empty()) {
      auto it =
          std::ranges::find_if(lines, [&](const auto& l) { return l.find(sort_after) != l.npos; });
      std::sort(it == lines.end() ? lines.begin() : it + 1, lines.end());
    }
    for (const auto& l : lines) out << l << "\n";
    // Each GUI frame: command byte, then the data; JSON members one per line.
    static const std::regex gui_stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    if (!gui_frames.empty()) out << "-- gui --\n";
    for (const std::string& f : gui_frames) {
      const std::string data = escaped(std::regex_replace(f.substr(1), gui_stamp, "P[TS] "));
      out << format_text("frame %02X: ", static_cast<uint8_t>(f[0]))
          << std::regex_replace(data, std::regex("\",\""), "\",\n    \"") << "\n";
    }
    gui_frames.clear();
    if (!datagrams.empty()) out << "-- modem --\n";
    for (const Bytes& d : datagrams) {
      out << "datagram of " << d.size() << " bytes:\n";
      for (size_t i = 0; i < d.size(); ++i) {
        out << (i % 32 == 0 ? "  " : " ") << format_text("%02X", d[i])
            << (i % 32 == 31 || i + 1 == d.size() ? "\n" : "");
      }
    }
    datagrams.clear();
    const auto commands = rig.commands();
    if (commands.size() > rig_mark) out << "-- rig --\n";
    for (; rig_mark < commands.size(); ++rig_mark)
      out << "\"" << escaped(commands[rig_mark].bytes) << "\"\n";
  }
};

// Sends the stream to 127.0.0.1:`port` in datagrams of odd sizes, paced so
// that the receive buffer never overflows.
void send_stream(const Bytes& stream, uint16_t port, Recorder& recorder) {
  const Socket socket = udp_open();
  constexpr size_t sizes[] = {1, 7, 64, 333, 2, 129, 31, 500};
  for (size_t at = 0, i = 0, n; at < stream.size(); at += n, ++i) {
    n = std::min(sizes[i % std::size(sizes)], stream.size() - at);
    (void)datagram_send(socket.fd(), {0x7F000001, port}, std::span(stream).subspan(at, n));
    recorder.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// GUI requests: label, then the bytes sent on the socket.
std::vector<std::pair<std::string, Bytes>> requests() {
  const auto kiss = [](std::string_view data) { return kiss_encode(bytes_of(data)); };
  const std::string head = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=";
  std::string percent_message;
  for (int i = 0; i < 31; ++i) percent_message += "100% ";
  std::string long_message;
  for (int i = 0; i < 17; ++i) long_message += "abcdefghij";
  return {
      {"cmd:list", kiss("cmd:list")},
      {"cmd:count", kiss("cmd:count")},
      {"cmd:ping", kiss("cmd:ping")},
      {"cmd: list (leading space)", kiss("cmd: list")},
      {"cmd:bogus", kiss("cmd:bogus")},
      {"command word of 20 characters", kiss("cmd:abcdefghijklmnopqrst")},
      {"valid request", kiss(head + "10 hello 100% \\ sure")},
      {"NOCALL source", kiss("NOCALL>QQ0XYZ, Kestrelis, STORE=0 hi")},
      {"NOCALL destination", kiss("QQ0ABC>NOCALL, Kestrelis, STORE=0 hi")},
      {"unknown satellite name", kiss("QQ0ABC>QQ0XYZ, Falcon, STORE=0 hi")},
      {"satellite name over 10 characters", kiss("QQ0ABC>QQ0XYZ, Kestrelis12, STORE=0 hi")},
      {"missing >", kiss("QQ0ABC QQ0XYZ, Kestrelis, STORE=0 hi")},
      {"missing commas", kiss("QQ0ABC>QQ0XYZ Kestrelis STORE=0 hi")},
      {"STORE=86400", kiss(head + "86400 hi")},
      {"message over 180 characters once % is doubled", kiss(head + "0 " + percent_message)},
      {"non-ASCII byte", kiss(head + "0 caf\xC3\xA9")},
      {"packet too big (199 data bytes)", kiss(head + "0 " + long_message.substr(0, 165))},
      {"KISS frame of 201 bytes", kiss(std::string(200, 'x'))},
      {"KISS escapes, and an unknown code after FESC",
       {0xC0, 0x00, 'c', 'm', 'd', ':', 'x', 0xDB, 0xDC, 'y', 0xDB, 0xDD, 'z', 0xDB, 'A', 0xC0}},
      {"empty frame (FEND FEND)", {0xC0, 0xC0}},
      {"command byte only", kiss("")},
      {"zero byte in the middle", kiss(head + "5 before" + std::string(1, '\0') + "after")},
  };
}

// The session, as text.
std::string run_session() {
  FakeRigctld rig("RPRT 0\n");
  ModemListener modem;
  const uint16_t receive_port = free_udp_port();
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(
      "[modem]\nGR_ReceivePort = " + std::to_string(receive_port) +
      "\nGR_ReceiveAddress = 127.0.0.1\nGR_TransmitPort = " + std::to_string(modem.port()) +
      // The silence warning would fall wherever the run is slow; it is tested on its own.
      "\nVerboseLevel = 5\nModemSilence = 0\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) +
      "\nKISS_Address = 127.0.0.1\n[radio]\nCallFrom = QQ9TST\nPreambleLength = 4\n"
      "PostambleLength = 2\n[rigctld]\nAddress = 127.0.0.1\nPort = " +
      std::to_string(rig.port()) + "\nKeyUpDelay = 0\nKeyDownDelay = 0\n");
  ChildProcess tnc = start_tnc(profile.home());
  Recorder r{tnc, modem, rig};
  r.masks = {{R"(127\.0\.0\.1:)" + std::to_string(receive_port), "127.0.0.1:<GR_ReceivePort>"},
             {R"(127\.0\.0\.1:)" + std::to_string(kiss_port), "127.0.0.1:<KISS_Port>"},
             // The profile is a fresh temporary folder each run.
             {R"(/\S*/Kestrelis/)", "<HOME>/Kestrelis/"}};
  r.out << "# kestrelis-tnc golden transcript; KESTRELIS_UPDATE_GOLDEN=1 rewrites it\n";

  const bool started = tnc.wait_for_output("Listening for GNURadio", 5000) &&
                       tnc.wait_for_output("Waiting for GUI client", 5000);
  r.section("start-up", started && r.settle("", 0), {}, "Rigctld OK!");

  Noise noise;
  send_stream(bit_stream(phase_a_items(noise), noise), receive_port, r);
  r.section("downlink A: no GUI connected", r.settle("Unknown CSP Port", 1));

  KissClient gui(kiss_port, 5000);
  r.gui_fd = gui.fd();
  r.section("GUI connects", r.settle("GUI connected.", 1));

  send_stream(bit_stream(phase_b_items(noise), noise), receive_port, r);
  r.section("downlink B: every kind of frame", r.settle("Unknown CSP Port", 1));

  const auto list = requests();
  for (size_t i = 0; i < list.size(); ++i) {
    const auto& [label, raw] = list[i];
    gui.send_raw(raw);
    const bool settled = r.settle("Finished reading KISS packet", 1);
    r.section("request " + std::to_string(i + 1) + ": " + label, settled,
              "sent: " + escaped(std::string(raw.begin(), raw.end())));
  }

  gui.close();
  r.section("GUI disconnects", r.settle("GUI disconnected", 1));

  const int status = tnc.stop(SIGTERM, 5000);
  r.section("SIGTERM", true,
            status >= 0 && WIFSIGNALED(status)
                ? "ended by signal " + std::to_string(WTERMSIG(status))
                : "ended with status " + std::to_string(status));
  return r.out.str();
}

TEST(GoldenTranscript, RealBinaryMatchesTheGoldenFile) {
  const std::string actual = run_session();
  if (const char* update = std::getenv("KESTRELIS_UPDATE_GOLDEN");
      update && std::string(update) == "1") {
    std::ofstream(golden_path, std::ios::binary) << actual;
    GTEST_SKIP() << "wrote " << golden_path;
  }
  const std::string expected = read_file(golden_path);
  ASSERT_FALSE(expected.empty()) << "no " << golden_path << "; run with KESTRELIS_UPDATE_GOLDEN=1";
  if (expected == actual) return;
  // The whole transcript kept to compare; the test's failure shows the lines that differ.
  std::ofstream(actual_path, std::ios::binary) << actual;
  EXPECT_EQ(actual, expected) << "the transcript (" << actual_path << ") differs";
}

}  // namespace

}  // namespace kestrelis
