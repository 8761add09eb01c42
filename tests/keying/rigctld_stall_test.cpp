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
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/loopback.hpp"
#include "support/rigctld_peer.hpp"
#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRELIS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTRELIS_SANITIZED 1
#endif
#endif

namespace kestrelis {

namespace {

constexpr char rigctld_path[] = "/usr/bin/rigctld";
constexpr int key_up_ms = 400;
constexpr int key_down_ms = 400;
constexpr size_t frame_bytes = 60;  // 400 ms on the air
constexpr int64_t answer_timeout_ns = 1'000'000'000;
constexpr int parallel_runs = 12;

// When rigctld is stopped, from the start of the transmission: in the middle of
// each of its waits (-1: before the on command).
struct Moment {
  const char* name;
  int stop_after_ms;
};
constexpr Moment moments[] = {{"before the on command", -1},
                              {"during key-up", key_up_ms / 2},
                              {"during the air time", key_up_ms + 200},
                              {"during key-down", key_up_ms + 400 + key_down_ms / 2}};

struct StallResult {
  std::string ptt_settled;                      // PTT once the account settled (or gave up waiting)
  std::string ptt_after_exit;                   // PTT after the exit path and the keyer are gone
  bool settled = false;                         // the account ended not keyed before the exit
  bool exit_unkeyed = false;                    // the exit path said the transmitter is unkeyed
  std::vector<std::string> claims_while_keyed;  // "unkeyed" lines printed while PTT read 1
  std::string console;
};

StallResult run_stall(const Moment& moment) {
  StallResult result;
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
  TransmitSettings config{.rigctld = {.PTT_ON_Command = "T 1", .PPT_OFF_Command = "T 0"}};
  config.rigctld.Address = "127.0.0.1";
  config.rigctld.Port = std::to_string(port);
  config.GR_TransmitPort = modem.port();
  config.PreambleLength = 0;
  config.PostambleLength = 0;
  config.KeyUpDelay = std::chrono::milliseconds(key_up_ms);
  config.KeyDownDelay = std::chrono::milliseconds(key_down_ms);
  std::mutex mutex;
  // Each "unkeyed" is checked against rigctld as it is printed.
  const Console console{1, [&](std::string_view text) {
                          const bool claim = text.find("unkeyed") != std::string_view::npos;
                          const std::string reading = claim ? ptt() : "";
                          std::lock_guard lock(mutex);
                          result.console += text;
                          if (claim && reading != "0") result.claims_while_keyed.emplace_back(text);
                        }};
  {
    Transmitter transmitter(config, console, answer_timeout_ns);
    open_transmit_socket(transmitter);
    std::atomic<bool> stop{false};
    std::thread main_thread([&] {
      while (!stop) {
        for (int i = 0; i < 50 && !stop; ++i) sleep_ms(20);
        if (!stop) transmitter.keyer.retry_unkey();
      }
    });
    if (moment.stop_after_ms < 0) kill(rig.pid(), SIGSTOP);
    std::thread transmission(
        [&] { (void)transmit_frame(transmitter, std::vector<uint8_t>(frame_bytes, 0x42)); });
    if (moment.stop_after_ms >= 0) {
      sleep_ms(moment.stop_after_ms);
      kill(rig.pid(), SIGSTOP);
    }
    transmission.join();  // both commands given up on
    sleep_ms(1500);       // retries while rigctld is stopped
    kill(rig.pid(), SIGCONT);
    for (int i = 0; i < 200 && possibly_keyed(transmitter.keyer.account()); ++i) sleep_ms(50);
    result.settled = !possibly_keyed(transmitter.keyer.account());
    result.ptt_settled = ptt();
    stop = true;
    main_thread.join();
    result.exit_unkeyed = transmitter.keyer.unkey_for_exit();
  }
  sleep_ms(1000);  // anything rigctld still held has run
  result.ptt_after_exit = ptt();
  (void)rig.stop(SIGTERM, 2000);
  return result;
}

int runs_per_moment() {
  const char* runs = std::getenv("KESTRELIS_STALL_RUNS");
  const int n = runs ? std::atoi(runs) : 3;
  return n > 0 ? n : 3;
}

TEST(RigctldStall, TheTransmitterEndsUnkeyedWhereverTheDaemonStalls) {
#ifdef KESTRELIS_SANITIZED
  GTEST_SKIP() << "timing against the real rigctld: not under a sanitizer";
#endif
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  std::vector<Moment> runs;
  for (int i = 0; i < runs_per_moment(); ++i) runs.insert(runs.end(), moments, moments + 4);
  for (size_t first = 0; first < runs.size(); first += parallel_runs) {
    const size_t count = std::min<size_t>(parallel_runs, runs.size() - first);
    std::vector<StallResult> results(count);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
      threads.emplace_back([&, i] { results[i] = run_stall(runs[first + i]); });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < count; ++i) {
      const StallResult& r = results[i];
      SCOPED_TRACE(std::string(runs[first + i].name) + ", run " + std::to_string(first + i) + "\n" +
                   r.console);
      EXPECT_EQ(r.ptt_settled, "0");
      EXPECT_EQ(r.ptt_after_exit, "0");
      EXPECT_TRUE(r.settled);
      EXPECT_TRUE(r.exit_unkeyed);
      EXPECT_TRUE(r.claims_while_keyed.empty());
      std::printf("rigctld stalled %s: PTT %s when settled, %s after the exit\n",
                  runs[first + i].name, r.ptt_settled.c_str(), r.ptt_after_exit.c_str());
    }
  }
}

}  // namespace

}  // namespace kestrelis
