// kestrelis-forward: posts every packet of the TNC's packet log to the
// satellite team's server.

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "app/startup.hpp"
#include "console/console_log.hpp"
#include "forward/forward_config.hpp"
#include "forward/forwarder.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

namespace {

constexpr int usage_status = 2;

constexpr char usage[] =
    "Usage: kestrelis-forward [option]...\n"
    "Follows the TNC's packet log (Kestrelis/packets under $USERPROFILE or $HOME)\n"
    "and posts each packet to the satellite team's server named in the [forward]\n"
    "section of Kestrelis/config.ini. Its place in the log is kept in\n"
    "Kestrelis/forward.state, so that a restart neither loses nor repeats a packet.\n"
    "Runs until ended with Ctrl-C or SIGTERM.\n"
    "  --config FILE        read FILE instead of the profile's config.ini\n"
    "  --once               send what the log holds, then exit\n"
    "  --poll-ms N          look for new packets every N ms (default 1000)\n"
    "  --retry-ms N         first wait after a failed post (default 1000, doubling)\n"
    "  --retry-max-ms N     longest wait between posts (default 300000)\n"
    "  --timeout-ms N       time allowed for one post (default 30000)\n"
    "  --help               print this text\n"
    "  --version            print the version\n";

std::optional<int> positive_number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

int forward(const std::optional<std::string>& config_file, const ForwardOptions& options) {
  const Console console;
  const std::optional<std::string> profile = profile_directory();
  if (!profile) {
    console_log(console, "Neither USERPROFILE nor HOME is set: no packet log to forward\n");
    return 1;
  }
  const std::string folder = *profile + "/Kestrelis";
  const std::string file = config_file.value_or(folder + "/config.ini");
  const std::optional<ForwardConfig> config = load_forward_config(file);
  if (!config) {
    console_log(console, "Can't load '%s'\n", file.c_str());
    return 1;
  }
  for (const std::string& note : config->notes) log_message(console, note);
  const std::vector<std::string> problems = forward_config_problems(*config);
  for (const std::string& problem : problems) log_message(console, problem);
  if (!problems.empty()) return 1;
  // Two forwarders on one log would each send every packet.
  FileLock lock;
  const std::string lock_path = folder + "/forward.lock";
  if (const int error = lock_file(lock_path, lock); error == EWOULDBLOCK) {
    console_log(console, "Another kestrelis-forward is forwarding this packet log (%s); stopping\n",
                lock_path.c_str());
    return 1;
  } else if (error != 0) {
    console_log(console, "Cannot lock %s (%s); going on without the lock\n", lock_path.c_str(),
                error_text(error).c_str());
  }
  block_termination_signals();
  return run_forwarder(*config, {folder + "/packets", folder + "/forward.state"}, options, console);
}

int run(int argc, char** argv) {
  const Console console;
  std::optional<std::string> config_file;
  ForwardOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      console_text(console, usage);
      return 0;
    }
    if (arg == "--version") {
      console_text(console, "kestrelis-forward " KESTRELIS_VERSION "\n");
      return 0;
    }
    if (arg == "--once") {
      options.once = true;
      continue;
    }
    if (arg == "--config" && i + 1 < argc && !config_file) {
      config_file = argv[++i];
      continue;
    }
    const std::pair<std::string_view, int*> numbers[] = {
        {"--poll-ms", &options.poll_ms},
        {"--retry-ms", &options.retry_first_ms},
        {"--retry-max-ms", &options.retry_max_ms},
        {"--timeout-ms", &options.http.total_timeout_ms},
    };
    bool taken = false;
    for (const auto& [name, field] : numbers) {
      if (arg != name || i + 1 >= argc) continue;
      const std::optional<int> value = positive_number(argv[i + 1]);
      if (!value) break;
      *field = *value;
      ++i;
      taken = true;
    }
    if (taken) continue;
    console_text(console, "kestrelis-forward: unknown or incomplete option " + std::string(arg) +
                              "\n" + usage);
    return usage_status;
  }
  options.http.connect_timeout_ms =
      std::min(options.http.connect_timeout_ms, options.http.total_timeout_ms);
  return forward(config_file, options);
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) { return kestrelis::run(argc, argv); }
