#include "kiss/client.hpp"

#include <cmath>
#include <deque>
#include <utility>

#include "common/kiss_frames.hpp"
#include "common/tnc_profile.hpp"
#include "console/console_log.hpp"
#include "kiss/display.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "system/kiss_io.hpp"
#include "text/command_line.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

const char* const kiss_client_usage =
    "usage: kestrelis-kiss [OPTION]...\n"
    "       kestrelis-kiss plot FILE FIELD... [-o OUT.png] [--sat N] [--kind KIND]\n"
    "       kestrelis-kiss plot FILE --list [--sat N] [--kind KIND]\n"
    "\n"
    "Terminal client for the GUI port of kestrelis-tnc: shows the TNC's text lines,\n"
    "telemetry records and digipeater packets, and sends each line typed on standard\n"
    "input (a command such as cmd:list, or a request such as\n"
    "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message) as one KISS frame.\n"
    "\n"
    "  --host HOST          TNC host (default 127.0.0.1)\n"
    "  --port PORT          the TNC's KISS_Port (default: read from the TNC's\n"
    "                       Kestrelis/config.ini under $USERPROFILE, else $HOME;\n"
    "                       53013 when there is none)\n"
    "  --config FILE        read KISS_Port from FILE, for a TNC started with\n"
    "                       --config FILE\n"
    "  --send LINE          send LINE once connected; may be given several times\n"
    "  --no-stdin           do not read standard input\n"
    "  --exit-after SECONDS end after SECONDS (decimals allowed); without it the\n"
    "                       client ends when standard input ends and all is sent\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "plot draws the chosen FIELDs of the TNC's packet log over record time (UTC)\n"
    "to a PNG with gnuplot, one panel per unit (default OUT: FILE with .png for its\n"
    "extension); --sat and --kind (beacon or telemetry) choose the records, --list\n"
    "shows the fields the file holds.\n"
    "\n"
    "Exit status: 0; 1 when lines were left unsent;\n"
    "2 for wrong arguments.\n";

namespace {

constexpr int retry_interval_ms = 1000;
constexpr int connect_timeout_ms = 1000;
constexpr int send_timeout_ms = 10000;
constexpr size_t max_line_bytes = kiss_frame_capacity - 1;

const Console console;

enum class LinkState { unknown, up, down };

struct Client {
  ClientOptions options;
  std::string endpoint;
  Socket link;
  LinkState state = LinkState::unknown;
  int64_t next_connect_ms = 0;
  KissDeframer deframer{tnc_frame_capacity};  // the TNC's largest frame is about 3000 bytes
  std::deque<std::string> pending;
  LineSplitter input;
  bool input_open = true;
};

std::string printable(std::string_view text) {
  return printable_text({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

void link_down(Client& c, const std::string& message) {
  c.link.close();
  if (c.state != LinkState::down) console_text(console, "LINK " + message + "\n");
  c.state = LinkState::down;
  c.next_connect_ms = monotonic_ms() + retry_interval_ms;
}

void try_connect(Client& c) {
  NetResult r = tcp_connect(c.options.host.c_str(), c.options.port.c_str(), connect_timeout_ms);
  if (!r.status.ok()) {
    link_down(c, "no TNC at " + c.endpoint + " (" + error_text(r.status) +
                     "); retrying every second");
    return;
  }
  if (!set_send_timeout(r.socket.fd(), send_timeout_ms).ok()) {
    link_down(c, "cannot use the connection to " + c.endpoint + "; retrying every second");
    return;
  }
  c.link = std::move(r.socket);
  c.deframer = KissDeframer(tnc_frame_capacity);
  c.state = LinkState::up;
  console_text(console, "LINK connected to " + c.endpoint + "\n");
}

void receive(Client& c) {
  std::array<uint8_t, 4096> buffer{};
  long n = stream_receive(c.link.fd(), buffer);
  if (n == 0) {
    link_down(c, "connection to " + c.endpoint + " closed by the TNC; reconnecting every second");
    return;
  }
  if (n < 0) {
    link_down(c, "connection to " + c.endpoint + " lost (" + error_text(last_socket_error()) +
                     "); reconnecting every second");
    return;
  }
  for (uint8_t b : std::span(buffer).first(static_cast<size_t>(n))) {
    const KissStep step = kiss_receive_byte(c.deframer, b);
    if (step.frame) console_text(console, describe_frame(*step.frame));
    if (step.event == KissStep::Event::overflowed) {
      console_print(console, "FRAME dropped: longer than %zu bytes\n", tnc_frame_capacity);
    }
  }
}

void queue_line(Client& c, std::string line) {
  std::string refusal = line_refusal(line);
  if (!refusal.empty()) {
    if (!line.empty()) console_text(console, "NOT SENT " + refusal + "\n");
    return;
  }
  if (c.state != LinkState::up) {
    console_text(console, "QUEUED " + printable(line) + " (sent when the TNC is reachable)\n");
  }
  c.pending.push_back(std::move(line));
}

void send_pending(Client& c) {
  while (c.link.valid() && !c.pending.empty()) {
    const std::string& line = c.pending.front();
    std::vector<uint8_t> frame =
        kiss_encode({reinterpret_cast<const uint8_t*>(line.data()), line.size()});
    const SysResult sent = send_all(c.link.fd(), frame);
    if (!sent.ok()) {
      // The TNC starts every connection with a fresh deframer, so the whole
      // line goes again on the next one.
      link_down(c, "connection to " + c.endpoint + " lost (" + error_text(sent) +
                       "); reconnecting every second");
      return;
    }
    console_text(console, "SENT " + printable(line) + "\n");
    c.pending.pop_front();
  }
}

void read_input(Client& c) {
  std::array<uint8_t, 4096> buffer{};
  long n = read_some(standard_input_fd(), buffer);
  if (n <= 0) {
    c.input_open = false;
    if (!c.input.partial.empty()) queue_line(c, std::exchange(c.input.partial, {}));
    return;
  }
  for (std::string& line :
       split_input_lines(c.input, std::span(buffer).first(static_cast<size_t>(n)))) {
    queue_line(c, std::move(line));
  }
}

int wait_time_ms(const Client& c, std::optional<int64_t> deadline_ms) {
  int64_t now = monotonic_ms();
  int64_t wait = retry_interval_ms;
  if (!c.link.valid()) wait = std::min(wait, c.next_connect_ms - now);
  if (deadline_ms) wait = std::min(wait, *deadline_ms - now);
  return static_cast<int>(std::max<int64_t>(wait, 0));
}

}  // namespace

ClientArgs parse_client_args(std::span<const std::string_view> args) {
  ClientArgs parsed;
  ClientOptions& o = parsed.options;
  CommandLine line = command_line(args);
  while (const std::optional<std::string_view> word = next_word(line)) {
    const std::string a(*word);
    const bool takes_value = a == "--host" || a == "--port" || a == "--send" ||
                             a == "--exit-after" || a == "--config";
    const std::optional<std::string_view> given = takes_value ? option_value(line) : std::nullopt;
    if (takes_value && !given) {
      parsed.error = a + " needs a value";
      break;
    }
    const std::string value(given.value_or(""));
    if (a == "--help" || a == "-h") {
      parsed.help = true;
    } else if (a == "--version") {
      parsed.version = true;
    } else if (a == "--no-stdin") {
      o.read_stdin = false;
    } else if (a == "--host") {
      o.host = value;
    } else if (a == "--port") {
      if (!number_in(value, 1, 65535)) {
        parsed.error = "--port takes a number from 1 to 65535, not \"" + value + "\"";
      }
      o.port = value;
      parsed.port_given = true;
    } else if (a == "--config") {
      parsed.config_file = value;
    } else if (a == "--send") {
      o.send_lines.push_back(value);
    } else if (a == "--exit-after") {
      const std::optional<double> seconds = number_in(value, 0.0, 1e9);
      if (!seconds) {
        parsed.error = "--exit-after takes a number of seconds, not \"" + value + "\"";
      }
      o.exit_after_ms = std::llround(seconds.value_or(0) * 1000);
    } else {
      parsed.error = "unknown option \"" + a + "\"";
    }
    if (!parsed.error.empty()) break;
  }
  return parsed;
}

std::vector<std::string> split_input_lines(LineSplitter& s, std::span<const uint8_t> bytes) {
  std::vector<std::string> lines;
  for (uint8_t b : bytes) {
    if (b != '\n') {
      s.partial += static_cast<char>(b);
      continue;
    }
    if (!s.partial.empty() && s.partial.back() == '\r') s.partial.pop_back();
    lines.push_back(std::exchange(s.partial, {}));
  }
  return lines;
}

std::string line_refusal(std::string_view line) {
  if (line.empty()) return "an empty line";
  if (line.size() <= max_line_bytes) return {};
  return std::to_string(line.size()) + " bytes: the TNC takes lines of at most " +
         std::to_string(max_line_bytes) + " bytes";
}

int run_client(const ClientOptions& options) {
  Client c;
  c.options = options;
  c.endpoint = options.host + ":" + options.port;
  c.input_open = options.read_stdin;
  for (const std::string& line : options.send_lines) queue_line(c, line);
  std::optional<int64_t> deadline_ms;
  if (options.exit_after_ms) deadline_ms = monotonic_ms() + *options.exit_after_ms;

  for (;;) {
    if (deadline_ms && monotonic_ms() >= *deadline_ms) break;
    if (options.read_stdin && !deadline_ms && !c.input_open && c.pending.empty()) break;
    if (!c.link.valid() && monotonic_ms() >= c.next_connect_ms) try_connect(c);
    send_pending(c);
    ReadyPair ready =
        wait_either_readable(c.link.valid() ? c.link.fd() : -1,
                             c.input_open ? standard_input_fd() : -1, wait_time_ms(c, deadline_ms));
    if (ready.first) receive(c);
    if (ready.second) read_input(c);
  }
  if (c.pending.empty()) return 0;
  console_print(console, "NOT SENT %zu lines: the TNC was not reachable\n", c.pending.size());
  return 1;
}

int client_command(std::span<const std::string_view> args) {
  ClientArgs parsed = parse_client_args(args);
  if (!parsed.error.empty()) {
    error_write("kestrelis-kiss: " + parsed.error +
                "\n(kestrelis-kiss --help lists the options)\n");
    return 2;
  }
  if (parsed.help) {
    console_text(console, kiss_client_usage);
    return 0;
  }
  if (parsed.version) {
    console_text(console, "kestrelis-kiss " KESTRELIS_VERSION "\n");
    return 0;
  }
  // Without --port, the port the TNC on this machine listens on.
  if (!parsed.port_given) {
    const std::optional<TncConfig> tnc = parsed.config_file
                                             ? tnc_file_config(*parsed.config_file)
                                             : std::optional(tnc_profile_config());
    if (!tnc) {
      error_write("kestrelis-kiss: cannot read the TNC's configuration " + *parsed.config_file +
                  "\n");
      return 2;
    }
    parsed.options.port = std::to_string(tnc->KISS_Port);
  }
  return run_client(parsed.options);
}

}  // namespace kestrelis
