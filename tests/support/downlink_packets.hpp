#pragma once
// Test support: packets as the satellite sends them, and their way to a TNC's
// modem port as a bit stream.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrelis {

using PacketBytes = std::vector<uint8_t>;

// A whole packet (CSP header, payload, CRC-32C of both) from the satellite to `port`.
[[nodiscard]] PacketBytes satellite_packet(uint8_t port, std::span<const uint8_t> payload);

// One record of every telemetry layout, beacons and telemetry in turn, then
// the digipeater text `text`, as whole packets; record times from `unix_ms`.
[[nodiscard]] std::vector<PacketBytes> sample_packets(int64_t unix_ms, const std::string& text);

// The modem's bit stream of `packets`: each framed behind a few idle bytes,
// then enough idle bytes for the last frame to complete.
[[nodiscard]] std::vector<uint8_t> stream_of_packets(const std::vector<PacketBytes>& packets);

// Sends `stream` to UDP 127.0.0.1:`port` in datagrams of `size` bytes.
void send_stream(uint16_t port, std::span<const uint8_t> stream, size_t size);

// The lines (without line ends) of the packet log under `home`, of the UTC
// days from `from_ms` to now, once there are at least `count` or
// `timeout_ms` has passed.
[[nodiscard]] std::vector<std::string> wait_for_log_lines(const std::string& home, int64_t from_ms,
                                                          size_t count, int timeout_ms);

}  // namespace kestrelis
