// The real rigctld (dummy rig, PTT through the rig) stopped with SIGSTOP at
// one moment of a transmission and resumed once the transmission has given up
// on its commands: the transmitter must end unkeyed, stay unkeyed once the
// keyer is gone, and "unkeyed" must never be said while rigctld says keyed.
// Runs a transmission in process with a 1 s answer bound and the main
// thread's once-a-second retry. KESTRELIS_STALL_RUNS sets the runs per moment
// (3; `make soak-keying` runs more).

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "support/loopback.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"

namespace kestrelis {

namespace {

constexpr char rigctld_path[] = "/usr/bin/rigctld";
constexpr int key_up_ms = 400;
constexpr int key_down_ms = 400;
constexpr int parallel_runs = 12;

// When rigctld is stopped, from the start of the transmission: in the middle of
// each of its waits (-1: before the on command).
constexpr std::pair<const char*, int> moments[] = {
    {"before the on command", -1},
    {"during key-up", key_up_ms / 2},
    {"during the air time", key_up_ms + 200},
    {"during key-down", key_up_ms + 400 + key_down_ms / 2}};

// A run's end as text: whether the account settled before the exit and PTT
// then, whether the exit path said unkeyed, PTT once the keyer is gone, and
// each "unkeyed" line printed while PTT did not read 0.
struct StallResult {
  std::string outcome;
  std::string console;  // after the moment's name
};

StallResult run_stall(const std::pair<const char*, int>& moment) {
  const auto [name, stop_after_ms] = moment;
  StallResult result{"", std::string(name) + "\n"};
  const uint16_t port = free_tcp_port();
  ChildProcess rig(
      {rigctld_path, "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", std::to_string(port)}, {});
  // A daemon working off its queue may take a while to answer.
  const auto ptt = [port] {
    std::string reading;
    for (int i = 0; i < 5 && reading.empty(); ++i) reading = query_rigctld_ptt(port, 2000);
    return reading;
  };
  for (int i = 0; i < 100 && ptt().empty(); ++i) sleep_ms(20);

  ModemListener modem;
  const TransmitSettings config{.GR_TransmitPort = modem.port(),
                                .KeyUpDelay = std::chrono::milliseconds(key_up_ms),
                                .KeyDownDelay = std::chrono::milliseconds(key_down_ms),
                                .rigctld = {"127.0.0.1", std::to_string(port), "T 1", "T 0"}};
  std::mutex mutex;
  std::string claims;
  const Console console{1, [&](std::string_view text) {
                          const bool claim = text.find("unkeyed") != std::string_view::npos;
                          const std::string reading = claim ? ptt() : "";
                          std::lock_guard lock(mutex);
                          result.console += text;
                          if (claim && reading != "0") claims += ", keyed: " + std::string(text);
                        }};
  {
    Transmitter transmitter(config, console, 1'000'000'000);  // answers bounded to 1 s
    open_transmit_socket(transmitter);
    std::atomic<bool> stop{false};
    std::thread main_thread([&] {
      while (!stop) {
        for (int i = 0; i < 50 && !stop; ++i) sleep_ms(20);
        if (!stop) transmitter.keyer.retry_unkey();
      }
    });
    if (stop_after_ms < 0) kill(rig.pid(), SIGSTOP);
    // 400 ms on the air.
    std::thread transmission(
        [&] { (void)transmit_frame(transmitter, std::vector<uint8_t>(60, 0x42)); });
    if (stop_after_ms >= 0) {
      sleep_ms(stop_after_ms);
      kill(rig.pid(), SIGSTOP);
    }
    transmission.join();  // both commands given up on
    sleep_ms(1500);       // retries while rigctld is stopped
    kill(rig.pid(), SIGCONT);
    for (int i = 0; i < 200 && possibly_keyed(transmitter.keyer.account()); ++i) sleep_ms(50);
    result.outcome = possibly_keyed(transmitter.keyer.account()) ? "unsettled" : "settled";
    result.outcome += ", PTT " + ptt();
    stop = true;
    main_thread.join();
    result.outcome += transmitter.keyer.unkey_for_exit() ? ", exit unkeyed" : ", exit not unkeyed";
  }
  sleep_ms(1000);  // anything rigctld still held has run
  result.outcome += ", PTT " + ptt() + " after the exit" + claims;
  (void)rig.stop(SIGTERM, 2000);
  return result;
}

TEST(RigctldStall, TheTransmitterEndsUnkeyedWhereverTheDaemonStalls) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "timing against the real rigctld: not under a sanitizer";
#endif
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  const char* asked = std::getenv("KESTRELIS_STALL_RUNS");
  const int runs_per_moment = asked && std::atoi(asked) > 0 ? std::atoi(asked) : 3;
  const size_t runs = std::size(moments) * static_cast<size_t>(runs_per_moment);
  for (size_t first = 0; first < runs; first += parallel_runs) {
    const size_t count = std::min<size_t>(parallel_runs, runs - first);
    std::vector<StallResult> results(count);
    {
      std::vector<std::jthread> threads;
      for (size_t i = 0; i < count; ++i) {
        threads.emplace_back([&, i] { results[i] = run_stall(moments[(first + i) % 4]); });
      }
    }
    for (size_t i = 0; i < count; ++i) {
      SCOPED_TRACE("run " + std::to_string(first + i) + ", rigctld stopped " + results[i].console);
      EXPECT_EQ(results[i].outcome, "settled, PTT 0, exit unkeyed, PTT 0 after the exit");
    }
  }
}

}  // namespace

}  // namespace kestrelis
