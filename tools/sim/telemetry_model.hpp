#pragma once
// The simulated satellite's housekeeping: records of every known layout,
// filled field by field from the product's layout table with values that follow a
// low-earth orbit (sunlight and eclipse, battery, temperatures, GPS position)
// and counters that grow.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "telemetry/layouts.hpp"

namespace kestrelis {

// Indices into telemetry_layouts for "all" or a comma-separated list of SAT.VERSION
// ("1.5,3.11"); none when an entry is unknown or the list is empty.
[[nodiscard]] std::optional<std::vector<size_t>> parse_layout_list(std::string_view text);

// What the housekeeping values follow besides the record time.
struct Housekeeping {
  uint64_t seed = 1;               // small random variations
  int64_t start_unix_ms = 0;       // the orbit's reference moment
  uint32_t records_sent = 0;       // drives the frame counters
  uint32_t uplink_frames = 0;      // the radio's receive counters
  uint32_t stored_messages = 0;    // the digipeater's store
  uint32_t record_interval_s = 0;  // reported by the version 11 record
};

constexpr uint8_t telemetry_tlm_type = 1;  // any type but beacon_tlm_type

// The tlm_id word: flight bit set, software version 2, and the given fields.
[[nodiscard]] uint16_t sim_tlm_id(uint8_t sat, uint8_t version, uint8_t tlm_type);

// A record of `layout` (record_size bytes) for the moment `unix_ms`, with
// `tlm_type` in its tlm_id. Every field of the layout holds a value.
[[nodiscard]] std::vector<uint8_t> make_record(const TelemetryLayout& layout, uint8_t tlm_type,
                                               const Housekeeping& hk, int64_t unix_ms);

}  // namespace kestrelis
