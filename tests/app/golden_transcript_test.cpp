// The real kestrelis-tnc driven through a fixed session - start-up, downlink
// without and with a GUI, a list of GUI requests, SIGTERM - with everything it
// prints, sends to the GUI, hands to the modem and asks of rigctld recorded as
// one text and compared byte for byte with tests/golden/transcript.txt.
// KESTRELIS_UPDATE_GOLDEN=1 writes the file instead.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/reed_solomon.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string golden_path = KESTRELIS_SOURCE_DIR "/tests/golden/transcript.txt";
const std::string actual_path = KESTRELIS_BINARY_DIR "/golden_transcript.actual.txt";

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Printable ASCII as it is, a backslash doubled, everything else \r, \n or \xHH.
std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

size_t count_of(std::string_view text, std::string_view word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    ++n;
  }
  return n;
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

Bytes header(uint8_t source, uint8_t port) {
  const auto h = csp_header_bytes({.priority = 2,
                                   .source = source,
                                   .destination = 25,
                                   .destination_port = port,
                                   .source_port = 3,
                                   .flags = 0});
  return Bytes(h.begin(), h.end());
}

Bytes frame(uint8_t source, uint8_t port, const Bytes& payload) {
  const Bytes h = header(source, port);
  return build_frame(std::span<const uint8_t, csp_header_size>(h.data(), csp_header_size), payload);
}

Bytes prefix(size_t length) {
  Bytes p(frame_prefix_size);
  make_frame_prefix(std::span(p).first<frame_prefix_size>(), static_cast<unsigned>(length));
  return p;
}

// As build_frame, for any packet: RS parity behind it, randomised, prefixed.
Bytes frame_of_packet(const Bytes& packet) {
  const int pad = 223 - static_cast<int>(packet.size());
  Bytes codeword = packet;
  codeword.resize(packet.size() + rs_parity_size);
  const auto codec = rs_init(pad);
  if (!codec ||
      !rs_encode(*codec, packet, std::span(codeword).subspan(packet.size()).first<rs_parity_size>(),
                 pad)) {
    ADD_FAILURE() << "cannot encode a packet of " << packet.size() << " bytes";
  }
  apply_randomizer(codeword);
  Bytes f = prefix(codeword.size());
  f.insert(f.end(), codeword.begin(), codeword.end());
  return f;
}

// A port-29 frame from the satellite whose CRC field holds `crc`.
Bytes frame_with_crc(const Bytes& payload, uint32_t crc) {
  Bytes packet = header(1, 29);
  packet.insert(packet.end(), payload.begin(), payload.end());
  for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(static_cast<uint8_t>(crc >> shift));
  return frame_of_packet(packet);
}

Bytes text_message(std::string_view text, uint8_t kind = 3) {
  Bytes p(2 + text.size());
  p[0] = 0x11;
  p[1] = kind;
  std::copy(text.begin(), text.end(), p.begin() + 2);
  return p;
}

// A record of `size` noisy bytes behind its telemetry word and record time.
Bytes record(Noise& noise, unsigned sat, unsigned version, unsigned type, size_t size,
             uint32_t seconds) {
  Bytes r = noise.bytes(size);
  const unsigned word = (sat << 12) | (1u << 8) | (version << 3) | type;
  const unsigned millis = seconds % 1000;
  const Bytes head = {static_cast<uint8_t>(word >> 8),     static_cast<uint8_t>(word),
                      static_cast<uint8_t>(millis >> 8),   static_cast<uint8_t>(millis),
                      static_cast<uint8_t>(seconds >> 24), static_cast<uint8_t>(seconds >> 16),
                      static_cast<uint8_t>(seconds >> 8),  static_cast<uint8_t>(seconds)};
  std::copy(head.begin(), head.end(), r.begin());
  return r;
}

Bytes corrupted(Bytes f, Noise& noise, size_t count) {
  for (size_t i = 0; i < count; ++i)
    f[frame_prefix_size + 3 + 3 * i] ^= static_cast<uint8_t>(noise.byte() | 1);
  return f;
}

// The frames, false syncs and noise of the downlink, each behind a few noise bits.
std::vector<uint8_t> bit_stream(const std::vector<Bytes>& items, Noise& noise) {
  std::vector<uint8_t> bits;
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < 3 + i % 6; ++k) bits.push_back(noise.byte() & 1);
    append_bits(bits, items[i]);
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
    unsigned sat, version;
    size_t size;
  };
  const Layout layouts[] = {{1, 5, 140}, {1, 6, 135}, {1, 7, 140}, {1, 8, 140}, {1, 9, 140},
                            {3, 1, 95},  {3, 2, 97},  {3, 3, 97},  {3, 11, 72}};
  uint32_t seconds = 1717000000;
  for (const Layout& l : layouts) {
    for (unsigned type : {1u, 2u}) {
      items.push_back(frame(1, 8, record(noise, l.sat, l.version, type, l.size, seconds)));
      seconds += 3601;
    }
  }
  items.push_back(frame(1, 8, record(noise, 2, 5, 1, 140, seconds)));   // unknown satellite
  items.push_back(frame(1, 8, record(noise, 3, 4, 2, 97, seconds)));    // unknown sat-3 version
  items.push_back(frame(1, 8, record(noise, 1, 12, 1, 140, seconds)));  // unknown sat-1 version
  items.push_back(frame(1, 8, record(noise, 1, 9, 2, 40, seconds)));    // short record
  items.push_back(frame(1, 8, {0x19}));
  Bytes packet = noise.bytes(24);
  packet[3] = 0xC0;  // bytes the KISS link must escape
  packet[9] = 0xDB;
  items.push_back(frame(1, 14, packet));
  Bytes with_zero = text_message("73 from orbit, 100% fine");
  with_zero.insert(with_zero.end(), {0x00, 'x', 'y'});
  items.push_back(frame(1, 29, with_zero));
  items.push_back(frame(1, 29, text_message("kind one", 1)));
  items.push_back(frame(1, 29, {0x11}));
  items.push_back(frame(1, 10, bytes_of("quiet port")));
  items.push_back(frame(25, 29, text_message("our own uplink")));
  items.push_back(frame(7, 29, text_message("another source")));
  items.push_back(corrupted(frame(1, 29, text_message("five bytes corrected")), noise, 5));
  items.push_back(corrupted(frame(1, 29, text_message("twenty bytes damaged")), noise, 20));
  const Bytes only = text_message("payload-only CRC");
  items.push_back(frame_with_crc(only, crc32c(only)));
  const Bytes near = text_message("CRC three bits off");
  items.push_back(frame_with_crc(near, crc32c(near) ^ 0x00010005u));
  const Bytes far = text_message("CRC five bits off");
  items.push_back(frame_with_crc(far, crc32c(far) ^ 0x0001001Du));
  items.push_back(frame_of_packet(noise.bytes(1)));  // N = 33
  items.push_back(frame_of_packet(noise.bytes(7)));  // N = 39
  Bytes n32 = prefix(32);
  Bytes rest = noise.bytes(33);
  n32.insert(n32.end(), rest.begin(), rest.end());
  items.push_back(n32);
  Bytes n0 = prefix(0);
  n0.push_back(noise.byte());
  items.push_back(n0);
  Bytes false_sync = noise.bytes(40);
  false_sync.insert(false_sync.end(), {0x93, 0x0B, 0x51, 0xDE, 0x35, 0x27, 100});
  rest = noise.bytes(140);
  false_sync.insert(false_sync.end(), rest.begin(), rest.end());
  items.push_back(false_sync);
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

// Everything the TNC's peers see, collected since the last section.
class Recorder {
 public:
  Recorder(ChildProcess& tnc, ModemListener& modem, FakeRigctld& rig,
           std::vector<std::pair<std::string, std::string>> masks)
      : tnc_(tnc), modem_(modem), rig_(rig), masks_(std::move(masks)) {}

  void set_gui(int fd) { gui_fd_ = fd; }

  // Takes in whatever arrived; notes the time of the last arrival.
  void poll() {
    if (gui_fd_ >= 0) {
      char buffer[8192];
      for (ssize_t n; (n = ::recv(gui_fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        gui_.append(buffer, static_cast<size_t>(n));
      }
    }
    while (auto d = modem_.receive(0)) datagrams_.push_back(d->bytes);
    const size_t seen = tnc_.output().size() + gui_.size() + datagrams_.size() + rig_count();
    if (seen != seen_) last_change_ = Clock::now();
    seen_ = seen;
  }

  // Waits until the console shows `marker` `count` times since the last
  // section, no transmission is under way, and nothing arrived for 300 ms.
  bool settle(std::string_view marker, size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    last_change_ = Clock::now();
    while (Clock::now() < deadline) {
      poll();
      const std::string_view console = std::string_view(tnc_.output()).substr(console_mark_);
      size_t keyed = 0;
      size_t unkeyed = 0;
      const auto commands = rig_.commands();
      for (size_t i = rig_mark_; i < commands.size(); ++i) {
        const std::string& c = commands[i].bytes;
        keyed += c == "T 1";
        unkeyed += c == "T 0";
      }
      const bool sending = keyed > unkeyed || count_of(console, "to GNURadio") > unkeyed;
      if ((count == 0 || count_of(console, marker) >= count) && !sending &&
          Clock::now() - last_change_ >= std::chrono::milliseconds(300)) {
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
    out_ << "== " << title << " ==\n";
    if (!detail.empty()) out_ << detail << "\n";
    if (!settled) out_ << "(did not settle within 5 s)\n";
    out_ << "-- console --\n";
    std::vector<std::string> lines = console_lines();
    if (!sort_after.empty()) {
      auto it = std::find_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.find(sort_after) != l.npos; });
      std::sort(it == lines.end() ? lines.begin() : it + 1, lines.end());
    }
    for (const auto& l : lines) out_ << l << "\n";
    write_gui_frames();
    if (!datagrams_.empty()) out_ << "-- modem --\n";
    for (const Bytes& d : datagrams_) {
      out_ << "datagram of " << d.size() << " bytes:\n";
      for (size_t i = 0; i < d.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", d[i]);
        out_ << (i % 32 == 0 ? "  " : " ") << hex
             << (i % 32 == 31 || i + 1 == d.size() ? "\n" : "");
      }
    }
    datagrams_.clear();
    const auto commands = rig_.commands();
    if (commands.size() > rig_mark_) out_ << "-- rig --\n";
    for (; rig_mark_ < commands.size(); ++rig_mark_) {
      out_ << "\"" << escaped(commands[rig_mark_].bytes) << "\"\n";
    }
  }

  void note(const std::string& text) { out_ << text << "\n"; }
  std::string text() const { return out_.str(); }

 private:
  size_t rig_count() const { return rig_.commands().size(); }

  // The console text since the last section, split behind each "\n", stamps
  // and ports masked, the machine-dependent receive-buffer line left out.
  std::vector<std::string> console_lines() {
    static const std::regex stamp(R"(\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::string text = tnc_.output().substr(console_mark_);
    console_mark_ = tnc_.output().size();
    text = std::regex_replace(text, stamp, "[TS] ");
    for (const auto& [from, to] : masks_) {
      for (size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    }
    std::vector<std::string> lines;
    for (size_t begin = 0; begin < text.size();) {
      const size_t end = std::min(text.find('\n', begin), text.size() - 1) + 1;
      const std::string line = text.substr(begin, end - begin);
      if (line.find("UDP receive buffer is ") == std::string::npos) lines.push_back(escaped(line));
      begin = end;
    }
    return lines;
  }

  // Each complete KISS frame: command byte, then the data; JSON members one per line.
  void write_gui_frames() {
    const size_t last_fend = gui_.rfind('\xC0');
    if (last_fend == std::string::npos) return;
    out_ << "-- gui --\n";
    std::string data;
    bool escape = false;
    for (char c : gui_.substr(0, last_fend + 1)) {
      const auto b = static_cast<uint8_t>(c);
      if (b == 0xC0) {
        if (!data.empty()) write_gui_frame(data);
        data.clear();
      } else if (escape) {
        data += static_cast<char>(b == 0xDC ? 0xC0 : b == 0xDD ? 0xDB : b);
        escape = false;
      } else if (b == 0xDB) {
        escape = true;
      } else {
        data += c;
      }
    }
    gui_.erase(0, last_fend + 1);
  }

  void write_gui_frame(const std::string& frame) {
    static const std::regex stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    char command[16];
    std::snprintf(command, sizeof command, "frame %02X: ", static_cast<uint8_t>(frame[0]));
    std::string lead = command;
    std::string text = escaped(std::regex_replace(frame.substr(1), stamp, "P[TS] "));
    for (size_t at; (at = text.find("\",\"")) != std::string::npos; lead = "    ") {
      out_ << lead << text.substr(0, at + 2) << "\n";
      text.erase(0, at + 2);
    }
    out_ << lead << text << "\n";
  }

  ChildProcess& tnc_;
  ModemListener& modem_;
  FakeRigctld& rig_;
  std::vector<std::pair<std::string, std::string>> masks_;
  int gui_fd_ = -1;
  size_t console_mark_ = 0;
  size_t rig_mark_ = 0;
  std::string gui_;
  std::vector<Bytes> datagrams_;
  size_t seen_ = 0;  // bytes and items taken in so far, to notice arrivals
  Clock::time_point last_change_ = Clock::now();
  std::ostringstream out_;
};

// Sends the stream to 127.0.0.1:`port` in datagrams of odd sizes, paced so
// that the receive buffer never overflows.
void send_stream(const Bytes& stream, uint16_t port, Recorder& recorder) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  constexpr size_t sizes[] = {1, 7, 64, 333, 2, 129, 31, 500};
  for (size_t at = 0, i = 0; at < stream.size(); ++i) {
    const size_t n = std::min(sizes[i % std::size(sizes)], stream.size() - at);
    (void)::sendto(fd, stream.data() + at, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    at += n;
    recorder.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::close(fd);
}

struct Request {
  std::string label;
  Bytes raw;  // as sent on the socket
};

Bytes kiss(std::string_view data) {
  Bytes f = {0xC0, 0x00};
  for (char c : data) {
    const auto b = static_cast<uint8_t>(c);
    if (b == 0xC0 || b == 0xDB) {
      f.insert(f.end(), {0xDB, static_cast<uint8_t>(b == 0xC0 ? 0xDC : 0xDD)});
    } else {
      f.push_back(b);
    }
  }
  f.push_back(0xC0);
  return f;
}

std::vector<Request> requests() {
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
  const std::string config =
      "[modem]\nGR_ReceivePort = " + std::to_string(receive_port) +
      "\nGR_ReceiveAddress = 127.0.0.1\nGR_TransmitPort = " + std::to_string(modem.port()) +
      "\nVerboseLevel = 5\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) +
      "\nKISS_Address = 127.0.0.1\n[radio]\nCallFrom = QQ9TST\nPreambleLength = 4\n"
      "PostambleLength = 2\n[rigctld]\nAddress = 127.0.0.1\nPort = " +
      std::to_string(rig.port()) + "\nKeyUpDelay = 0\nKeyDownDelay = 0\n";
  TncProfile profile(config);
  ChildProcess tnc = start_tnc(profile.home());
  Recorder recorder(tnc, modem, rig,
                    {{"127.0.0.1:" + std::to_string(receive_port), "127.0.0.1:<GR_ReceivePort>"},
                     {"127.0.0.1:" + std::to_string(kiss_port), "127.0.0.1:<KISS_Port>"}});
  recorder.note("# kestrelis-tnc golden transcript; KESTRELIS_UPDATE_GOLDEN=1 rewrites it");

  const bool started = tnc.wait_for_output("Listening for GNURadio", 5000) &&
                       tnc.wait_for_output("Waiting for GUI client", 5000);
  recorder.section("start-up", started && recorder.settle("", 0), {}, "Rigctld OK!");

  Noise noise;
  send_stream(bit_stream(phase_a_items(noise), noise), receive_port, recorder);
  recorder.section("downlink A: no GUI connected", recorder.settle("Unknown CSP Port", 1));

  KissClient gui(kiss_port, 5000);
  recorder.set_gui(gui.fd());
  recorder.section("GUI connects", recorder.settle("GUI connected.", 1));

  send_stream(bit_stream(phase_b_items(noise), noise), receive_port, recorder);
  recorder.section("downlink B: every kind of frame", recorder.settle("Unknown CSP Port", 1));

  const std::vector<Request> list = requests();
  for (size_t i = 0; i < list.size(); ++i) {
    gui.send_raw(list[i].raw);
    const bool settled = recorder.settle("Finished reading KISS packet", 1);
    recorder.section("request " + std::to_string(i + 1) + ": " + list[i].label, settled,
                     "sent: " + escaped(std::string(list[i].raw.begin(), list[i].raw.end())));
  }

  gui.close();
  recorder.section("GUI disconnects", recorder.settle("GUI disconnected", 1));

  const int status = tnc.stop(SIGTERM, 5000);
  recorder.section("SIGTERM", true,
                   status >= 0 && WIFSIGNALED(status)
                       ? "ended by signal " + std::to_string(WTERMSIG(status))
                       : "ended with status " + std::to_string(status));
  return recorder.text();
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first differing lines of two texts, with three lines of context.
std::string first_difference(const std::string& expected, const std::string& actual) {
  const auto e = split_lines(expected);
  const auto a = split_lines(actual);
  size_t first = 0;
  while (first < e.size() && first < a.size() && e[first] == a[first]) ++first;
  size_t tail = 0;
  while (tail < e.size() - first && tail < a.size() - first &&
         e[e.size() - 1 - tail] == a[a.size() - 1 - tail]) {
    ++tail;
  }
  std::ostringstream out;
  out << "--- " << golden_path << "\n+++ " << actual_path << "\n@@ line " << first + 1 << " @@\n";
  for (size_t i = first >= 3 ? first - 3 : 0; i < first; ++i) out << " " << e[i] << "\n";
  for (size_t i = first; i < e.size() - tail && i < first + 20; ++i) out << "-" << e[i] << "\n";
  for (size_t i = first; i < a.size() - tail && i < first + 20; ++i) out << "+" << a[i] << "\n";
  return out.str();
}

TEST(GoldenTranscript, RealBinaryMatchesTheGoldenFile) {
  const std::string actual = run_session();
  const char* update = std::getenv("KESTRELIS_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden_path, std::ios::binary) << actual;
    std::cout << "wrote " << golden_path << "\n";
    return;
  }
  std::ifstream in(golden_path, std::ios::binary);
  ASSERT_TRUE(in) << "no " << golden_path << "; run with KESTRELIS_UPDATE_GOLDEN=1";
  const std::string expected((std::istreambuf_iterator<char>(in)), {});
  if (expected != actual) {
    std::ofstream(actual_path, std::ios::binary) << actual;
    FAIL() << "transcript differs from the golden file\n" << first_difference(expected, actual);
  }
}

}  // namespace

}  // namespace kestrelis
