// kestrelis-team: a stand-in for the satellite team's server on 127.0.0.1,
// printing each packet a forwarder posts to it.

#include <optional>
#include <string>
#include <string_view>

#include "console/console_log.hpp"
#include "platform/signals.hpp"
#include "system/http_stand_in.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

constexpr int usage_status = 2;
constexpr size_t shown_hex = 32;

constexpr char usage[] =
    "Usage: kestrelis-team [--port N] [--mode healthy|error|silent]\n"
    "Takes the place of the satellite team's server for kestrelis-forward: listens\n"
    "on 127.0.0.1:N (a free port when N is 0 or not given), prints each packet\n"
    "posted to it, and answers 200 (healthy), 500 (error) or never (silent).\n"
    "Runs until ended with Ctrl-C or SIGTERM.\n";

void print_post(const Console& console, const StandInPost& post) {
  const std::string frame = form_value(post.form, "frame");
  const std::string shown = frame.size() > shown_hex ? frame.substr(0, shown_hex) + "..." : frame;
  console_log(console,
              "Team server got a packet from %s for NORAD %s, received %s, %zu bytes: %s"
              " (answered %d)\n",
              form_value(post.form, "source").c_str(), form_value(post.form, "noradID").c_str(),
              form_value(post.form, "timestamp").c_str(), frame.size() / 2, shown.c_str(),
              post.answered);
}

int run(int argc, char** argv) {
  const Console console;
  uint16_t port = 0;
  StandInMode mode = StandInMode::healthy;
  CommandLine line = command_line(argc, argv);
  while (const std::optional<std::string_view> arg = next_word(line)) {
    if (*arg == "--help") {
      console_text(console, usage);
      return 0;
    }
    const std::optional<std::string_view> value =
        *arg == "--port" || *arg == "--mode" ? option_value(line) : std::nullopt;
    const auto number = value ? number_in<uint16_t>(*value, 0, 65535) : std::nullopt;
    if (*arg == "--port" && number) {
      port = *number;
      continue;
    }
    const std::optional<StandInMode> named = value == "healthy" ? StandInMode::healthy
                                             : value == "error" ? StandInMode::server_error
                                             : value == "silent"
                                                 ? std::optional(StandInMode::silent)
                                                 : std::nullopt;
    if (*arg == "--mode" && named) {
      mode = *named;
      continue;
    }
    console_text(console,
                 "kestrelis-team: unknown or incomplete option " + std::string(*arg) + "\n" + usage);
    return usage_status;
  }
  block_termination_signals();
  HttpStandIn server(port, mode,
                     [&console](const StandInPost& post) { print_post(console, post); });
  if (!server.listening()) {
    console_log(console, "Team server: cannot listen on 127.0.0.1:%u\n", unsigned{port});
    return 1;
  }
  console_log(console, "Team server listening on http://127.0.0.1:%u/\n", unsigned{server.port()});
  while (!wait_for_termination_signal(1000)) {
  }
  server.stop();
  console_log(console, "Team server stopped: %zu packets received\n", server.posts().size());
  return 0;
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) { return kestrelis::run(argc, argv); }
