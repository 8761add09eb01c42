#include "app/downlink.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "packet/dispatch.hpp"
#include "packet/packet_check.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "telemetry/telemetry.hpp"
#include "wire/frame.hpp"
#include "wire/modem_input.hpp"
#include "wire/reed_solomon.hpp"

namespace kestrelis {

namespace {

// Larger than any UDP datagram (65,507 bytes), so every one is examined whole.
constexpr size_t datagram_capacity = 65536;

// Absorbs a burst of datagrams while the thread waits on a slow GUI.
constexpr int receive_buffer_request = 8 << 20;

// How often a silent modem port is looked at.
constexpr int silence_check_ms = 1000;

// After a guess at the modem's form, the datagrams of this long are not
// looked at; after a warning, of ten times as long.
constexpr int64_t input_guess_pause_ms = 60'000;

void write_telemetry(Station& s, const TelemetryRecord& r) {
  const Console& console = s.console;
  console_print(console, "%d\n", r.tlm_sat);
  switch (r.status) {
    case TelemetryStatus::unknown_satellite:
      console_print(console, "UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n");
      return;
    case TelemetryStatus::unknown_version:
      if (r.tlm_sat == 3) console_log(console, "Unknown TLM version\n");
      send_to_gui(s.gui, telemetry_message(""));
      return;
    case TelemetryStatus::decoded:
      break;
  }
  console_log(console, "%s %s\r\n", r.label.c_str(), r.time.c_str());
  gui_text(s.gui, "Received: " + r.label + " " + r.time);
  if (r.short_record()) {
    console_log(console, "Short telemetry record: %zu of %zu bytes, missing values shown as 0\r\n",
                r.payload_size, r.needed_size);
  }
  send_to_gui(s.gui, telemetry_message(r.members));
}

void write_dispatch(Station& s, const Dispatch& d) {
  const Console& console = s.console;
  switch (d.action) {
    case PacketAction::self_generated:
      console_log(console, "Received self-generated packet\n");
      return;
    case PacketAction::ignored:
      return;
    case PacketAction::too_short:
      console_log(console, "Dropped port %u packet of %zu bytes: too short\r\n", unsigned{d.port},
                  d.payload_size);
      return;
    case PacketAction::telemetry:
      write_telemetry(s, d.telemetry);
      return;
    case PacketAction::digipeater_packet:
      console_log(console, "Digipeater packet\r\n");
      send_to_gui(s.gui, d.gui_data);
      return;
    case PacketAction::digipeater_message:
      console_log(console, "Digipeater message \r\n");
      // The text is the satellite's, so it goes as it is: a "%" in it stays a "%".
      gui_text(s.gui, "Received: " + d.text);
      return;
    case PacketAction::unknown_port:
      console_log(console, "ERROR: Unknown CSP Port %u\r\n", unsigned{d.port});
      return;
  }
}

// The lines of a codeword that Reed-Solomon corrected, up to the frame's end;
// `erased` bytes were erased to decode it.
void write_corrected(Station& s, const DecodedCodeword& word, int erased = 0) {
  const Console& console = s.console;
  if (erased > 0) {
    console_log(console, "ReedSolomon: OK (Corrected %d bytes, %d erased)\r\n", word.corrected,
                erased);
  } else {
    console_log(console, "ReedSolomon: OK (Corrected %d bytes)\r\n", word.corrected);
  }
  console_log(console, "Received %d bytes\r\n", static_cast<int>(word.length));
  console_log(console, "-------FRAME END--------\r\n");
}

// A packet whose CRC was accepted, with the CRC line when it was only
// tolerated; logged before anything of it goes to the GUI, with the arrival
// time of the datagram that completed it: the thread may have waited on the
// GUI since then.
void deliver(Station& s, const DecodedCodeword& word, const PacketCheck& check,
             int64_t received_us) {
  const bool tolerated = check.verdict == PacketVerdict::crc_tolerated;
  if (tolerated) {
    console_log(s.console, "CRC32: ERROR %x:%x\r\n", check.payload_crc, check.received_crc);
  }
  const Dispatch d = dispatch_csp_packet(check.payload, check.destination_port, check.source);
  count_packet(s.statistics, d.action);
  log_packet(s.archive, {.received_ms = received_us / 1000,
                         .packet = word.packet(),
                         .rs_corrected = word.corrected,
                         .crc_tolerated = tolerated,
                         .source = check.source,
                         .port = check.destination_port,
                         .dispatch = &d});
  write_dispatch(s, d);
}

// Described acquisition: one codeword of N bytes, from the Reed-Solomon
// decoder to the GUI, whatever becomes of it.
void receive_codeword(Station& s, std::span<const uint8_t> codeword, int64_t received_us) {
  const Console& console = s.console;
  const DecodedCodeword word = decode_codeword(codeword);
  count_codeword(s.statistics, word.corrected);
  if (word.corrected < 0) {
    console_log(console, "ReedSolomon: ERROR\r\n");
    return;
  }
  write_corrected(s, word);

  const PacketCheck check = check_packet(word.packet());
  count_verdict(s.statistics, check.verdict);
  switch (check.verdict) {
    case PacketVerdict::too_small:
      console_log(console, "ERROR: Packet is too small\r\n");
      return;
    case PacketVerdict::crc_dropped:
      console_log(console, "CRC32: ERROR %x:%x\r\n", check.payload_crc, check.received_crc);
      console_log(console, "CRC32: Error\n");
      return;
    case PacketVerdict::crc_tolerated:
    case PacketVerdict::accepted:
      break;
  }
  deliver(s, word, check, received_us);
}

// Robust acquisition: noise gives false candidates all the time, so a
// rejected one is shown only at VerboseLevel 3.
bool reject(Station& s, const RobustCandidate& c, const char* why) {
  verbose_log(s.console, 3,
              "Rejected candidate: bit %llu, %d sync bits wrong, length %u, reason %s\n",
              static_cast<unsigned long long>(c.bit), c.sync_errors, c.length, why);
  return false;
}

// Robust acquisition: a candidate that passed, with the described
// acquisition's lines; `erased` bytes were erased to decode it.
bool deliver_candidate(Station& s, const DecodedCodeword& word, const PacketCheck& check,
                       const RobustCandidate& c, int64_t received_us, int erased = 0) {
  add_count(s.statistics.length_bits_corrected, static_cast<uint64_t>(c.length_distance));
  console_log(s.console, "-----FRAME DETECTED-----\r\n");
  write_corrected(s, word, erased);
  deliver(s, word, check, received_us);
  return true;
}

// Robust acquisition: one candidate codeword, delivered only when it passes
// Reed-Solomon and the CRC.
bool try_codeword(Station& s, std::span<const uint8_t> codeword, const RobustCandidate& c,
                  int64_t received_us) {
  const DecodedCodeword word = decode_codeword(codeword);
  count_codeword(s.statistics, word.corrected);
  if (word.corrected < 0) return reject(s, c, "Reed-Solomon");
  const PacketCheck check = check_packet(word.packet());
  count_verdict(s.statistics, check.verdict);
  if (check.verdict == PacketVerdict::too_small) return reject(s, c, "length");
  if (!packet_accepted(check.verdict)) return reject(s, c, "CRC");
  return deliver_candidate(s, word, check, c, received_us);
}

// Soft input: a candidate that hard decoding cannot deliver is decoded again
// with its least reliable bytes erased, and a word that needed erasures is
// delivered only when its CRC matches exactly. Each candidate is counted as
// the word finally taken.
bool try_soft_codeword(Station& s, std::span<const uint8_t> codeword, std::span<const int8_t> soft,
                       const RobustCandidate& c, int64_t received_us) {
  DecoderStatistics& st = s.statistics;
  const DecodedCodeword word = decode_codeword(codeword);
  add_count(st.decodes);
  const PacketCheck check = word.corrected >= 0 ? check_packet(word.packet()) : PacketCheck{};
  if (word.corrected >= 0 && packet_accepted(check.verdict)) {
    count_codeword(st, word.corrected);
    count_verdict(st, check.verdict);
    add_count(st.frame_decodes);
    return deliver_candidate(s, word, check, c, received_us);
  }

  DecodedCodeword erased;
  erased.length = word.length;
  std::copy_n(codeword.begin(), erased.length, erased.word.begin());
  const auto stored = std::span(erased.word).first(erased.length);
  apply_randomizer(stored);
  const auto exact_crc = [](std::span<const uint8_t> w) {
    return check_packet(w.first(w.size() - rs_parity_size)).verdict == PacketVerdict::accepted;
  };
  const ErasureDecode e = erasure_search(stored, soft, exact_crc);
  add_count(st.decodes, static_cast<uint64_t>(e.decodes));
  if (e.corrected < 0) {
    count_codeword(st, word.corrected);
    if (word.corrected < 0) return reject(s, c, "Reed-Solomon");
    count_verdict(st, check.verdict);
    return reject(s, c, check.verdict == PacketVerdict::too_small ? "length" : "CRC");
  }
  erased.corrected = e.corrected;
  const PacketCheck exact = check_packet(erased.packet());
  count_codeword(st, erased.corrected);
  count_verdict(st, exact.verdict);
  add_count(st.erasure_frames);
  add_count(st.erasures, static_cast<uint64_t>(e.erasures));
  add_count(st.frame_decodes, 1 + static_cast<uint64_t>(e.decodes));
  return deliver_candidate(s, erased, exact, c, received_us, e.erasures);
}

// Warns, one line, when the datagrams look like the other form than Input
// names. Only a warning: the datagrams are taken as Input says.
struct InputWatch {
  InputGuess guess;
  int64_t resume_ms = 0;
};

void watch_input(const Station& s, InputWatch& watch, std::span<const uint8_t> bytes,
                 int64_t now_ms) {
  if (now_ms < watch.resume_ms) return;
  const InputLooks looks = guess_input(watch.guess, bytes);
  if (looks == InputLooks::undecided) return;
  watch.resume_ms = now_ms + input_guess_pause_ms;
  const int port = s.config.GR_ReceivePort;
  if (looks == InputLooks::soft8 && s.config.Input == ModemInput::bits) {
    console_log(s.console,
                "Modem port %d: the datagrams look like soft values (a signed byte per bit), but "
                "Input = bits; if the modem sends soft values, set [modem] Input = soft8\n",
                port);
  } else if (looks == InputLooks::packed_bits && s.config.Input == ModemInput::soft8) {
    console_log(s.console,
                "Modem port %d: the datagrams look like packed bits, but Input = soft8; if the "
                "modem sends packed bits, set [modem] Input = bits\n",
                port);
  } else {
    return;
  }
  watch.resume_ms = now_ms + 10 * input_guess_pause_ms;
}

}  // namespace

void receive_datagram(Station& station, FrameDetector& detector, std::span<const uint8_t> bytes,
                      int64_t received_us) {
  add_count(station.statistics.bits_received, 8 * uint64_t{bytes.size()});
  const FrameHandler handler{[&](StreamPoint) {
                               add_count(station.statistics.sync_words);
                               console_log(station.console, "-----FRAME DETECTED-----\r\n");
                             },
                             [&](std::span<const uint8_t> codeword, StreamPoint) {
                               receive_codeword(station, codeword, received_us);
                             }};
  detect_frames(detector, bytes, handler);
}

void receive_datagram(Station& station, RobustDetector& detector, std::span<const uint8_t> bytes,
                      int64_t received_us) {
  add_count(station.statistics.bits_received, 8 * uint64_t{bytes.size()});
  const auto sync_found = [&](const RobustCandidate& c) {
    add_count(station.statistics.sync_words);
    if (c.attempts == 0) (void)reject(station, c, "length");
  };
  const auto offered = [&](std::span<const uint8_t> codeword, const RobustCandidate& c) {
    return try_codeword(station, codeword, c, received_us);
  };
  robust_detect(detector, bytes, RobustHandler{sync_found, offered});
}

void receive_datagram(Station& station, SoftDetector& detector, std::span<const int8_t> values,
                      int64_t received_us) {
  add_count(station.statistics.bits_received, uint64_t{values.size()});
  const auto sync_found = [&](const RobustCandidate& c) {
    add_count(station.statistics.sync_words);
    if (c.attempts == 0) (void)reject(station, c, "length");
  };
  const auto offered = [&](std::span<const uint8_t> codeword, std::span<const int8_t> soft,
                           const RobustCandidate& c) {
    return try_soft_codeword(station, codeword, soft, c, received_us);
  };
  soft_detect(detector, values, SoftHandler{sync_found, offered});
}

Acquirer acquirer_for(const TncConfig& config) {
  Acquirer a;
  a.robust = config.Acquisition == AcquisitionMode::robust;
  a.soft = config.Input == ModemInput::soft8;
  a.robust_search.sync_bit_errors = config.SyncBitErrors;
  a.soft_search.robust.sync_bit_errors = config.SyncBitErrors;
  return a;
}

void receive_datagram(Station& station, Acquirer& acquirer, std::span<const uint8_t> bytes,
                      int64_t received_us) {
  if (acquirer.soft) {
    // One signed byte per bit: the same storage read as int8_t.
    const std::span<const int8_t> values(reinterpret_cast<const int8_t*>(bytes.data()),
                                         bytes.size());
    receive_datagram(station, acquirer.soft_search, values, received_us);
  } else if (acquirer.robust) {
    receive_datagram(station, acquirer.robust_search, bytes, received_us);
  } else {
    receive_datagram(station, acquirer.described, bytes, received_us);
  }
}

void receive_thread(Station& station) {
  const Console& console = station.console;
  const std::string& address = station.config.GR_ReceiveAddress;
  const int port = station.config.GR_ReceivePort;
  NetResult bound =
      udp_bind(address.c_str(), station.config.GR_ReceivePort, receive_buffer_request);
  if (bound.status.failed_at == SysStep::socket) {
    verbose_log(console, 5, "Could not create socket : %d", bound.status.error);
    bound.status.error = EBADF;  // what binding the missing socket reports
  }
  if (!bound.status.ok()) {
    // One write: the GUI thread may print at the same moment.
    console_print(console, "Bind failed with error code : %d\n", bound.status.error);
    console_log(console, "Modem port %d unavailable (%s): the TNC cannot receive and ends\n", port,
                error_text(bound.status.error).c_str());
    discard_recording(station.archive);
    request_ending(1);
    return;
  }
  const int fd = bound.socket.fd();
  if (const int granted = receive_buffer_bytes(fd); granted < receive_buffer_request) {
    verbose_log(console, 5, "UDP receive buffer is %d bytes, not %d (see net.core.rmem_max)\r\n",
                granted, receive_buffer_request);
  }
  console_log(console, "Listening for GNURadio on UDP %s:%d\r\n",
              address.empty() ? "127.0.0.1" : address.c_str(), port);
  if (address.empty()) {
    console_log(console,
                "Modem port %d is open on all interfaces: anyone who can reach it can feed in "
                "frames (GR_ReceiveAddress = 127.0.0.1 closes it)\n",
                port);
  }

  const int64_t silence_ms = std::chrono::milliseconds(station.config.ModemSilence).count();
  if (silence_ms > 0 && !set_receive_timeout(fd, silence_check_ms).ok()) {
    verbose_log(console, 5, "Cannot watch the modem for silence: %s\n",
                error_text(last_socket_error()).c_str());
  }
  int64_t last_data_ms = monotonic_ms();
  bool silent = false;
  InputWatch input_watch;

  std::vector<uint8_t> datagram(datagram_capacity);
  Acquirer acquirer = acquirer_for(station.config);
  if (acquirer.soft && !acquirer.robust) {
    console_log(console,
                "Input = soft8: frames are found by the robust search (SyncBitErrors = "
                "%d), not the described one\n",
                station.config.SyncBitErrors);
  }
  for (;;) {
    const long length = datagram_receive(fd, datagram);
    if (length < 0 && silence_ms > 0 && !silent && monotonic_ms() - last_data_ms >= silence_ms) {
      silent = true;
      console_log(console, "No data from the modem on UDP port %d for %d s: check the modem\n",
                  port, static_cast<int>(station.config.ModemSilence.count()));
    }
    if (length <= 0) continue;
    const int64_t received_us = now_unix_us();
    last_data_ms = monotonic_ms();
    if (silent) {
      silent = false;
      console_log(console, "Data from the modem again on UDP port %d\n", port);
    }
    size_t size = static_cast<size_t>(length);
    if (size > datagram.size()) {
      console_log(console, "Datagram of %ld bytes cut to %zu bytes\r\n", length, datagram.size());
      size = datagram.size();
    }
    const auto bytes = std::span(datagram).first(size);
    record_datagram(station.archive, received_us, bytes);
    watch_input(station, input_watch, bytes, last_data_ms);
    receive_datagram(station, acquirer, bytes, received_us);
  }
}

}  // namespace kestrelis
