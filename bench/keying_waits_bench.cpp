// How far the key-up, air-time and key-down waits of a transmission exceed
// their targets, over 20 transmissions through transmit_frame against a
// stand-in rigctld and modem on loopback. Counters are in milliseconds:
// *_median and *_worst per wait as measured around the wait itself, and the
// same seen from outside (rigctld connection to datagram, datagram to the off
// connection) as on_to_send_* and send_to_off_*.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config.hpp"
#include "console/console_log.hpp"
#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

constexpr int transmissions = 20;
constexpr int key_up_ms = 200;
constexpr int key_down_ms = 500;
constexpr size_t frame_size = 48;  // no preamble or postamble: 320 ms on the air

// Times stamped by the stand-ins: rigctld connections and modem datagrams.
struct Arrivals {
  std::mutex mutex;
  std::vector<int64_t> rig_ns;
  std::vector<int64_t> modem_ns;
};

void serve_rigctld(int listener, Arrivals& arrivals, const std::atomic<bool>& stop) {
  while (!stop) {
    if (!wait_readable(listener, 20)) continue;
    Socket peer = tcp_accept(listener);
    const int64_t accepted = monotonic_ns();
    std::array<uint8_t, 64> buffer{};
    while (wait_readable(peer.fd(), 1000) && stream_receive(peer.fd(), buffer) > 0) {
    }
    const uint8_t answer[] = {'R', 'P', 'R', 'T', ' ', '0', '\n'};
    (void)send_all(peer.fd(), answer);
    std::lock_guard lock(arrivals.mutex);
    arrivals.rig_ns.push_back(accepted);
  }
}

void serve_modem(int fd, Arrivals& arrivals, const std::atomic<bool>& stop) {
  std::vector<uint8_t> buffer(65536);
  while (!stop) {
    if (!wait_readable(fd, 20)) continue;
    const int64_t arrived = monotonic_ns();
    if (datagram_receive(fd, buffer) < 0) continue;
    std::lock_guard lock(arrivals.mutex);
    arrivals.modem_ns.push_back(arrived);
  }
}

void report(benchmark::State& state, const std::string& name, std::vector<double> over_ms) {
  std::sort(over_ms.begin(), over_ms.end());
  state.counters[name + "_median"] = over_ms[over_ms.size() / 2];
  state.counters[name + "_worst"] = over_ms.back();
}

void keying_waits(benchmark::State& state) {
  Socket rig = tcp_listen("127.0.0.1", 0).socket;
  Socket modem = udp_bind("127.0.0.1", 0, 0).socket;
  TransmitSettings config{.rigctld = {.PTT_ON_Command = "T 1", .PPT_OFF_Command = "T 0"}};
  config.rigctld.Address = "127.0.0.1";
  config.rigctld.Port = std::to_string(local_port(rig.fd()));
  config.GR_TransmitPort = local_port(modem.fd());
  config.PreambleLength = 0;
  config.PostambleLength = 0;
  config.KeyUpDelay = std::chrono::milliseconds(key_up_ms);
  config.KeyDownDelay = std::chrono::milliseconds(key_down_ms);
  const Console console;  // standard output: a keying failure shows beside the figures
  Transmitter transmitter(config, console);
  open_transmit_socket(transmitter);

  Arrivals arrivals;
  std::atomic<bool> stop{false};
  std::thread rig_thread(serve_rigctld, rig.fd(), std::ref(arrivals), std::cref(stop));
  std::thread modem_thread(serve_modem, modem.fd(), std::ref(arrivals), std::cref(stop));

  const std::vector<uint8_t> frame(frame_size, 0x55);
  std::array<std::vector<double>, 3> over_ms;
  for (auto _ : state) {
    const KeyingWaits waits = transmit_frame(transmitter, frame);
    for (size_t i = 0; i < 3; ++i) {
      over_ms[i].push_back(
          static_cast<double>(waits.lasted_ns[i] - waits.target_ms[i] * 1'000'000) / 1e6);
    }
  }
  sleep_ms(100);
  stop = true;
  rig_thread.join();
  modem_thread.join();

  report(state, "key_up", over_ms[0]);
  report(state, "air_time", over_ms[1]);
  report(state, "key_down", over_ms[2]);
  std::vector<double> on_to_send;
  std::vector<double> send_to_off;
  const double air_ms = static_cast<double>(air_time_ms(frame_size));
  for (size_t i = 0; i < arrivals.modem_ns.size() && 2 * i + 1 < arrivals.rig_ns.size(); ++i) {
    const double sent = static_cast<double>(arrivals.modem_ns[i]) / 1e6;
    on_to_send.push_back(sent - static_cast<double>(arrivals.rig_ns[2 * i]) / 1e6 - key_up_ms);
    send_to_off.push_back(static_cast<double>(arrivals.rig_ns[2 * i + 1]) / 1e6 - sent - air_ms -
                          key_down_ms);
  }
  if (!on_to_send.empty()) {
    report(state, "on_to_send", on_to_send);
    report(state, "send_to_off", send_to_off);
  }
}

}  // namespace

BENCHMARK(keying_waits)->Iterations(transmissions)->Unit(benchmark::kMillisecond);

}  // namespace kestrelis
