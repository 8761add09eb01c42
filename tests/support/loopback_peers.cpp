#include "support/loopback_peers.hpp"

#include <array>

#include "platform/clock.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

FakeRigctld::FakeRigctld(std::string answer, uint16_t port) {
  const RigMode mode = answer.empty()         ? RigMode::silent
                       : answer == "RPRT 0\n" ? RigMode::answering
                                              : RigMode::refusing;
  rig_.refusal = std::move(answer);
  listening_ = start_fake_rig(rig_, mode, port);
}

FakeRigctld::FakeRigctld(RigMode mode, uint16_t port)
    : listening_(start_fake_rig(rig_, mode, port)) {}

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
  for (;;) {
    NetResult r = tcp_connect("127.0.0.1", std::to_string(port).c_str(), 1000);
    if (r.status.ok()) socket_ = std::move(r.socket);
    if (socket_.valid() || monotonic_ms() >= deadline) return;
    sleep_ms(20);
  }
}

bool KissClient::send_frame(std::string_view data) {
  return send_raw(kiss_encode({reinterpret_cast<const uint8_t*>(data.data()), data.size()}));
}

bool KissClient::send_raw(std::span<const uint8_t> bytes) {
  return send_all(socket_.fd(), bytes).ok();
}

std::optional<std::string> KissReader::next(int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (taken_ == ready_.size() && !closed_) {
    const int64_t left = deadline - monotonic_ms();
    if (left < 0 || !wait_readable(fd_, static_cast<int>(left))) return std::nullopt;
    std::array<uint8_t, 4096> buffer{};
    const long n = stream_receive(fd_, buffer);
    if (n <= 0) {
      closed_ = true;
      break;
    }
    read_kiss_frames(deframer_, std::span(buffer).first(static_cast<size_t>(n)),
                     [this](std::span<const uint8_t> frame) {
                       std::string data(frame.begin(), frame.end());
                       if (data.size() >= 22 && data.starts_with("P[") && data[20] == ']') {
                         data = data.substr(22);
                       }
                       ready_.push_back(std::move(data));
                     });
  }
  if (taken_ == ready_.size()) return std::nullopt;
  return ready_[taken_++];
}

}  // namespace kestrelis
