// kestrelis-forward: posts every packet of the TNC's packet log to the
// satellite team's server.

#include <cerrno>
#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "config/profile_paths.hpp"
#include "console/console_log.hpp"
#include "forward/forward_config.hpp"
#include "forward/forwarder.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

constexpr int usage_status = 2;

constexpr char usage[] =
    "Usage: kestrelis-forward [option]...\n"
    "Follows the TNC's packet log (Kestrelis/packets under $USERPROFILE or $HOME)\n"
    "and posts each packet to the satellite team's server named in the [forward]\n"
    "section of Kestrelis/config.ini, with the station's position (Latitude and\n"
    "Longitude, or Locator). Its place in the log is kept in Kestrelis/forward.state.\n"
    "Delivery is at least once: a restart loses no packet, but the one being posted\n"
    "when the forwarder was killed, or whose answer was lost, is posted again (the\n"
    "position can only be saved after the server has answered).\n"
    "A packet the server refuses (HTTP 400, 422, ...) is set aside in\n"
    "Kestrelis/forward-rejected.jsonl with the server's reason, and the next one sent.\n"
    "A redirect, 401, 403, 404 or 405 stops it with status 1: the settings are wrong.\n"
    "No answer, 408, 429 and 5xx are tried again, waiting longer each time.\n"
    "Runs until ended with Ctrl-C or SIGTERM.\n"
    "  --config FILE        read FILE instead of the profile's config.ini\n"
    "  --once               send what the log holds, then exit (status 3 when the\n"
    "                       server fails for the --give-up-s time)\n"
    "  --give-up-s N        with --once, give up after N s of failures (default 300)\n"
    "  --file FILE          post the packet-log lines of FILE instead (such as\n"
    "                       forward-rejected.jsonl once the cause is mended), its\n"
    "                       position in FILE.forward-state, refusals in\n"
    "                       FILE.rejected.jsonl; runs beside the live forwarder and\n"
    "                       posts every line again, whatever that one sent\n"
    "  --poll-ms N          look for new packets every N ms (default 1000)\n"
    "  --retry-ms N         first wait after a failed post (default 1000, doubling)\n"
    "  --retry-max-ms N     longest wait between posts (default 300000)\n"
    "  --timeout-ms N       time allowed for one post (default 30000)\n"
    "  --help               print this text\n"
    "  --version            print the version\n";

int forward(const std::optional<std::string>& config_file,
            const std::optional<std::string>& log_file, const ForwardOptions& options) {
  const Console console;
  const std::optional<std::string> profile = profile_directory();
  if (!profile) {
    console_log(console, "Neither USERPROFILE nor HOME is set: no packet log to forward\n");
    return 1;
  }
  const ProfilePaths profile_files = profile_paths(*profile);
  const std::string file = config_file.value_or(profile_files.config_file);
  errno = 0;
  const std::optional<ForwardConfig> config = load_forward_config(file);
  if (!config) {
    const int error = errno;
    console_log(console, "Can't load '%s': %s\n", file.c_str(),
                error != 0 ? error_text(error).c_str() : "not a regular file");
    // A --config that cannot be read is a mistake in the command, as in the
    // tools; the profile's own file missing is one in the settings.
    return config_file ? usage_status : 1;
  }
  for (const ConfigNote& note : config->notes) log_message(console, config_note_text(note));
  const std::vector<ForwardProblem> problems = forward_config_problems(*config);
  for (const ForwardProblem& problem : problems) {
    log_message(console, forward_problem_text(problem));
  }
  if (!problems.empty()) return 1;
  ForwardPaths paths{profile_files.packets, profile_files.forward_state,
                     profile_files.forward_rejected};
  if (log_file) {
    // A file of its own: its position, lock and refusals beside it, so that
    // it runs alongside the live forwarder and never appends to what it reads.
    const size_t slash = log_file->find_last_of("/\\");
    paths = {slash == std::string::npos ? "." : log_file->substr(0, slash),
             *log_file + ".forward-state", *log_file + ".rejected.jsonl",
             slash == std::string::npos ? *log_file : log_file->substr(slash + 1)};
    if (paths.file_name.empty()) {
      console_log(console, "--file %s names a folder, not a file\n", log_file->c_str());
      return usage_status;
    }
  }
  // Two forwarders on one log would each send every packet.
  FileLock lock;
  const std::string lock_path = log_file ? *log_file + ".forward-lock" : profile_files.forward_lock;
  if (const SysResult locked = lock_file(lock_path, lock); locked.error == EWOULDBLOCK) {
    console_log(console, "Another kestrelis-forward is forwarding this packet log (%s); stopping\n",
                lock_path.c_str());
    return 1;
  } else if (!locked.ok()) {
    console_log(console, "Cannot lock %s (%s); going on without the lock\n", lock_path.c_str(),
                error_text(locked).c_str());
  }
  block_termination_signals();
  return run_forwarder(*config, paths, options, console);
}

int run(int argc, char** argv) {
  const Console console;
  std::optional<std::string> config_file;
  std::optional<std::string> log_file;
  ForwardOptions options;
  CommandLine line = command_line(argc, argv);
  while (const std::optional<std::string_view> arg = next_word(line)) {
    if (*arg == "--help") {
      console_text(console, usage);
      return 0;
    }
    if (*arg == "--version") {
      console_text(console, "kestrelis-forward " KESTRELIS_VERSION "\n");
      return 0;
    }
    if (*arg == "--once") {
      options.once = true;
      continue;
    }
    if (const auto value = *arg == "--config" && !config_file ? option_value(line) : std::nullopt) {
      config_file = std::string(*value);
      continue;
    }
    if (const auto value = *arg == "--file" && !log_file ? option_value(line) : std::nullopt) {
      log_file = std::string(*value);
      continue;
    }
    const std::pair<std::string_view, int*> numbers[] = {
        {"--poll-ms", &options.poll_ms},           {"--retry-ms", &options.retry_first_ms},
        {"--retry-max-ms", &options.retry_max_ms}, {"--timeout-ms", &options.http.total_timeout_ms},
        {"--give-up-s", &options.give_up_s},
    };
    bool taken = false;
    for (const auto& [name, field] : numbers) {
      if (*arg != name) continue;
      const auto text = option_value(line);
      const auto value = text ? number_in(*text, 1, INT_MAX) : std::nullopt;
      if (value) *field = *value;
      taken = value.has_value();
    }
    if (taken) continue;
    console_text(console, "kestrelis-forward: unknown or incomplete option " + std::string(*arg) +
                              "\n" + usage);
    return usage_status;
  }
  options.http.connect_timeout_ms =
      std::min(options.http.connect_timeout_ms, options.http.total_timeout_ms);
  return forward(config_file, log_file, options);
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) { return kestrelis::run(argc, argv); }
