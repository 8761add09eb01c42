// The configuration file as people type it: any bytes through inih and the
// key handler, then the range checks, which must leave only values the TNC
// can honour and name each one they replaced.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

int fields_changed(const TncConfig& a, const TncConfig& b) {
  return (a.GR_ReceivePort != b.GR_ReceivePort) + (a.GR_TransmitPort != b.GR_TransmitPort) +
         (a.KISS_Port != b.KISS_Port) + (a.PreambleLength != b.PreambleLength) +
         (a.PostambleLength != b.PostambleLength) + (a.VerboseLevel != b.VerboseLevel) +
         (a.CallFrom != b.CallFrom) + (a.PTT_ON_Command != b.PTT_ON_Command) +
         (a.PPT_OFF_Command != b.PPT_OFF_Command) + (a.Address != b.Address) + (a.Port != b.Port) +
         (a.KeyUpDelay != b.KeyUpDelay) + (a.KeyDownDelay != b.KeyDownDelay) +
         (a.KISS_Address != b.KISS_Address) + (a.GR_ReceiveAddress != b.GR_ReceiveAddress);
}

bool port_ok(int32_t port) { return port >= 1 && port <= 65535; }
bool idle_length_ok(int32_t bytes) { return bytes >= 0 && bytes <= 10000; }
bool address_ok(const std::string& address) {
  return address.empty() || parse_ipv4(address.c_str()).has_value();
}

void load_and_check(std::string_view text) {
  TncConfig config;
  if (load_config_text(text, config) < 0) __builtin_trap();  // text in memory always opens
  for (const std::string* field :
       {&config.CallFrom, &config.PTT_ON_Command, &config.PPT_OFF_Command, &config.Address,
        &config.Port, &config.KISS_Address, &config.GR_ReceiveAddress}) {
    if (field->size() > config_text_limit) __builtin_trap();
  }

  const TncConfig loaded = config;
  const std::vector<std::string> refusals = check_config_ranges(config);
  // One console line for each value replaced, and none for a value kept.
  if (static_cast<int>(refusals.size()) != fields_changed(loaded, config)) __builtin_trap();
  for (const std::string& line : refusals) {
    if (!line.starts_with("Config: ") || !line.ends_with("\n")) __builtin_trap();
  }
  if (!port_ok(config.GR_ReceivePort) || !port_ok(config.GR_TransmitPort) ||
      !port_ok(config.KISS_Port) || !idle_length_ok(config.PreambleLength) ||
      !idle_length_ok(config.PostambleLength) || config.KeyUpDelay < 0 || config.KeyDownDelay < 0 ||
      config.PTT_ON_Command.size() > keying_command_limit ||
      config.PPT_OFF_Command.size() > keying_command_limit || !address_ok(config.KISS_Address) ||
      !address_ok(config.GR_ReceiveAddress)) {
    __builtin_trap();
  }
  // What the checks leave, they accept.
  if (!check_config_ranges(config).empty()) __builtin_trap();
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::load_and_check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
