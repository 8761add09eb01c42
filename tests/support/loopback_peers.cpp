#include "support/loopback_peers.hpp"

#include "platform/clock.hpp"
#include "support/process.hpp"

FakeRigctld::FakeRigctld(std::string answer, uint16_t port) : answer_(std::move(answer)) {
  listener_ = tcp_listen("127.0.0.1", port).socket;
  port_ = local_port(listener_.fd());
  thread_ = std::thread([this] { serve(); });
}

FakeRigctld::~FakeRigctld() {
  stop_ = true;
  thread_.join();
}

void FakeRigctld::serve() {
  while (!stop_) {
    if (!wait_readable(listener_.fd(), 20)) continue;
    Socket peer = tcp_accept(listener_.fd());
    RigCommand command{monotonic_ns(), {}};
    uint8_t buffer[128];
    while (wait_readable(peer.fd(), 2000)) {
      long n = stream_receive(peer.fd(), buffer);
      if (n <= 0) break;
      command.bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    if (!answer_.empty()) {
      (void)send_all(peer.fd(), {reinterpret_cast<const uint8_t*>(answer_.data()), answer_.size()});
    }
    std::lock_guard lock(mutex_);
    commands_.push_back(command);
  }
}

std::vector<RigCommand> FakeRigctld::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

bool FakeRigctld::wait_for_commands(size_t count, int timeout_ms) const {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (commands().size() < count) {
    if (monotonic_ms() > deadline) return false;
    sleep_ms(5);
  }
  return true;
}

ModemListener::ModemListener() {
  socket_ = udp_bind("127.0.0.1", 0, 0).socket;
  port_ = local_port(socket_.fd());
}

std::optional<Datagram> ModemListener::receive(int timeout_ms) {
  if (!wait_readable(socket_.fd(), timeout_ms)) return std::nullopt;
  Datagram d{monotonic_ns(), std::vector<uint8_t>(65536)};
  long n = datagram_receive(socket_.fd(), d.bytes);
  d.bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return d;
}

KissClient::KissClient(uint16_t port, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  const std::string service = std::to_string(port);
  while (!socket_.valid() && monotonic_ms() < deadline) {
    NetResult r = tcp_connect("127.0.0.1", service.c_str(), 1000);
    if (r.failed_at == NetStep::none) {
      socket_ = std::move(r.socket);
    } else {
      sleep_ms(20);
    }
  }
}

void KissClient::send_frame(std::string_view data) {
  send_raw(kiss_encode({reinterpret_cast<const uint8_t*>(data.data()), data.size()}));
}

void KissClient::send_raw(std::span<const uint8_t> bytes) { (void)send_all(socket_.fd(), bytes); }

std::string tnc_config_text(uint16_t kiss_port, uint16_t modem_port, uint16_t rig_port,
                            int key_up_ms, int key_down_ms) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(free_udp_port()) +
         "\nGR_TransmitPort = " + std::to_string(modem_port) +
         "\nVerboseLevel = 2\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) +
         "\n[radio]\nCallFrom = QQ0ABC\nPreambleLength = 50\nPostambleLength = 20\n"
         "[rigctld]\nAddress = 127.0.0.1\nPort = " +
         std::to_string(rig_port) + "\nKeyUpDelay = " + std::to_string(key_up_ms) +
         "\nKeyDownDelay = " + std::to_string(key_down_ms) + "\n";
}
