// The telemetry decoder with any payload and any telemetry word: the first
// two input bytes are the word, the rest the payload (which starts with its
// own, possibly different, word), at most 215 bytes as on the air.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "telemetry/telemetry.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

void decode(std::span<const uint8_t> data) {
  if (data.size() < 2) return;
  const TelemetryWord word = split_telemetry_word(static_cast<uint16_t>(data[0] << 8 | data[1]));
  std::span<const uint8_t> payload = data.subspan(2);
  if (payload.size() > max_payload_size) payload = payload.first(max_payload_size);
  const TelemetryRecord r = decode_telemetry(payload, word);
  if (r.tlm_sat != word.tlm_sat || r.payload_size != payload.size()) __builtin_trap();
  if (r.status != TelemetryStatus::decoded) {
    if (!r.members.empty() || !r.label.empty()) __builtin_trap();
    return;
  }
  // The GUI parses the members as one JSON object of text values: quotes
  // must pair up, and the derived UNIX value always closes it.
  if (r.time.size() != 18 || r.label.empty() || std::ranges::count(r.members, '"') % 2 != 0 ||
      r.members.find("\"UNIX\":\"") == std::string::npos || r.members.back() != '"') {
    __builtin_trap();
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::decode(std::span(data, size));
  return 0;
}
