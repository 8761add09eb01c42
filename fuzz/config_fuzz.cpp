// The configuration file as people type it: any bytes through inih, the key
// handler and the checks, which must leave only values the TNC can honour,
// each note a console line of its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

bool port_ok(int32_t port) { return port >= 1 && port <= 65535; }
bool idle_length_ok(int32_t bytes) { return bytes >= 0 && bytes <= 10000; }
bool address_ok(const std::string& address) {
  return address.empty() || parse_ipv4(address.c_str()).has_value();
}

void load_and_check(std::string_view text) {
  TncConfig config;
  std::vector<ConfigNote> notes;
  if (load_config_text(text, config, &notes) < 0) __builtin_trap();  // text in memory always opens
  for (const std::string* field :
       {&config.CallFrom, &config.PTT_ON_Command, &config.PPT_OFF_Command, &config.Address,
        &config.Port, &config.KISS_Address, &config.GR_ReceiveAddress}) {
    if (field->size() > config_text_limit) __builtin_trap();
  }
  for (const ConfigNote& note : notes) {
    const std::string line = config_note_text(note);
    if (!line.starts_with("Config: ") || !line.ends_with("\n")) __builtin_trap();
  }
  if (!port_ok(config.GR_ReceivePort) || !port_ok(config.GR_TransmitPort) ||
      !port_ok(config.KISS_Port) || !idle_length_ok(config.PreambleLength) ||
      !idle_length_ok(config.PostambleLength) || config.KeyUpDelay.count() < 0 ||
      config.KeyDownDelay.count() < 0 || config.PTT_ON_Command.size() > keying_command_limit ||
      config.PPT_OFF_Command.size() > keying_command_limit || !address_ok(config.KISS_Address) ||
      !address_ok(config.GR_ReceiveAddress)) {
    __builtin_trap();
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::load_and_check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
