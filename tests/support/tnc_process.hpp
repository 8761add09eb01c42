#pragma once
// The real kestrelis-tnc in a temporary profile folder, for the tests and the
// load tool: the config.ini it reads, and the TNC started in it, either with
// its console captured by a ChildProcess (tests) or written to a log file that
// is read back (the load tool, whose runs print much).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/loopback.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"

namespace kestrelis {

// A profile folder holding Kestrelis/config.ini with `config_text`, or no
// Kestrelis folder at all when `config_text` is empty.
class TncProfile {
 public:
  explicit TncProfile(const std::string& config_text = "");
  const std::string& home() const { return dir_.path(); }
  std::string folder() const { return dir_.path() + "/Kestrelis"; }
  std::string config_path() const { return folder() + "/config.ini"; }

 private:
  TempDir dir_;
};

// All three ports of a TNC on ports that were free a moment ago, so that tests
// can run side by side.
struct TncPorts {
  uint16_t modem = free_udp_port();  // GR_ReceivePort
  uint16_t modem_tx = free_udp_port();
  uint16_t kiss = free_tcp_port();
  // The "[modem]" and "[KISS]" sections that name them, each with its extra lines.
  std::string ini(const std::string& modem_extra = "", const std::string& kiss_extra = "") const;
};

// The environment of a program whose profile folder is `home`: HOME set to
// it, USERPROFILE removed.
[[nodiscard]] std::vector<ChildEnv> tnc_environment(const std::string& home);

// Starts kestrelis-tnc with the environment of tnc_environment(home).
ChildProcess start_tnc(const std::string& home, const std::vector<std::string>& args = {});

// A TNC on ports of its own (tnc_config_for: VerboseLevel 2, CallFrom QQ0ABC,
// postamble 20; `more` lines after it), keying through rigctld at `rig_port`,
// its modem a listener, with a GUI connected.
struct TncWithGui {
  TncWithGui(uint16_t rig_port, int key_up_ms, int key_down_ms = 0, const std::string& more = "");
  ModemListener modem;
  uint16_t kiss_port = free_tcp_port();
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

// What a TNC run of the load tool is set up with.
struct TncSettings {
  std::string program{};               // path of kestrelis-tnc
  std::vector<std::string> wrapper{};  // words put before it, e.g. valgrind and its options
  uint16_t modem_in_port = 0;          // GR_ReceivePort
  uint16_t modem_out_port = 0;         // GR_TransmitPort
  uint16_t kiss_port = 0;
  uint16_t rig_port = 0;
  int key_up_ms = 100;
  int key_down_ms = 100;
  int verbose_level = 1;
  std::string call_from = "QQ0LOD";
  int postamble = 0;
  std::string log_path{};  // empty: a file in the temporary HOME, removed at the end
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

// Creates the HOME, writes Kestrelis/config.ini and starts the TNC with its
// console to the log. None, with a line on standard error, when any step fails.
[[nodiscard]] std::optional<TncRun> start_tnc_run(const TncSettings& settings);

// The size of the log so far: a mark to search from.
uint64_t log_mark(const TncRun& run);

// The log from byte `from` to its current end.
std::string log_since(const TncRun& run, uint64_t from);

// Waits until the log after `from` holds `text`. True when it does.
[[nodiscard]] bool wait_for_log(const TncRun& run, uint64_t from, std::string_view text,
                                int timeout_ms);

// Counts the lines after `from` that hold each of `texts`, reading the log a
// line at a time (it may be large).
std::vector<uint64_t> count_log_lines(const TncRun& run, uint64_t from,
                                      const std::vector<std::string_view>& texts);

// Sends SIGTERM and reaps the TNC within `timeout_ms`, SIGKILL after that;
// removes the HOME (and the log unless it is kept).
void end_tnc_run(TncRun& run, int timeout_ms);

}  // namespace kestrelis
