// The configuration file as people type it: any bytes through inih and the
// key handler, then the range checks.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/config.hpp"
#include "app/console_log.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  console_sink = [](std::string_view) {};
  TncConfig config;
  int result = load_config_text(std::string_view(reinterpret_cast<const char*>(data), size), config);
  if (result < 0) __builtin_trap();  // text in memory always opens
  check_config_ranges(config);
  if (config.CallFrom.size() > config_text_limit || config.PTT_ON_Command.size() > keying_command_limit ||
      config.PreambleLength < 0 || config.PreambleLength > 10000 || config.KISS_Port < 1 ||
      config.KISS_Port > 65535) {
    __builtin_trap();
  }
  return 0;
}
