#include "support/tnc_process.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

TncProfile::TncProfile(const std::string& config_text) {
  if (config_text.empty()) return;
  std::filesystem::create_directory(folder());
  std::ofstream(config_path(), std::ios::binary) << config_text;
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

long cpu_ticks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  // Fields after the command name, which is in parentheses and may hold blanks.
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; rest >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}
