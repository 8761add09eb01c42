#include "support/served_station.hpp"

#include <chrono>

#include "app/uplink.hpp"

namespace kestrelis {

namespace {

TncConfig served_config(uint16_t modem_port, int max_clients, int key_up_ms) {
  TncConfig c;
  c.GR_TransmitPort = modem_port;
  c.MaxClients = max_clients;
  c.KeyUpDelay = std::chrono::milliseconds(key_up_ms);
  c.CallFrom = "QQ0ABC";
  c.PreambleLength = 4;
  c.VerboseLevel = 4;
  return c;
}

}  // namespace

ServedStation::ServedStation(int max_clients, int key_up_ms)
    : station(served_config(modem_.port(), max_clients, key_up_ms), Console{.sink = lines_.sink()}),
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
