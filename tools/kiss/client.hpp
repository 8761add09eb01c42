#pragma once
// The terminal KISS client: connects to the TNC's GUI port, shows what the
// TNC sends (see kiss/display.hpp) and sends each line typed on standard
// input, or given with --send, as one KISS frame. The records it shows are
// kept by the TNC itself, in its packet log.
//
// Its own lines:
//   LINK connected to 127.0.0.1:53013
//   LINK no TNC at 127.0.0.1:53013 (Connection refused); retrying every second
//   LINK connection to 127.0.0.1:53013 closed by the TNC; reconnecting every second
//   QUEUED cmd:list (sent when the TNC is reachable)
//   SENT cmd:list
//   NOT SENT 250 bytes: the TNC takes lines of at most 199 bytes

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

struct ClientOptions {
  std::string host = "127.0.0.1";
  std::string port = "53013";  // the TNC's KISS_Port
  std::vector<std::string> send_lines;
  bool read_stdin = true;
  std::optional<int64_t> exit_after_ms;
};

struct ClientArgs {
  ClientOptions options;
  bool port_given = false;  // else client_command takes KISS_Port from the TNC's config.ini
  std::optional<std::string> config_file;  // that config.ini, when not the profile's
  bool help = false;
  bool version = false;
  std::string error;  // what is wrong with the arguments; empty when nothing
};

// Reads the options of the client (the arguments after the program name).
[[nodiscard]] ClientArgs parse_client_args(std::span<const std::string_view> args);

// The text of --help.
extern const char* const kiss_client_usage;

// Cuts standard input into lines.
struct LineSplitter {
  std::string partial;
};

// Appends `bytes` and returns each line completed by them, without its "\n"
// or "\r\n".
[[nodiscard]] std::vector<std::string> split_input_lines(LineSplitter& s,
                                                         std::span<const uint8_t> bytes);

// Why `line` cannot be sent to the TNC ("" when it can): an empty line is
// not sent, and the TNC takes at most 199 data bytes in a frame.
[[nodiscard]] std::string line_refusal(std::string_view line);

// Runs the client until --exit-after expires, or standard input ends with
// every line sent (when --exit-after is not given). Returns the exit status:
// 0, or 1 when lines were left unsent.
[[nodiscard]] int run_client(const ClientOptions& options);

// The client with its arguments; prints help or argument errors. Returns the
// exit status (2 for wrong arguments).
[[nodiscard]] int client_command(std::span<const std::string_view> args);

}  // namespace kestrelis
