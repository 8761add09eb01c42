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

#include "request/requests.hpp"
#include "wire/csp.hpp"

namespace kestrelis {

// A packet for the downlink, with one line saying what it is.
struct SimPacket {
  CspHeader header;
  std::vector<uint8_t> payload;
  std::string what;
  bool telemetry = false;
};

// A digipeater request line (up to its first zero byte) split as the TNC
// splits it; none when the TNC's split fails, a call sign is empty or the
// keyword is not STORE.
[[nodiscard]] std::optional<RequestFields> parse_digipeater_request(std::string_view line);

struct StoredMessage {
  RequestFields request;
  int64_t due_ms = 0;
};

constexpr size_t satellite_store_capacity = 32;

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

// Acts on one good uplink packet at `now_ms`. To the satellite's digipeater
// port: "L" lists the store, "C" counts it, anything else is a digipeater
// request (stored, or refused when unparsable or the store is full). To the
// ping address and port: answered with "Pong " and the payload. Replies go
// from the satellite to the ground station's digipeater port. Everything
// else is ignored.
[[nodiscard]] SatelliteAction satellite_receive(Satellite& sat, const CspHeader& header,
                                                std::span<const uint8_t> payload, int64_t now_ms);

// Removes the stored messages due by `now_ms` and returns their relays, in
// order of their due time: digipeater text messages "FROM>TO: text" (payload
// byte 0 zero, byte 1 the text kind, then the text) to relay_address.
[[nodiscard]] std::vector<SimPacket> satellite_due(Satellite& sat, int64_t now_ms);

// The earliest due time in the store; none when it is empty.
[[nodiscard]] std::optional<int64_t> next_due_ms(const Satellite& sat);

// `bytes` as text between double quotes, with \" \\ and \xNN escapes.
[[nodiscard]] std::string quoted_text(std::span<const uint8_t> bytes);

}  // namespace kestrelis
