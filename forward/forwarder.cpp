#include "forward/forwarder.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/packet_log.hpp"
#include "forward/forward_step.hpp"
#include "forward/log_position.hpp"
#include "forward/post_answer.hpp"
#include "forward/share_form.hpp"
#include "forward/station_position.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

namespace {

struct Forwarder {
  const ForwardConfig& config;
  const ForwardPaths& paths;
  const ForwardOptions& options;
  const Console& console;
  StationPosition position;
  ForwardState state;
  uint64_t sent = 0;
  uint64_t set_aside = 0;
  bool stopping = false;
  bool server_failing = false;
  bool save_failing = false;
};

// Waits up to `ms` for a termination signal, remembering one that came.
bool stop_requested(Forwarder& f, int ms) {
  if (!f.stopping && wait_for_termination_signal(ms)) f.stopping = true;
  return f.stopping;
}

std::string duration_text(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// Saved after every packet the server took (or that was skipped), so that a
// restart begins with the next one.
void save_position(Forwarder& f) {
  const SysResult saved =
      replace_file(f.paths.state_file, f.paths.file_name.empty()
                                           ? log_position_text(f.state.position)
                                           : std::to_string(f.state.position.offset) + "\n");
  if (!saved.ok() && !f.save_failing) {
    console_log(f.console, "Cannot save the position in %s: %s; a restart would send again\n",
                f.paths.state_file.c_str(), error_text(saved).c_str());
  } else if (saved.ok() && f.save_failing) {
    console_log(f.console, "Position saved in %s again\n", f.paths.state_file.c_str());
  }
  f.save_failing = !saved.ok();
}

int stopped(const Forwarder& f, int status = 0) {
  const LogPosition& next = f.state.position;
  const std::string aside =
      f.set_aside > 0 ? ", " + std::to_string(f.set_aside) + " set aside" : std::string();
  console_log(f.console, "Forwarder stopped: %llu packets sent%s; next is %s byte %llu\n",
              static_cast<unsigned long long>(f.sent), aside.c_str(),
              next.day_file.empty() ? "the first log file" : next.day_file.c_str(),
              static_cast<unsigned long long>(next.offset));
  return status;
}

std::string failure_text(const HttpAnswer& answer) {
  switch (answer.failure) {
    case HttpFailure::none: {
      const std::string reason = answer_reason(answer.body);
      return "answered HTTP " + std::to_string(answer.status) +
             (reason.empty() ? "" : " (" + reason + ")");
    }
    case HttpFailure::connect:
      return "not reached (" + answer.error + ")";
    case HttpFailure::timeout:
      return "did not answer in time (" + answer.error + ")";
    case HttpFailure::other:
      break;
  }
  return "failed (" + answer.error + ")";
}

enum class Delivery {
  done,         // delivered or set aside: go on with the next packet
  interrupted,  // a termination signal came: the packet stays next
  stop,         // the settings are wrong: the packet stays next, exit status 1
  give_up,      // with --once, the server failed too long: exit status 3
};

// Posts one packet until post_decision says it is done with it or a signal
// stops the forwarder.
Delivery deliver(Forwarder& f, const LoggedPacket& packet, const std::string& line) {
  const std::string form = urlencode_form(share_fields(f.config, f.position, packet));
  const std::string url = share_url(f.config.URL, form);
  RetryPolicy policy{f.options.retry_first_ms, f.options.retry_max_ms, std::nullopt};
  if (f.options.once) policy.give_up_ms = int64_t{f.options.give_up_s} * 1000;
  PostState tries;
  for (;;) {
    const HttpAnswer answer = http_post_form(url, form, f.options.http);
    const PostDecision decision = post_decision(tries, answer, policy, monotonic_ms());
    tries = decision.state;
    if (decision.action != PostAction::retry && decision.action != PostAction::give_up &&
        f.server_failing) {
      console_log(f.console, "Team server answers again\n");
      f.server_failing = false;
    }
    const std::string reason = answer_reason(answer.body);
    switch (decision.action) {
      case PostAction::delivered:
        ++f.sent;
        console_log(f.console, "Sent packet of %s, %zu bytes, port %d\n", packet.received.c_str(),
                    packet.frame.size(), packet.port);
        return Delivery::done;
      case PostAction::set_aside: {
        // Written before the position moves past it: a crash in between sets
        // it aside twice rather than never.
        const SysResult written =
            append_to_file(f.paths.rejects_file, rejected_line(line, answer.status, reason));
        if (!written.ok()) {
          console_log(f.console,
                      "Team server refused packet of %s with HTTP %ld (%s), and it cannot be set "
                      "aside in %s (%s); stopping, the packet stays next\n",
                      packet.received.c_str(), answer.status,
                      reason.empty() ? "no reason given" : reason.c_str(),
                      f.paths.rejects_file.c_str(), error_text(written).c_str());
          return Delivery::stop;
        }
        ++f.set_aside;
        console_log(f.console,
                    "Team server refused packet of %s with HTTP %ld (%s); set aside in %s, going "
                    "on with the next\n",
                    packet.received.c_str(), answer.status,
                    reason.empty() ? "no reason given" : reason.c_str(),
                    f.paths.rejects_file.c_str());
        return Delivery::done;
      }
      case PostAction::stop:
        if (answer.status >= 300 && answer.status < 400) {
          const std::string target = redirect_target(answer.location, form);
          console_log(f.console,
                      "Team server answered HTTP %ld, pointing to %s: URL in [forward] is not "
                      "where to post (a missing trailing slash?); correct it. Stopping, packet "
                      "of %s stays next\n",
                      answer.status, target.empty() ? "nowhere" : target.c_str(),
                      packet.received.c_str());
        } else {
          console_log(f.console,
                      "Team server answered HTTP %ld (%s) for %s: URL in [forward] is wrong or "
                      "the server does not let this station post; correct it. Stopping, packet "
                      "of %s stays next\n",
                      answer.status, reason.empty() ? "no reason given" : reason.c_str(),
                      f.config.URL.c_str(), packet.received.c_str());
        }
        return Delivery::stop;
      case PostAction::give_up:
        console_log(f.console,
                    "Team server %s, and has failed for %d s; giving up, packet of %s stays "
                    "next\n",
                    failure_text(answer).c_str(), f.options.give_up_s, packet.received.c_str());
        return Delivery::give_up;
      case PostAction::retry:
        break;
    }
    f.server_failing = true;
    console_log(f.console, "Team server %s; trying again in %s\n", failure_text(answer).c_str(),
                duration_text(decision.wait_ms).c_str());
    if (stop_requested(f, decision.wait_ms)) return Delivery::interrupted;
  }
}

// No position when there is no state file; `damaged` when there is one that
// cannot be read or parsed.
std::optional<LogPosition> saved_position(const Forwarder& f, bool& damaged) {
  const std::optional<std::string> text = read_whole_file(f.paths.state_file);
  if (!text) {
    damaged = path_exists(f.paths.state_file);
    return std::nullopt;
  }
  std::optional<LogPosition> position;
  if (f.paths.file_name.empty()) {
    position = parse_log_position(*text);
  } else if (uint64_t offset = 0; text->size() > 1 && text->back() == '\n') {
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), offset);
    if (error == std::errc() && end == text->data() + text->size() - 1) {
      position = LogPosition{f.paths.file_name, offset};
    }
  }
  damaged = !position;
  return position;
}

// Checks the saved position against the packet folder and today's UTC date;
// false, with a line saying what to do, when it is refused.
bool take_saved_position(Forwarder& f, const LogPosition& saved) {
  constexpr int64_t day_ms = 86'400'000;
  const int64_t today = now_unix_ms() / day_ms;
  const std::vector<std::string> names = regular_file_names(f.paths.packets_dir);
  const ForwardStart start = forward_start(saved, names, today);
  const char* state_file = f.paths.state_file.c_str();
  const char* day_file = saved.day_file.c_str();
  switch (start.decision) {
    case StartDecision::start:
      f.state.position = start.position;
      return true;
    case StartDecision::skip_missing:
      console_log(f.console,
                  "State file %s names %s byte %llu, which is not in %s; skipped it, going on "
                  "from the start of %s\n",
                  state_file, day_file, static_cast<unsigned long long>(saved.offset),
                  f.paths.packets_dir.c_str(), start.position.day_file.c_str());
      f.state.position = start.position;
      save_position(f);
      return true;
    case StartDecision::refuse_impossible:
      console_log(f.console,
                  "State file %s names %s, a day that does not exist; correct it, or remove it "
                  "to send the whole packet log again\n",
                  state_file, day_file);
      return false;
    case StartDecision::refuse_future:
      console_log(f.console,
                  "State file %s names %s, more than a day after today (%s UTC); correct it or "
                  "the clock, or remove it to send the whole packet log again\n",
                  state_file, day_file, packet_log_file_name(today * day_ms).substr(0, 10).c_str());
      return false;
    case StartDecision::refuse_missing:
      console_log(f.console,
                  "State file %s names %s, which is not in %s, nor is any later day file; "
                  "correct it, or remove it to send the whole packet log again\n",
                  state_file, day_file, f.paths.packets_dir.c_str());
      return false;
  }
  return false;
}

// A saved position inside a line means the day file lost its end in a power
// cut and the TNC has written past the position since: the lines from the
// one that holds the position on are new.
void check_line_start(Forwarder& f) {
  constexpr uint64_t window = 1 << 16;
  const LogPosition& position = f.state.position;
  const uint64_t offset = position.offset;
  if (position.day_file.empty() || offset == 0) return;
  const uint64_t from = offset > window ? offset - window : 0;
  const FilePart near = read_file_part(path_join(f.paths.packets_dir, position.day_file), from,
                                       static_cast<size_t>(offset - from + 1));
  // A file missing, unreadable or shorter than the position is the loop's.
  if (near.error != 0) return;
  const std::optional<uint64_t> line_start = line_start_inside(near.bytes, from, offset);
  if (!line_start) return;
  f.state.position.offset = *line_start;
  console_log(f.console,
              "Packet log %s changed below byte %llu (a power cut?); going on from the line "
              "at byte %llu\n",
              position.day_file.c_str(), static_cast<unsigned long long>(offset),
              static_cast<unsigned long long>(*line_start));
  save_position(f);
}

// Says what a step means before the loop carries it out, at the position
// it was decided at (the state before the step).
void report_step(const Forwarder& f, const ForwardStep& step, const FilePart& part) {
  const LogPosition& at = f.state.position;
  const char* day_file = at.day_file.c_str();
  const auto offset = static_cast<unsigned long long>(at.offset);
  if (step.read_again) console_log(f.console, "Packet log %s read again\n", day_file);
  switch (step.outcome) {
    case ForwardOutcome::send:
      if (step.skipped > 0) {
        console_log(f.console,
                    "Packet log %s: damaged line at byte %llu; its first %llu bytes skipped\n",
                    day_file, offset, static_cast<unsigned long long>(step.skipped));
      }
      return;
    case ForwardOutcome::skip_malformed:
      console_log(f.console, "Packet log %s: malformed line at byte %llu skipped\n", day_file,
                  offset);
      return;
    case ForwardOutcome::skip_long:
      console_log(f.console, "Packet log %s: line at byte %llu longer than %zu bytes skipped\n",
                  day_file, offset, forward_piece_limit);
      return;
    case ForwardOutcome::shrunk:
      console_log(f.console,
                  "Packet log %s holds %llu bytes, fewer than the %llu already handled; going "
                  "on from its end\n",
                  day_file, static_cast<unsigned long long>(part.size), offset);
      return;
    case ForwardOutcome::next_day:
      if (step.skipped > 0) {
        console_log(f.console, "Packet log %s ends in a damaged line at byte %llu; skipped\n",
                    day_file, offset);
      }
      return;
    case ForwardOutcome::unreadable:
      if (step.say_unreadable) {
        console_log(f.console, "Packet log %s cannot be read (%s); trying again\n", day_file,
                    error_text(part.error).c_str());
      }
      return;
    case ForwardOutcome::pass_line_end:
    case ForwardOutcome::wait:
      return;
  }
}

}  // namespace

int run_forwarder(const ForwardConfig& config, const ForwardPaths& paths,
                  const ForwardOptions& options, const Console& console) {
  Forwarder f{config, paths, options, console, {}, {}};
  if (const std::optional<StationPosition> position = station_position(config)) {
    f.position = *position;
  } else {
    console_log(console, "Config: no usable station position in [forward]\n");
    return 1;
  }
  bool damaged = false;
  if (!paths.file_name.empty()) f.state.position = {paths.file_name, 0};
  if (const std::optional<LogPosition> position = saved_position(f, damaged)) {
    if (paths.file_name.empty() && !take_saved_position(f, *position)) return 1;
    if (!paths.file_name.empty()) f.state.position = *position;
  } else if (damaged) {
    // Guessing a position would lose packets or send them twice.
    console_log(console,
                "State file %s is damaged or cannot be read; correct it, or remove it to send "
                "the whole packet log again\n",
                paths.state_file.c_str());
    return 1;
  }
  check_line_start(f);
  console_log(
      console, "Forwarding %s to %s, from %s byte %llu\n", paths.packets_dir.c_str(),
      config.URL.c_str(),
      f.state.position.day_file.empty() ? "the first log file" : f.state.position.day_file.c_str(),
      static_cast<unsigned long long>(f.state.position.offset));
  while (!stop_requested(f, 0)) {
    // Read, list, examine again: in that order, so that the step sees a day
    // file that grew while the next day's file appeared.
    const std::string day_path = path_join(paths.packets_dir, f.state.position.day_file);
    FilePart part;
    std::optional<uint64_t> size_after;
    if (!f.state.position.day_file.empty()) {
      part = read_file_part(day_path, f.state.position.offset, forward_piece_limit);
    }
    const std::vector<std::string> names = paths.file_name.empty()
                                               ? regular_file_names(paths.packets_dir)
                                               : std::vector<std::string>{paths.file_name};
    if (!f.state.position.day_file.empty()) size_after = file_size(day_path);
    const ForwardStep step =
        forward_step(f.state, {part.error, part.size, part.bytes, names, size_after});
    report_step(f, step, part);
    switch (step.outcome) {
      case ForwardOutcome::send:
        switch (deliver(f, step.packet, step.line)) {
          case Delivery::done:
            break;
          case Delivery::interrupted:
            continue;  // the loop ends; the packet stays next
          case Delivery::stop:
            return stopped(f, 1);
          case Delivery::give_up:
            return stopped(f, 3);
        }
        break;
      case ForwardOutcome::unreadable:
        f.state = step.state;
        if (options.once) return stopped(f);
        (void)stop_requested(f, options.poll_ms);
        continue;
      case ForwardOutcome::wait:
        f.state = step.state;
        if (options.once) {
          if (step.skipped > 0) {
            console_log(console,
                        "Packet log %s ends in an unfinished line at byte %llu; not sent\n",
                        f.state.position.day_file.c_str(),
                        static_cast<unsigned long long>(f.state.position.offset));
          }
          return stopped(f);
        }
        (void)stop_requested(f, options.poll_ms);
        continue;
      case ForwardOutcome::skip_malformed:
      case ForwardOutcome::skip_long:
      case ForwardOutcome::pass_line_end:
      case ForwardOutcome::shrunk:
      case ForwardOutcome::next_day:
        break;
    }
    f.state = step.state;
    save_position(f);
  }
  return stopped(f);
}

}  // namespace kestrelis
