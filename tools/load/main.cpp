// kestrelis-load: drives the real kestrelis-tnc over loopback with load,
// faults and a long soak, playing its modem, GUI and rigctld, and prints a
// report with one figure per line. Exit status 0 when every check passed.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "load/load_sections.hpp"
#include "platform/clock.hpp"
#include "support/loopback.hpp"
#include "system/child_process.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

constexpr char usage[] =
    "Usage: kestrelis-load [options]\n"
    "Starts kestrelis-tnc on free loopback ports in a temporary HOME and plays its\n"
    "peers: (a) frames at rising rates until the first loss, (b) random noise with\n"
    "frames planted in it, (c) GUI churn and abrupt GUI ends while frames flow,\n"
    "(d) rigctld faults during transmissions. Prints one report line per figure.\n"
    "  --tnc PATH        the TNC (default: kestrelis-tnc beside this program or in\n"
    "                    the folder above it)\n"
    "  --sections LIST   letters of the sections to run (default abcd)\n"
    "  --quick           a short run of every section, for smoke tests\n"
    "  --bits N          noise bits in (b) (default 1e9; --quick 2e7)\n"
    "  --cycles N        GUI cycles in (c) (default 1000; --quick 100)\n"
    "  --seed N          seed of the noise and its planted frames (default 1)\n"
    "  --log FILE        append the TNC's console to FILE and keep it\n"
    "  --rigctld PATH    the real rigctld for (d), or none (default /usr/bin/rigctld)\n"
    "  --wrapper CMD     run the TNC under CMD, split at blanks (e.g. valgrind)\n"
    "Exit status: 0 all checks passed, 1 a check failed, 2 bad usage or no TNC.\n";

std::optional<uint64_t> parse_count(std::string_view text) {
  const std::optional<double> value = number_in(text, 1.0, 1e13);
  if (!value) return std::nullopt;
  return static_cast<uint64_t>(*value);
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

// Fills `options` from the command line; false after a usage line.
bool parse_options(int argc, char** argv, LoadOptions& options) {
  bool bits_given = false, cycles_given = false;
  CommandLine line = command_line(argc, argv);
  while (const std::optional<std::string_view> arg = next_word(line)) {
    if (*arg == "--quick") {
      options.quick = true;
      continue;
    }
    const std::optional<std::string_view> given = option_value(line);
    if (!given) {
      std::fprintf(stderr, "kestrelis-load: unknown option or missing value: %s\n%s",
                   std::string(*arg).c_str(), usage);
      return false;
    }
    const std::string_view value = *given;
    if (*arg == "--tnc") {
      options.tnc_path = value;
    } else if (*arg == "--sections" && value.find_first_not_of("abcd") == std::string_view::npos) {
      options.sections = value;
    } else if (*arg == "--bits" && parse_count(value)) {
      options.noise_bits = *parse_count(value);
      bits_given = true;
    } else if (*arg == "--cycles" && parse_count(value)) {
      options.churn_cycles = static_cast<int>(std::min<uint64_t>(*parse_count(value), 1'000'000));
      cycles_given = true;
    } else if (*arg == "--seed" && parse_count(value)) {
      options.seed = *parse_count(value);
    } else if (*arg == "--log") {
      options.log_path = value;
    } else if (*arg == "--rigctld") {
      options.rigctld_path = value;
    } else if (*arg == "--wrapper") {
      options.wrapper = split_words(value);
    } else {
      std::fprintf(stderr, "kestrelis-load: bad option: %s %s\n%s", std::string(*arg).c_str(),
                   std::string(value).c_str(), usage);
      return false;
    }
  }
  if (options.quick && !bits_given) options.noise_bits = 20'000'000;
  if (options.quick && !cycles_given) options.churn_cycles = 100;
  if (options.tnc_path.empty()) {
    // Beside this program, or one folder up, where the build puts it.
    const std::string here = executable_directory();
    options.tnc_path = here + "/kestrelis-tnc";
    if (!std::filesystem::exists(options.tnc_path)) {
      options.tnc_path = std::filesystem::path(here).parent_path() / "kestrelis-tnc";
    }
  }
  return true;
}

// Starts the peers and the TNC; false when any fails.
bool start_run(LoadRun& run) {
  if (!start_modem_sink(run.modem) || !start_fake_rig(run.rig)) {
    std::fprintf(stderr, "kestrelis-load: cannot open loopback sockets\n");
    return false;
  }
  TncSettings& s = run.settings;
  s.program = run.options.tnc_path;
  s.wrapper = run.options.wrapper;
  s.modem_in_port = free_udp_port();
  s.modem_out_port = run.modem.listener.port();
  s.kiss_port = free_tcp_port();
  s.rig_port = run.rig.port;
  s.log_path = run.options.log_path;
  run.udp = udp_open();
  run.modem_in = {0x7F000001, s.modem_in_port};
  std::optional<TncRun> tnc = start_tnc_run(s);
  if (!tnc) return false;
  run.tnc = *tnc;
  const int ready_ms = run.options.wrapper.empty() ? 10000 : 60000;
  const uint64_t from = run.tnc.log_start;
  if (!wait_for_log(run.tnc, from, "Waiting for GUI client", ready_ms) ||
      !wait_for_log(run.tnc, from, "Listening for GNURadio", ready_ms) ||
      !gui_connect(run.gui, s.kiss_port, run.tally, ready_ms) ||
      !wait_for_log(run.tnc, from, "GUI connected.", ready_ms)) {
    std::fprintf(stderr, "kestrelis-load: %s did not come up; its output:\n%s\n", s.program.c_str(),
                 log_since(run.tnc, from).c_str());
    return false;
  }
  return true;
}

void report_memory(LoadRun& run, const std::optional<ProcessStats>& start,
                   const std::optional<ProcessStats>& warm) {
  const auto end = process_stats(run.tnc.pid);
  if (!start || !end) {
    report_check(run.report, false, "memory: the TNC's /proc entries could not be read");
    return;
  }
  const long base = warm ? warm->rss_kb : start->rss_kb;
  report_check(run.report, end->rss_kb - base <= 1024,
               "memory: TNC resident set %ld kB after start-up, %ld kB after the first section, "
               "%ld kB at the end (growth after the first section %ld kB); peak %ld kB",
               start->rss_kb, warm ? warm->rss_kb : start->rss_kb, end->rss_kb, end->rss_kb - base,
               end->peak_rss_kb);
  report_line("cpu: TNC user+system time over the whole run %.2f s", end->cpu_seconds);
}

// Ends the TNC (SIGTERM, waiting up to `timeout_ms`) and stops every peer.
void end_run(LoadRun& run, int timeout_ms) {
  gui_disconnect(run.gui);
  end_tnc_run(run.tnc, timeout_ms);
  stop_fake_rig(run.rig);
  stop_modem_sink(run.modem);
}

// The TNC with a GUI connected and nothing to do must use next to no CPU.
void report_idle_cpu(LoadRun& run, int seconds) {
  wait_until_quiet(run, 10000);
  const auto before = process_stats(run.tnc.pid);
  sleep_ms(seconds * 1000);
  const auto after = process_stats(run.tnc.pid);
  if (!before || !after) return;
  const double used_ms = (after->cpu_seconds - before->cpu_seconds) * 1000;
  report_check(run.report, used_ms <= seconds * 10.0,
               "idle: TNC CPU %.0f ms over %d s with a GUI connected and nothing to do", used_ms,
               seconds);
}

}  // namespace

int load_command(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage, stdout);
    return 0;
  }
  LoadRun run;
  if (!parse_options(argc, argv, run.options)) return 2;
  const int64_t began = monotonic_ns();
  if (!start_run(run)) {
    end_run(run, 3000);
    return 2;
  }
  report_line("kestrelis-load report: %s (pid %d), sections %s%s, seed %llu",
              run.options.tnc_path.c_str(), run.tnc.pid, run.options.sections.c_str(),
              run.options.quick ? ", quick" : "",
              static_cast<unsigned long long>(run.options.seed));
  const auto start_stats = process_stats(run.tnc.pid);
  std::optional<ProcessStats> warm_stats;
  const std::pair<char, void (*)(LoadRun&)> sections[] = {{'a', run_rate_section},
                                                          {'b', run_noise_section},
                                                          {'c', run_churn_section},
                                                          {'d', run_rigctld_section}};
  for (const auto& [letter, section] : sections) {
    if (run.options.sections.find(letter) == std::string::npos) continue;
    progress("section (%c)", letter);
    section(run);
    if (!warm_stats) warm_stats = process_stats(run.tnc.pid);
  }
  {
    std::lock_guard lock(run.tally.mutex);
    report_check(run.report, run.tally.broken_packets == 0,
                 "corrupted numbered packets at the GUI over the run: %llu",
                 static_cast<unsigned long long>(run.tally.broken_packets));
  }
  report_idle_cpu(run, run.options.quick ? 2 : 5);
  report_memory(run, start_stats, warm_stats);
  end_run(run, 5000);
  report_check(
      run.report, run.tnc.exit_status && ended_by_sigterm(*run.tnc.exit_status),
      "TNC ended on SIGTERM: %s",
      run.tnc.exit_status ? describe_wait_status(*run.tnc.exit_status).c_str() : "did not end");
  report_line("run time: %.1f s", static_cast<double>(monotonic_ns() - began) / 1e9);
  if (run.report.failed.empty()) {
    report_line("result: every check passed");
    return 0;
  }
  report_line("result: %zu checks failed", run.report.failed.size());
  return 1;
}

}  // namespace kestrelis

int main(int argc, char** argv) { return kestrelis::load_command(argc, argv); }
