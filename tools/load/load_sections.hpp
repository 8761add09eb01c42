#pragma once
// The sections of the load run, each against one running TNC, and the report
// they write: one line per figure on standard output, progress on standard
// error.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/rigctld_peer.hpp"
#include "load/load_peers.hpp"
#include "support/tnc_process.hpp"
#include "platform/net.hpp"

namespace kestrelis {

struct LoadOptions {
  std::string tnc_path;
  std::vector<std::string> wrapper;
  std::string sections = "abcd";
  bool quick = false;
  uint64_t noise_bits = 1'000'000'000;
  int churn_cycles = 1000;
  uint64_t seed = 1;
  std::string log_path;
  std::string rigctld_path = "/usr/bin/rigctld";  // "none": skip the real daemon
};

// The run's verdict: every check that failed, by name.
struct Report {
  std::vector<std::string> failed;
};

// Prints one report line.
[[gnu::format(printf, 1, 2)]] void report_line(const char* format, ...);

// Prints one report line that states a check; a failed check is marked and counted.
[[gnu::format(printf, 3, 4)]] void report_check(Report& report, bool ok, const char* format, ...);

// Prints a progress line on standard error.
[[gnu::format(printf, 1, 2)]] void progress(const char* format, ...);

// Everything the sections share: the TNC, its peers, the sequence numbers.
struct LoadRun {
  LoadOptions options;
  Report report;
  TncSettings settings;
  TncRun tnc;
  GuiTally tally;
  GuiClient gui;
  ModemSink modem;
  FakeRig rig;
  Socket udp;             // the modem's stream goes out here
  Ipv4Endpoint modem_in;  // 127.0.0.1:GR_ReceivePort
  std::atomic<uint32_t> next_seq{1};
};

// Sends `bytes` to GR_ReceivePort in datagrams of at most 2048 bytes.
void send_stream(LoadRun& run, std::span<const uint8_t> bytes);

// Waits until the TNC's UDP queue is empty and no numbered packet has come
// for 300 ms (at most `timeout_ms`).
void wait_until_quiet(LoadRun& run, int timeout_ms);

// (a) Frames at rising rates until the first loss.
void run_rate_section(LoadRun& run);

// (b) Random noise with frames planted at random bit offsets.
void run_noise_section(LoadRun& run);

// (c) GUI connect/disconnect cycles and abrupt ends while frames flow.
void run_churn_section(LoadRun& run);

// (d) rigctld faults during transmissions, and the real rigctld when present.
void run_rigctld_section(LoadRun& run);

}  // namespace kestrelis
