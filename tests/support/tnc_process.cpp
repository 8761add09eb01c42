#include "support/tnc_process.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/profile_paths.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"

namespace kestrelis {

namespace {

// Writes Kestrelis/config.ini with `config_text` under the profile folder
// `home`, making the Kestrelis folder. False when either step fails.
bool write_tnc_config(const std::string& home, const std::string& config_text) {
  const ProfilePaths paths = profile_paths(home);
  return (make_directory(paths.folder).ok() || is_directory(paths.folder)) &&
         write_text_file(paths.config_file, config_text).ok();
}

}  // namespace

std::vector<ChildEnv> tnc_environment(const std::string& home) {
  return {{"HOME", home}, {"USERPROFILE", std::nullopt}};
}

TncProfile::TncProfile(const std::string& config_text) {
  if (!config_text.empty()) (void)write_tnc_config(home(), config_text);
}

std::string TncPorts::ini(const std::string& modem_extra, const std::string& kiss_extra) const {
  return "[modem]\nGR_ReceivePort = " + std::to_string(modem) +
         "\nGR_TransmitPort = " + std::to_string(modem_tx) + "\n" + modem_extra +
         "[KISS]\nKISS_Port = " + std::to_string(kiss) + "\n" + kiss_extra;
}

ChildProcess start_tnc(const std::string& home, const std::vector<std::string>& args) {
  std::vector<std::string> argv{KESTRELIS_TNC_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return ChildProcess(argv, tnc_environment(home));
}

TncWithGui::TncWithGui(uint16_t rig_port, int key_up_ms, int key_down_ms, const std::string& more)
    : profile(tnc_config_for({.modem_in_port = free_udp_port(),
                              .modem_out_port = modem.port(),
                              .kiss_port = kiss_port,
                              .rig_port = rig_port,
                              .key_up_ms = key_up_ms,
                              .key_down_ms = key_down_ms,
                              .verbose_level = 2,
                              .call_from = "QQ0ABC",
                              .postamble = 20}) +
              more),
      tnc(start_tnc(profile.home())),
      gui(kiss_port, 5000) {}

std::string tnc_config_for(const TncSettings& s) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(s.modem_in_port) +
         "\nGR_TransmitPort = " + std::to_string(s.modem_out_port) +
         "\nVerboseLevel = " + std::to_string(s.verbose_level) +
         "\n[KISS]\nKISS_Port = " + std::to_string(s.kiss_port) +
         "\n[radio]\nCallFrom = " + s.call_from +
         "\nPreambleLength = 50\nPostambleLength = " + std::to_string(s.postamble) +
         "\n[rigctld]\nAddress = 127.0.0.1\nPort = " + std::to_string(s.rig_port) +
         "\nKeyUpDelay = " + std::to_string(s.key_up_ms) +
         "\nKeyDownDelay = " + std::to_string(s.key_down_ms) + "\n";
}

std::optional<TncRun> start_tnc_run(const TncSettings& settings) {
  std::optional<std::string> home = make_temp_directory("kestrelis-load-");
  if (!home) {
    std::fprintf(stderr, "kestrelis-load: cannot create a temporary folder\n");
    return std::nullopt;
  }
  TncRun run;
  run.home = *home;
  run.keep_log = !settings.log_path.empty();
  run.log_path = run.keep_log ? settings.log_path : path_join(run.home, "tnc.log");
  // A kept log is appended to: earlier runs' lines must not count for this one.
  run.log_start = log_mark(run);
  if (!write_tnc_config(run.home, tnc_config_for(settings))) {
    std::fprintf(stderr, "kestrelis-load: cannot write the TNC's config.ini in %s\n",
                 run.home.c_str());
    remove_tree(run.home);
    return std::nullopt;
  }
  std::vector<std::string> argv = settings.wrapper;
  argv.push_back(settings.program);
  ChildStreams streams;
  streams.log_path = run.log_path;
  const SpawnedChild child = spawn_child(argv, tnc_environment(run.home), streams);
  if (child.pid < 0) {
    std::fprintf(stderr, "kestrelis-load: cannot start %s\n", settings.program.c_str());
    remove_tree(run.home);
    return std::nullopt;
  }
  run.pid = child.pid;
  return run;
}

uint64_t log_mark(const TncRun& run) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(run.log_path, error);
  return error ? 0 : static_cast<uint64_t>(size);
}

std::string log_since(const TncRun& run, uint64_t from) {
  std::ifstream in(run.log_path, std::ios::binary);
  if (!in.seekg(static_cast<std::streamoff>(from))) return "";
  return {std::istreambuf_iterator<char>(in), {}};
}

bool wait_for_log(const TncRun& run, uint64_t from, std::string_view text, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  for (;;) {
    if (log_since(run, from).find(text) != std::string::npos) return true;
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(20);
  }
}

std::vector<uint64_t> count_log_lines(const TncRun& run, uint64_t from,
                                      const std::vector<std::string_view>& texts) {
  std::vector<uint64_t> counts(texts.size(), 0);
  std::ifstream in(run.log_path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from));
  // A last line without its line end is still being written: it is left out.
  for (std::string line; std::getline(in, line) && !in.eof();) {
    for (size_t i = 0; i < texts.size(); ++i) counts[i] += line.find(texts[i]) != line.npos;
  }
  return counts;
}

void end_tnc_run(TncRun& run, int timeout_ms) {
  if (run.pid > 0 && !run.exit_status) {
    (void)terminate_child(run.pid);
    run.exit_status = wait_child(run.pid, timeout_ms);
    if (!run.exit_status) {
      (void)kill_child(run.pid);
      run.exit_status = wait_child(run.pid, timeout_ms);
    }
  }
  remove_tree(run.home);
}

}  // namespace kestrelis
