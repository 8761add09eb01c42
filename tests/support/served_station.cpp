#include "support/served_station.hpp"

#include <chrono>

#include "app/uplink.hpp"

namespace kestrelis {

ServedStation::ServedStation(int max_clients, int key_up_ms)
    : station({.GR_TransmitPort = modem_.port(),
               .PreambleLength = 4,
               .VerboseLevel = 4,
               .CallFrom = "QQ0ABC",
               .KeyUpDelay = std::chrono::milliseconds(key_up_ms),
               .MaxClients = max_clients},
              Console{.sink = lines_.sink()}),
      listener_(tcp_listen("127.0.0.1", 0).socket) {
  open_transmit_socket(station.transmitter);
  serve_thread_ = std::thread([this] { station.gui.serve(listener_.fd()); });
  uplink_thread_ = std::thread([this] { uplink_thread(station); });
}

ServedStation::~ServedStation() {
  station.gui.stop();
  serve_thread_.join();
  uplink_thread_.join();
}

}  // namespace kestrelis
