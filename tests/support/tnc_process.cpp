#include "support/tnc_process.hpp"

#include "platform/files.hpp"

namespace kestrelis {

TncProfile::TncProfile(const std::string& config_text) {
  if (config_text.empty()) return;
  (void)make_directory(folder());
  (void)write_text_file(config_path(), config_text);
}

std::string free_ports_config() {
  return "[modem]\nGR_ReceivePort = " + std::to_string(free_udp_port()) +
         "\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
         "\n[KISS]\nKISS_Port = " + std::to_string(free_tcp_port()) + "\n";
}

ChildProcess start_tnc(const std::string& home, const std::vector<std::string>& args) {
  std::vector<std::string> argv{KESTRELIS_TNC_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return ChildProcess(argv, {{"HOME", home}, {"USERPROFILE", std::nullopt}});
}

}  // namespace kestrelis
