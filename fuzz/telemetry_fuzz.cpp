// The telemetry decoder with any payload and any telemetry word: the first
// two input bytes are the word, the rest the payload (which starts with its
// own, possibly different, word), at most 215 bytes as on the air.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "telemetry/telemetry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  console_sink = [](std::string_view) {};
  gui_sink = [](std::span<const uint8_t>) {};
  if (size < 2) return 0;
  const TelemetryWord word = split_telemetry_word(static_cast<uint16_t>(data[0] << 8 | data[1]));
  std::span<const uint8_t> payload(data + 2, size - 2);
  if (payload.size() > 215) payload = payload.first(215);
  decode_telemetry(payload, word);
  return 0;
}
