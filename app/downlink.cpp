#include "app/downlink.hpp"

#include <cerrno>
#include <string>
#include <vector>

#include "packet/dispatch.hpp"
#include "packet/packet_check.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "telemetry/telemetry.hpp"

namespace kestrelis {

namespace {

// Larger than any UDP datagram (65,507 bytes), so every one is examined whole.
constexpr size_t datagram_capacity = 65536;

// Absorbs a burst of datagrams while the thread waits on a slow GUI.
constexpr int receive_buffer_request = 8 << 20;

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

// One codeword of N bytes, from the Reed-Solomon decoder to the GUI.
void receive_codeword(Station& s, std::span<const uint8_t> codeword) {
  const Console& console = s.console;
  const DecodedCodeword word = decode_codeword(codeword);
  if (word.corrected < 0) {
    console_log(console, "ReedSolomon: ERROR\r\n");
    return;
  }
  console_log(console, "ReedSolomon: OK (Corrected %d bytes)\r\n", word.corrected);
  console_log(console, "Received %d bytes\r\n", static_cast<int>(word.length));
  console_log(console, "-------FRAME END--------\r\n");

  const PacketCheck check = check_packet(word.packet());
  switch (check.verdict) {
    case PacketVerdict::too_small:
      console_log(console, "ERROR: Packet is too small\r\n");
      return;
    case PacketVerdict::crc_tolerated:
    case PacketVerdict::crc_dropped:
      console_log(console, "CRC32: ERROR %x:%x\r\n", check.payload_crc, check.received_crc);
      if (check.verdict == PacketVerdict::crc_dropped) {
        console_log(console, "CRC32: Error\n");
        return;
      }
      break;
    case PacketVerdict::accepted:
      break;
  }
  write_dispatch(s, dispatch_csp_packet(check.payload, check.destination_port, check.source));
}

}  // namespace

void receive_datagram(Station& station, FrameDetector& detector, std::span<const uint8_t> bytes) {
  const FrameHandler handler{
      [&](StreamPoint) { console_log(station.console, "-----FRAME DETECTED-----\r\n"); },
      [&](std::span<const uint8_t> codeword, StreamPoint) { receive_codeword(station, codeword); }};
  detect_frames(detector, bytes, handler);
}

void receive_thread(Station& station) {
  const Console& console = station.console;
  const std::string& address = station.config.GR_ReceiveAddress;
  const int port = station.config.GR_ReceivePort;
  NetResult bound = udp_bind(address.c_str(), static_cast<uint16_t>(port), receive_buffer_request);
  if (bound.failed_at == NetStep::socket) {
    verbose_log(console, 5, "Could not create socket : %d", bound.error);
    bound.error = EBADF;  // what binding the missing socket reports
  }
  if (bound.failed_at != NetStep::none) {
    console_print(console, "Bind failed with error code : %d", bound.error);
    exit_process(1);
  }
  const int fd = bound.socket.fd();
  if (const int granted = receive_buffer_bytes(fd); granted < receive_buffer_request) {
    verbose_log(console, 5, "UDP receive buffer is %d bytes, not %d (see net.core.rmem_max)\r\n",
                granted, receive_buffer_request);
  }
  console_log(console, "Listening for GNURadio on UDP %s:%d\r\n",
              address.empty() ? "127.0.0.1" : address.c_str(), port);

  std::vector<uint8_t> datagram(datagram_capacity);
  FrameDetector detector;
  for (;;) {
    const long length = datagram_receive(fd, datagram);
    if (length <= 0) continue;
    size_t size = static_cast<size_t>(length);
    if (size > datagram.size()) {
      console_log(console, "Datagram of %ld bytes cut to %zu bytes\r\n", length, datagram.size());
      size = datagram.size();
    }
    receive_datagram(station, detector, std::span(datagram).first(size));
  }
}

}  // namespace kestrelis
