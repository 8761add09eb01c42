// (d) rigctld faults during transmissions: the transmitter must end unkeyed
// and the GUI thread free, whatever the daemon does.

#include <filesystem>

#include "load/load_sections.hpp"
#include "platform/clock.hpp"
#include "system/child_process.hpp"

namespace kestrelis {

namespace {

constexpr int transmit_timeout_ms = 15000;
constexpr std::string_view retry_started = "the transmitter may still be keyed";
constexpr std::string_view retry_done = "Transmitter unkeyed";

int probes = 0;

std::string request_text(int k) {
  return k % 2 == 0 ? "cmd:list"
                    : "QQ0LOD>QQ0XYZ, Kestrelis, STORE=0 load test " + std::to_string(k);
}

// Sends one request and waits for its datagram at the modem. True when it came.
bool transmit(LoadRun& run, const std::string& request) {
  const uint64_t datagrams = run.modem.datagrams;
  return gui_send_request(run.gui, request) &&
         wait_for_datagram(run.modem, datagrams, transmit_timeout_ms);
}

// Sends a request that transmits nothing and returns the seconds until the
// GUI thread handled it, or a negative value when it did not within 15 s.
double probe_gui_thread(LoadRun& run) {
  const std::string word = "probe" + std::to_string(++probes);
  const uint64_t mark = log_mark(run.tnc);
  const int64_t start = monotonic_ns();
  if (!gui_send_request(run.gui, "cmd:" + word)) return -1;
  if (!wait_for_log(run.tnc, mark, "Unknown command \"" + word + "\"", transmit_timeout_ms)) {
    return -1;
  }
  return static_cast<double>(monotonic_ns() - start) / 1e9;
}

void run_fault_mode(LoadRun& run, RigMode mode, int transmissions) {
  set_rig_mode(run.rig, mode);
  const RigState before = rig_state(run.rig);
  int sent = 0, keyed = 0;
  for (int k = 0; k < transmissions; ++k) {
    if (!transmit(run, request_text(k))) continue;
    ++sent;
    if (rig_state(run.rig).ptt) ++keyed;
  }
  const double free_after = probe_gui_thread(run);
  const RigState in_mode = rig_state(run.rig);
  set_rig_mode(run.rig, RigMode::answering);
  const bool recovered = transmit(run, "cmd:list") && rig_state(run.rig).ptt &&
                         wait_for_off_command(run.rig, rig_state(run.rig).off_commands, 5000);
  const bool ptt_end = rig_state(run.rig).ptt;
  const bool keying_expected = mode == RigMode::answering;
  progress("(d) rigctld %s done", rig_mode_name(mode));
  report_check(
      run.report,
      sent == transmissions && keyed == (keying_expected ? transmissions : 0) && free_after >= 0 &&
          !in_mode.ptt && recovered && !ptt_end,
      "(d) rigctld %s: %d of %d transmitted; commands it received: %llu on, %llu off; PTT on "
      "during %d; GUI thread free %.2f s after the last datagram; PTT %s; rigctld "
      "answering again: next transmission keyed and unkeyed: %s, PTT %s at the end",
      rig_mode_name(mode), sent, transmissions,
      static_cast<unsigned long long>(in_mode.on_commands - before.on_commands),
      static_cast<unsigned long long>(in_mode.off_commands - before.off_commands), keyed,
      free_after, in_mode.ptt ? "ON" : "off", recovered ? "yes" : "no", ptt_end ? "ON" : "off");
}

void run_vanish(LoadRun& run, double away_s) {
  set_rig_mode(run.rig, RigMode::vanish_after_on);
  const uint64_t mark = log_mark(run.tnc);
  const uint64_t offs = rig_state(run.rig).off_commands;
  const bool sent = transmit(run, "cmd:list");
  for (int i = 0; i < 500 && rig_mode(run.rig) != RigMode::closed; ++i) sleep_ms(10);
  const bool keyed_when_gone = rig_state(run.rig).ptt;
  const bool announced = wait_for_log(run.tnc, mark, retry_started, 5000);
  const double free_after = probe_gui_thread(run);
  sleep_ms(static_cast<int64_t>(away_s * 1000));
  const int64_t back_at = monotonic_ns();
  set_rig_mode(run.rig, RigMode::answering);
  const bool unkeyed = wait_for_off_command(run.rig, offs, 5000);
  const double unkey_s = static_cast<double>(rig_state(run.rig).ptt_changed_ns - back_at) / 1e9;
  const bool ptt_end = rig_state(run.rig).ptt;
  const bool recovered_line = wait_for_log(run.tnc, mark, retry_done, 2000);
  report_check(run.report,
               sent && keyed_when_gone && announced && free_after >= 0 && unkeyed && !ptt_end &&
                   recovered_line,
               "(d) rigctld vanishing mid-transmission (away %.1f s): PTT %s when it vanished; "
               "retry announced: %s; GUI thread free %.2f s after; off command delivered %.2f s "
               "after it came back; recovery line: %s; PTT %s at the end",
               away_s, keyed_when_gone ? "on" : "OFF", announced ? "yes" : "no", free_after,
               unkeyed ? unkey_s : -1.0, recovered_line ? "yes" : "no", ptt_end ? "ON" : "off");
}

// The real rigctld with a dummy rig on the same port: keyed during each
// transmission and unkeyed after it, also when it hangs (SIGSTOP) mid-way.
void run_real_rigctld(LoadRun& run, int transmissions) {
  const std::string& path = run.options.rigctld_path;
  if (path == "none" || !std::filesystem::exists(path)) {
    report_line("(d) real rigctld: not run (%s)", path == "none" ? "--rigctld none" : "not found");
    return;
  }
  set_rig_mode(run.rig, RigMode::closed);
  const uint16_t port = run.settings.rig_port;
  ChildStreams streams;
  streams.log_path = "/dev/null";
  const int pid =
      spawn_child({path, "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", std::to_string(port)}, {},
                  streams)
          .pid;
  bool up = false;
  for (int i = 0; pid > 0 && i < 50 && !up; ++i) {
    sleep_ms(100);
    up = query_rigctld_ptt(port, 1000) == "0";
  }
  if (!up) {
    if (pid > 0) {
      (void)kill_child(pid);
      (void)wait_child(pid, 2000);
    }
    set_rig_mode(run.rig, RigMode::answering);
    report_check(run.report, false, "(d) real rigctld: did not start at %s", path.c_str());
    return;
  }
  int keyed = 0, unkeyed = 0;
  for (int k = 0; k < transmissions; ++k) {
    if (!transmit(run, request_text(k))) continue;
    if (query_rigctld_ptt(port, 1000) == "1") ++keyed;
    if (probe_gui_thread(run) >= 0 && query_rigctld_ptt(port, 1000) == "0") ++unkeyed;
  }
  // Hung daemon: stopped right after keying, resumed once the transmission is over.
  const bool sent = transmit(run, "cmd:list");
  (void)pause_child(pid);
  const double free_after = probe_gui_thread(run);
  (void)resume_child(pid);
  sleep_ms(1000);
  const std::string ptt_after_hang = query_rigctld_ptt(port, 2000);
  (void)terminate_child(pid);
  (void)wait_child(pid, 3000);
  set_rig_mode(run.rig, RigMode::answering);
  report_check(run.report, keyed == transmissions && unkeyed == transmissions,
               "(d) real rigctld (dummy rig): PTT on during %d and off after %d of %d "
               "transmissions",
               keyed, unkeyed, transmissions);
  report_check(run.report, sent && free_after >= 0 && ptt_after_hang == "0",
               "(d) real rigctld hung (SIGSTOP) mid-transmission and resumed after it: GUI thread "
               "free %.2f s after; PTT %s at the end",
               free_after, ptt_after_hang.empty() ? "unknown" : ptt_after_hang.c_str());
}

}  // namespace

void run_rigctld_section(LoadRun& run) {
  const int transmissions = run.options.quick ? 1 : 3;
  // A transmission of an earlier section must be over before the counting starts.
  (void)probe_gui_thread(run);
  report_line(
      "(d) each transmission: cmd:list or a digipeater request, key-up %d ms, key-down "
      "%d ms, preamble 50 bytes",
      run.settings.key_up_ms, run.settings.key_down_ms);
  for (RigMode mode : {RigMode::answering, RigMode::closed, RigMode::unresponsive,
                       RigMode::refusing, RigMode::never_reading}) {
    run_fault_mode(run, mode, transmissions);
  }
  run_vanish(run, run.options.quick ? 1.5 : 3.5);
  run_real_rigctld(run, transmissions);
}

}  // namespace kestrelis
