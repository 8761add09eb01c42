// The terminal client kestrelis-kiss: what it shows and sends, the records it
// reads, its plots of the packet log, and the client against a stand-in TNC.

#include "wire/kiss.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "archive/packet_log.hpp"
#include "kiss/client.hpp"
#include "kiss/display.hpp"
#include "kiss/plot.hpp"
#include "kiss/record.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"
#include "system/child_process.hpp"

namespace kestrelis {

namespace {

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

const std::string text_kind(1, static_cast<char>(gui_text_kind));
const std::string telemetry_kind(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end());

// Bytes that would drive the terminal are shown escaped, and a malformed
// record is shown, not parsed.
TEST(KissDisplay, EachKindOfFrame) {
  const struct {
    const char* name;
    std::vector<uint8_t> data;
    const char* shown;
  } cases[] = {
      {"text with control bytes", bytes(text_kind + "[x] a\x1b[31m\x7f\xe9"),
       "TEXT [x] a\\x1b[31m\\x7f\\xe9\n"},
      {"digipeater packet", bytes(text_kind + std::string("Hi\0\xC0\xDB\x7F", 6)),
       "PACKET 6 bytes\n"
       "  0000  48 69 00 c0 db 7f                                |Hi....|\n"},
      {"record",
       bytes(telemetry_kind + R"({"tlm_id":"4138","unix_only_ms":"250","unix_s":"1700000000"})"),
       "TELEMETRY sat=1 v=5 beacon, 2023-11-14 22:13:20.250 UTC, 3 fields\n"
       "  tlm_id=4138        unix_only_ms=250   unix_s=1700000000\n"},
      {"malformed record", bytes(telemetry_kind + R"({"x":1)"),
       "TELEMETRY malformed record refused, 6 bytes\n"
       "  0000  7b 22 78 22 3a 31                                |{\"x\":1|\n"},
      {"empty frame", {}, "FRAME 0 bytes\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe_frame(c.data), c.shown) << c.name;
}

TEST(KissClientLoopback, ShowsFramesSendsLinesAndReconnects) {
  NetResult server = tcp_listen("127.0.0.1", 0);
  ASSERT_TRUE(server.status.ok());
  std::string port = std::to_string(local_port(server.socket.fd()));
  ChildProcess client({KESTRELIS_KISS_PATH, "--port", port, "--no-stdin", "--exit-after", "20",
                       "--send", "cmd:list"},
                      {});
  ASSERT_TRUE(wait_readable(server.socket.fd(), 5000));
  Socket tnc = tcp_accept(server.socket.fd());
  ASSERT_TRUE(send_all(tnc.fd(), kiss_encode(bytes(text_kind + "[x] hi"))).ok());
  EXPECT_EQ(KissReader(tnc.fd()).next(5000), "cmd:list");
  EXPECT_TRUE(client.wait_for_output("SENT cmd:list\nTEXT [x] hi\n", 5000)) << client.output();
  tnc.close();
  EXPECT_TRUE(wait_readable(server.socket.fd(), 5000));
  EXPECT_TRUE(client.wait_for_output(
      "closed by the TNC; reconnecting every second\nLINK connected to 127.0.0.1:" + port, 5000))
      << client.output();
}

// Lines typed by the operator: CR LF ends a line too; empty lines and lines
// longer than the TNC takes are not sent.
TEST(KissClientLines, SplitAndRefusedLines) {
  LineSplitter s;
  EXPECT_EQ(split_input_lines(s, bytes("a\r\nb")), std::vector<std::string>{"a"});
  EXPECT_EQ(split_input_lines(s, bytes("c\n\n")), (std::vector<std::string>{"bc", ""}));
  EXPECT_NE(line_refusal(""), "");
  EXPECT_EQ(line_refusal(std::string(199, 'x')), "");
  EXPECT_NE(line_refusal(std::string(200, 'x')), "");
}

TEST(KissRecordInfo, TelemetryWordRecordTimeAndRefusedOptionTimes) {
  const struct {
    const char* name;
    const char* json;
    bool word;
    const char* time;  // "" : none
  } cases[] = {
      {"milliseconds carry", R"({"tlm_id":"12313","unix_only_ms":"1500","unix_s":"0"})", true,
       "1970-01-01 00:00:01.500"},
      {"largest unix_s", R"({"unix_only_ms":"0","unix_s":"4294967295"})", false,
       "2106-02-07 06:28:15.000"},
      {"UNIX alone", R"({"UNIX":"1700000000.250000"})", false, "2023-11-14 22:13:20.250"},
      {"tlm_id too large", R"({"tlm_id":"65536"})", false, ""},
      {"bad UNIX", R"({"UNIX":"12.x"})", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecordInfo info = record_info(parse_json_object(c.json).value());
    EXPECT_EQ(info.word.has_value(), c.word);
    EXPECT_EQ(info.time_ms ? format_utc(*info.time_ms) : "", c.time);
  }
  // Times the --from and --to options refuse.
  for (const char* text :
       {"2001-02-29T00:00Z", "2026-12-05T24:00Z", "2026-12-05T14:60Z", "2026-13-05T14:00Z",
        "2026-12-05T14:03", "2026-12-05 14:03Z", "2026-12-05T14:03:07.4Z", "1969-12-31T23:59Z"})
    EXPECT_EQ(parse_iso_utc(text), std::nullopt) << text;
}

// The TNC's packet log as the TNC writes it: each telemetry line followed by
// a digipeater text, which is no record.
std::string packet_log(std::span<const std::pair<int64_t, const char*>> telemetry) {
  const std::vector<uint8_t> packet = {0x8a, 0x00, 0x07, 0x40, 0x01, 0x02, 0x03, 0x04};
  std::string log;
  for (const auto& [received_ms, members] : telemetry) {
    Dispatch d;
    d.action = PacketAction::telemetry;
    d.telemetry.status = TelemetryStatus::decoded;
    d.telemetry.members = members;
    log += packet_log_line({received_ms, packet, 2, false, 1, 8, &d});
    Dispatch text;
    text.action = PacketAction::digipeater_message;
    text.text = "hello";
    log += packet_log_line({received_ms + 1, packet, 0, false, 1, 29, &text});
  }
  return log;
}

const std::pair<int64_t, const char*> plain_records[] = {
    {5000, R"("tlm_id":"4138","UNIX":"20.500000","eps_vbatt":"8100")"},
    {6000, R"("tlm_id":"4138","unix_s":"10","unix_only_ms":"250","eps_vbatt":"8200","t":"-3")"},
    {7000, R"("eps_vbatt":"x","t":"4")"},
    {8000, R"("other":"1")"},
};
const std::string plain_log =
    packet_log(plain_records) + "not a record\n" + packet_log(std::span(plain_records).first(1));

TEST(KissPlot, ReadsThePacketLogInTimeOrderAndRefusesWhatItCannotDraw) {
  PlotInput in = read_plot_input(plain_log, std::vector<std::string>{"eps_vbatt", "t"});
  EXPECT_EQ(std::tuple(in.error, in.skipped, in.damaged_last_line), std::tuple("", 1u, false));
  // UNIX first, then unix_s and unix_only_ms, then the receive time.
  std::vector<std::pair<int64_t, std::vector<std::optional<double>>>> rows;
  for (const PlotRow& row : in.rows) rows.emplace_back(row.time_ms, row.values);
  EXPECT_EQ(rows, (decltype(rows){{7000, {std::nullopt, 4.0}},
                                  {10250, {8200.0, -3.0}},
                                  {20500, {8100.0, std::nullopt}},
                                  {20500, {8100.0, std::nullopt}}}));
  EXPECT_EQ(read_plot_input(plain_log, std::vector<std::string>{"eps_vboost_0"}).error,
            "no record has the field \"eps_vboost_0\"");
  EXPECT_EQ(read_plot_input(plain_log, std::vector<std::string>{"_received"}).error,
            "the field \"_received\" never holds a number");
}

// Satellite 1 beacon (4138) and telemetry (4137), satellite 3 telemetry
// (12313), and a last line cut short.
const std::pair<int64_t, const char*> mixed_records[] = {
    {1, R"("tlm_id":"4138","eps_vbatt":"7300","eps_temp_0":"-4","UNIX":"100.500000")"},
    {2, R"("tlm_id":"4137","eps_vbatt":"7310","eps_temp_0":"nan","UNIX":"101.000000")"},
    {3, R"("tlm_id":"12313","eps_vbatt":"8000","UNIX":"102.000000")"},
};
const std::string mixed =
    packet_log(mixed_records) + R"({"received":"1970-01-01T00:00:00.004Z","fr)";

// Records whose field v holds their second: passes split where two lie more
// than 600 s apart.
const std::string passes = [] {
  std::vector<std::string> members;
  for (int s : {0, 10, 20, 621, 631, 1231, 3000}) {
    members.push_back(R"("UNIX":")" + std::to_string(1796479380 + s) + R"(","v":")" +
                      std::to_string(s) + "\"");
  }
  std::vector<std::pair<int64_t, const char*>> records;
  for (const std::string& m : members) records.emplace_back(0, m.c_str());
  return packet_log(records);
}();

TEST(KissPlot, SelectsBySatelliteKindTimeAndPassUpToADamagedLastLine) {
  constexpr int64_t t0 = 1796479380000;  // 2026-12-05T14:03:00Z
  const struct {
    const char* name;
    const std::string& log;
    std::vector<int> values;  // of eps_vbatt in `mixed`, of v in `passes`
    const char* error = "";
    std::optional<int> pass = {};
    std::optional<int> sat = {};
    const char* kind = nullptr;
    std::optional<int64_t> from = {}, to = {};
  } cases[] = {
      {"all", mixed, {7300, 7310, 8000}},
      {"beacons of sat 1", mixed, {7300}, "", {}, 1, "beacon"},
      {"telemetry", mixed, {7310, 8000}, "", {}, {}, "telemetry"},
      {"sat 2", mixed, {}, "no record of sat 2 with a time", {}, 2},
      {"bounds included", passes, {10, 20, 621, 631}, "", {}, {}, nullptr, t0 + 10000, t0 + 631000},
      {"a gap of exactly 10 minutes is in one pass", passes, {621, 631, 1231}, "", 2},
      {"passes counted in the window", passes, {621, 631, 1231}, "", 1, {}, nullptr, t0 + 621000},
      {"no such pass", passes, {}, "no pass 4: the records make 3 passes", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool from_mixed = &c.log == &mixed;
    const std::vector<std::string> fields = {from_mixed ? "eps_vbatt" : "v"};
    PlotFilter filter;
    filter.sat = c.sat;
    if (c.kind != nullptr) filter.kind = c.kind;
    filter.from_ms = c.from;
    filter.to_ms = c.to;
    filter.pass = c.pass;
    PlotInput in = read_plot_input(c.log, fields, filter);
    EXPECT_EQ(in.error, c.error);
    EXPECT_EQ(in.damaged_last_line, from_mixed);
    std::vector<int> values;
    for (const PlotRow& row : in.rows) values.push_back(static_cast<int>(*row.values[0]));
    EXPECT_EQ(values, c.values);
  }
}

TEST(KissPlot, SelectionArguments) {
  const std::string_view good[] = {
      "r.jsonl", "v", "--from", "2026-12-05T14:03Z", "--to", "2026-12-05T14:03:30Z", "--pass", "2"};
  const PlotArgs parsed = parse_plot_args(good);
  EXPECT_EQ(
      std::tuple(parsed.error, parsed.filter.from_ms, parsed.filter.to_ms, parsed.filter.pass),
      std::tuple("", 1796479380000, 1796479410000, 2));
  const std::pair<std::vector<std::string_view>, std::string> refused[] = {
      {{"--to", "2026-12-05T14:03:30.000Z"},
       "--to takes a UTC time as 2026-12-05T14:03Z or 2026-12-05T14:03:30Z, not "
       "\"2026-12-05T14:03:30.000Z\""},
      {{"--from", "2026-12-05T14:04Z", "--to", "2026-12-05T14:03Z"}, "--from is later than --to"},
      {{"--pass", "0"}, "--pass takes a pass number from 1, not \"0\""},
      {{"--pass"}, "--pass needs a value"},
  };
  for (const auto& [options, error] : refused) {
    std::vector<std::string_view> args = {"r.jsonl", "eps_vbatt"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(parse_plot_args(args).error, error);
  }
}

TEST(KissPlot, FieldsOfOneUnitShareAPanel) {
  const std::vector<std::string> fields = {"eps_vbatt",     "eps_gpscur", "eps_vboost_1",
                                           "radio_temp_pa", "eps_cursun", "gps_alt"};
  std::vector<std::pair<std::string, std::vector<size_t>>> panels;
  for (PlotPanel& p : plot_panels(fields)) panels.emplace_back(p.label, p.fields);
  EXPECT_EQ(panels, (decltype(panels){{"voltage (mV)", {0, 2}},
                                      {"current (mA)", {1, 4}},
                                      {"temperature (°C)", {3}},
                                      {"gps_alt", {5}}}));
}

// A line end in a name cannot start a gnuplot command of its own.
TEST(KissPlot, NamesNeverBreakOutOfTheirQuotes) {
  const std::vector<std::string> fields = {"a\nsystem 'touch x'"};
  const std::string script = gnuplot_script({}, fields, "t.jsonl\r\nsystem 'touch y'", "o.png");
  EXPECT_EQ(script.find("\nsystem"), std::string::npos) << script;
  const std::string_view args[] = {"t.jsonl", "eps_vbatt", "-o", "p.png\nsystem 'touch z'"};
  EXPECT_EQ(plot_command(args), 2);
}

// --list counts the records of the selection up to a line cut by a power cut;
// an output path whose folder is missing is named.
TEST(KissPlot, ListsFieldsAndRefusesAMissingOutputFolder) {
  PlotFilter sat_1;
  sat_1.sat = 1;
  EXPECT_NE(list_fields(mixed, sat_1).find("\n2 records (sat 1), 5 fields\n"), std::string::npos);
  const TempDir dir;
  EXPECT_EQ(output_path_problem(dir.path() + "/missing/x.png"),
            "the folder " + dir.path() + "/missing does not exist");
}

#ifdef KESTRELIS_KISS_PATH
// The TNC's own packet log, drawn by the real gnuplot in two panels to a path
// that needs quoting.
TEST(KissPlotLoopback, GnuplotDrawsThePacketLog) {
  TempDir dir;
  const std::pair<int64_t, const char*> lines[] = {
      {1796479387412, R"("tlm_id":"4138","eps_vbatt":"7300","UNIX":"1796479387.000000")"},
      {1796479397412, R"("tlm_id":"4138","t":"3","UNIX":"1796479397.000000")"},
  };
  const std::string file = dir.path() + "/r.jsonl";
  ASSERT_TRUE(write_text_file(file, packet_log(lines)).ok());
  const std::string png = dir.path() + "/o'k.png";
  ChildProcess kiss({KESTRELIS_KISS_PATH, "plot", file, "eps_vbatt", "t", "--pass", "1", "-o", png},
                    {});
  EXPECT_EQ(describe_wait_status(kiss.wait_exit(10000)), "exit status 0");
  EXPECT_EQ(kiss.output(), "PLOT " + png + ": 2 records\n");
  EXPECT_EQ(read_file(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}
#endif

}  // namespace

}  // namespace kestrelis
