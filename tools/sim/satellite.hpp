#pragma once
// The simulated satellite's answers to uplink packets: the store-and-forward
// digipeater (a request is stored and relayed after its delay as a port-29
// text message), "list" and "count" on port 14, and "ping".

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packet/csp.hpp"

// A packet for the downlink, with one line saying what it is.
struct SimPacket {
  CspHeader header;
  std::vector<uint8_t> payload;
  std::string what;
  bool telemetry = false;
};

// The fields of a digipeater request line "SRC>DST, SAT, STORE=n text":
// call signs and satellite name without spaces, the text as it came.
struct DigipeaterRequest {
  std::string from;
  std::string to;
  std::string satellite;
  uint32_t delay_s = 0;
  std::string text;
};

// Parses a request line (up to its first zero byte). None when a separator,
// the keyword STORE or the delay's digits (at most 9) are missing, or a call
// sign is empty.
[[nodiscard]] std::optional<DigipeaterRequest> parse_digipeater_request(std::string_view line);

struct StoredMessage {
  DigipeaterRequest request;
  int64_t due_ms = 0;
};

constexpr size_t satellite_store_capacity = 32;
constexpr uint8_t relay_destination = 31;  // every station in view

// The digipeater's store. Times are milliseconds of the caller's clock;
// a delay of n seconds takes n * 1000 / time_scale of them.
struct Satellite {
  double time_scale = 1;
  std::vector<StoredMessage> stored;
};

// What the satellite did with one uplink packet: immediate replies and a
// line for the log.
struct SatelliteAction {
  std::vector<SimPacket> replies;
  std::string note;
};

// Acts on one good uplink packet at `now_ms`. Destination 1 port 14: "L"
// lists the store, "C" counts it, anything else is a digipeater request
// (stored, or refused when unparsable or the store is full). Destination 5
// port 1 is a ping, answered with "Pong " and the payload. Replies go to
// port 14 of address 25 from address 1. Everything else is ignored.
[[nodiscard]] SatelliteAction satellite_receive(Satellite& sat, const CspHeader& header,
                                                std::span<const uint8_t> payload, int64_t now_ms);

// Removes the stored messages due by `now_ms` and returns their relays, in
// order of their due time: port-29 text messages "FROM>TO: text" (payload
// byte 0 zero, byte 1 = 3, then the text) from address 1 to address 31.
[[nodiscard]] std::vector<SimPacket> satellite_due(Satellite& sat, int64_t now_ms);

// The earliest due time in the store; none when it is empty.
[[nodiscard]] std::optional<int64_t> next_due_ms(const Satellite& sat);

// `bytes` as text between double quotes, with \" \\ and \xNN escapes.
[[nodiscard]] std::string quoted_text(std::span<const uint8_t> bytes);
