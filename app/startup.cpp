#include "app/startup.hpp"

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/downlink.hpp"
#include "app/uplink.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

namespace {

// Paths are kept below this length, as the folder and file paths always were.
constexpr size_t path_limit = 1023;
constexpr int rigctld_connect_timeout_ms = 2000;

// A thread that cannot be started (the system is out of threads or memory)
// is reported, and the TNC runs on with the other.
void start_worker(Station& station, void (*routine)(Station&), const char* name) {
  try {
    std::thread(routine, std::ref(station)).detach();
  } catch (const std::system_error& error) {
    console_log(station.console, "Could not start the %s thread: %s\n", name,
                error.code().message().c_str());
  }
}

// Prints the notes of a loaded file: what was read around, then each value replaced.
TncConfig noted_config(const Console& console, TncConfig config,
                       const std::vector<ConfigNote>& notes) {
  for (const ConfigNote& note : notes) log_message(console, config_note_text(note));
  return config;
}

}  // namespace

TncConfig load_configuration(const Console& console, const std::optional<std::string>& profile) {
  const TncConfig config;
  if (!profile) {
    console_log(console, "Neither USERPROFILE nor HOME is set; using the built-in settings\n");
    return config;
  }
  const ProfilePaths paths = profile_paths(*profile);
  const std::string& folder = paths.folder;
  const std::string& file = paths.config_file;
  if (file.size() > path_limit) {
    console_log(console,
                "Profile path is longer than %zu characters; using the built-in settings\n",
                path_limit);
    return config;
  }
  if (!path_exists(folder)) {
    console_text(console, "Created Kestrelis folder in Home directory.");
    if (const SysResult made = make_directory(folder); !made.ok()) {
      console_log(console, "Cannot create folder %s: %s\n", folder.c_str(),
                  error_text(made).c_str());
    }
  }
  if (!path_exists(file)) {
    console_log(console, "Created default configuration file in %s \n", folder.c_str());
    if (const SysResult written = write_text_file(file, default_config_text()); !written.ok()) {
      console_log(console, "Cannot write %s: %s\n", file.c_str(), error_text(written).c_str());
    }
  }
  TncConfig loaded;
  std::vector<ConfigNote> notes;
  if (load_config(file, loaded, &notes) < 0) console_text(console, "Can't load 'config.ini'\n");
  return noted_config(console, std::move(loaded), notes);
}

std::optional<TncConfig> load_configuration_file(const Console& console, const std::string& file) {
  TncConfig config;
  std::vector<ConfigNote> notes;
  if (load_config(file, config, &notes) < 0) {
    const int error = errno;
    console_text(console, "Can't load '" + file + "': " +
                              (error != 0 ? error_text(error) : "not a regular file") + "\n");
    return std::nullopt;
  }
  return noted_config(console, std::move(config), notes);
}

std::optional<TncConfig> load_startup_configuration(const Console& console,
                                                    const std::optional<std::string>& config_file,
                                                    const std::optional<std::string>& profile) {
  if (config_file) return load_configuration_file(console, *config_file);
  return load_configuration(console, profile);
}

void check_rigctld(const TncConfig& config, const Console& console) {
  if (config.Address.empty()) {
    console_log(console, "No rigctld Address in config.ini: the transmitter is not keyed\n");
    return;
  }
  console_log(console, "Communication check with rigctld.. \n");
  NetResult result =
      tcp_connect(config.Address.c_str(), config.Port.c_str(), rigctld_connect_timeout_ms);
  switch (result.status.failed_at) {
    case SysStep::none:
      result.socket.close();
      console_log(console, "Rigctld OK!\n");
      break;
    case SysStep::resolve:
      console_print(console, "getaddrinfo failed with error: %d\n", result.status.error);
      break;
    case SysStep::socket:
      console_print(console, "socket failed with error: %ld\n",
                    static_cast<long>(result.status.error));
      break;
    default:
      console_log(console, "Could not connect to HamLib RIG Control Daemon. Start it first!\n");
      console_log(console, "rigctld looked for at %s port %s: %s\n", config.Address.c_str(),
                  config.Port.c_str(), error_text(result.status).c_str());
      break;
  }
}

void start_station(Station& station, const std::optional<std::string>& profile) {
  open_transmit_socket(station.transmitter);
  // Until here Ctrl-C ends the process at once, even in a start-up step that
  // blocks; from here on the main thread takes the signals so that it can
  // unkey first.
  block_termination_signals();
  // After the signals are blocked: the writer threads inherit the mask, so
  // that a SIGTERM always reaches the main thread, which unkeys first.
  start_archive(station.archive, station.config, profile, station.console,
                station.statistics.packets_not_logged);
  start_worker(station, gui_server_thread, "GUI");
  start_worker(station, receive_thread, "receive");
}

}  // namespace kestrelis
