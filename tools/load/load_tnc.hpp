#pragma once
// The real kestrelis-tnc under load: started in a temporary HOME with a
// config.ini on loopback ports, its console written to a log file that the
// tool reads back, ended by SIGTERM.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/child_process.hpp"

namespace kestrelis {

struct TncSettings {
  std::string program;               // path of kestrelis-tnc
  std::vector<std::string> wrapper;  // words put before it, e.g. valgrind and its options
  uint16_t modem_in_port = 0;        // GR_ReceivePort
  uint16_t modem_out_port = 0;       // GR_TransmitPort
  uint16_t kiss_port = 0;
  uint16_t rig_port = 0;
  int key_up_ms = 100;
  int key_down_ms = 100;
  int verbose_level = 1;
  std::string call_from = "QQ0LOD";
  int postamble = 0;
  std::string log_path;  // empty: a file in the temporary HOME, removed at the end
};

struct TncRun {
  std::string home;
  std::string log_path;
  bool keep_log = false;
  uint64_t log_start = 0;  // where this run's output begins in a log kept from earlier runs
  int pid = -1;
  std::optional<int> exit_status;  // once it has ended and been reaped
};

// The config.ini text for `settings`: rigctld on 127.0.0.1, preamble 50.
std::string tnc_config_for(const TncSettings& settings);

// Creates the HOME, writes Kestrelis/config.ini and starts the TNC. None, with
// a line on standard error, when any step fails.
[[nodiscard]] std::optional<TncRun> start_tnc_run(const TncSettings& settings);

// The size of the log so far: a mark to search from.
uint64_t log_mark(const TncRun& run);

// The log from byte `from` to its current end.
std::string log_since(const TncRun& run, uint64_t from);

// Waits until the log after `from` holds `text`. True when it does.
[[nodiscard]] bool wait_for_log(const TncRun& run, uint64_t from, std::string_view text,
                                int timeout_ms);

// Counts the lines after `from` that hold each of `texts`, reading the log in
// pieces (it may be large).
std::vector<uint64_t> count_log_lines(const TncRun& run, uint64_t from,
                                      const std::vector<std::string_view>& texts);

// Sends SIGTERM and reaps the TNC within `timeout_ms`, SIGKILL after that;
// removes the HOME (and the log unless it is kept).
void end_tnc_run(TncRun& run, int timeout_ms);

}  // namespace kestrelis
