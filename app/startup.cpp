#include "app/startup.hpp"

#include <system_error>
#include <thread>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "gui/gui_server.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "radio/receive.hpp"

Socket tx_socket;
Ipv4Endpoint tx_destination;

namespace {

// Paths are kept below this length, as the folder and file paths always were.
constexpr size_t path_limit = 1023;
constexpr int rigctld_connect_timeout_ms = 2000;

}  // namespace

std::optional<std::string> profile_directory() {
  // An empty value names no folder: it would put the profile at the root.
  for (const char* name : {"USERPROFILE", "HOME"}) {
    if (auto profile = env_var(name); profile && !profile->empty()) return profile;
  }
  return std::nullopt;
}

void load_configuration(const std::optional<std::string>& profile) {
  if (!profile) {
    console_log("Neither USERPROFILE nor HOME is set; using the built-in settings\n");
    return;
  }
  const std::string folder = *profile + "/Kestrelis";
  const std::string file = folder + "/config.ini";
  if (file.size() > path_limit) {
    console_log("Profile path is longer than %zu characters; using the built-in settings\n",
                path_limit);
    return;
  }
  if (!path_exists(folder)) {
    console_text("Created Kestrelis folder in Home directory.");
    if (int error = make_directory(folder); error != 0) {
      console_log("Cannot create folder %s: %s\n", folder.c_str(), error_text(error).c_str());
    }
  }
  if (!path_exists(file)) {
    console_log("Created default configuration file in %s \n", folder.c_str());
    if (int error = write_text_file(file, default_config_text()); error != 0) {
      console_log("Cannot write %s: %s\n", file.c_str(), error_text(error).c_str());
    }
  }
  if (load_config(file, tnc_config) < 0) console_text("Can't load 'config.ini'\n");
  check_config_ranges(tnc_config);
}

void check_rigctld() {
  if (tnc_config.Address.empty()) return;
  console_log("Communication check with rigctld.. \n");
  NetResult result =
      tcp_connect(tnc_config.Address.c_str(), tnc_config.Port.c_str(), rigctld_connect_timeout_ms);
  switch (result.failed_at) {
    case NetStep::none:
      result.socket.close();
      console_log("Rigctld OK!\n");
      break;
    case NetStep::resolve:
      console_print("getaddrinfo failed with error: %d\n", result.error);
      break;
    case NetStep::socket:
      console_print("socket failed with error: %ld\n", static_cast<long>(result.error));
      break;
    default:
      console_log("Could not connect to HamLib RIG Control Daemon. Start it first!\n");
      break;
  }
}

void prepare_transmit_socket() {
  tx_socket = udp_open();
  if (!tx_socket.valid()) verbose_log(5, "Could not create socket : %d", last_socket_error());
  tx_destination.address = 0x7F000001;  // 127.0.0.1
  tx_destination.port = static_cast<uint16_t>(tnc_config.GR_TransmitPort);
}

namespace {

// A thread that cannot be started (the system is out of threads or memory)
// is reported, and the TNC runs on with the other.
void start_worker(void (*routine)(), const char* name) {
  try {
    std::thread(routine).detach();
  } catch (const std::system_error& error) {
    console_log("Could not start the %s thread: %s\n", name, error.code().message().c_str());
  }
}

}  // namespace

void run_startup() {
  load_configuration(profile_directory());
  check_rigctld();
  prepare_transmit_socket();
  // Until here Ctrl-C ends the process at once, even in a start-up step that
  // blocks; from here on the main thread takes the signals so that it can
  // unkey first.
  block_termination_signals();
  start_worker(gui_server_thread, "GUI");
  start_worker(receive_thread, "receive");
}
