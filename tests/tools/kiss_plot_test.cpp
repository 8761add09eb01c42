#include <gtest/gtest.h>

#include <filesystem>

#include "kiss/plot.hpp"
#include "platform/files.hpp"
#include "support/process.hpp"
#include "system/child_process.hpp"

namespace kestrelis {

namespace {

const std::string jsonl =
    R"({"_received_unix":"5.000","tlm_id":"4138","UNIX":"20.500000","eps_vbatt":"8100"})"
    "\n"
    R"({"_received_unix":"6.000","tlm_id":"4138","unix_s":"10","unix_only_ms":"250","eps_vbatt":"8200","t":"-3"})"
    "\n"
    "not a record\n"
    R"({"_received_unix":"7.000","eps_vbatt":"x","t":"4"})"
    "\n"
    R"({"_received_unix":"8.000","other":"1"})"
    "\n";

const std::string csv =
    "_received,tlm_id,unix_only_ms,unix_s,eps_vbatt,UNIX\r\n"
    "2023-11-14T22:13:20.250Z,4138,0,30,7900,30.000000\r\n"
    "2023-11-14T22:13:21.250Z,4138,0,31,\"7950\",31.000000\r\n"
    "2023-11-14T22:13:22.250Z,cut short\r\n";

TEST(KissPlot, ReadsJsonLinesAndCsvInTimeOrderAndRefusesWhatItCannotDraw) {
  const std::vector<std::string> fields = {"eps_vbatt", "t"};
  PlotInput in = read_plot_input(jsonl, fields);
  ASSERT_EQ(in.error, "");
  EXPECT_EQ(in.skipped, 1u);
  ASSERT_EQ(in.rows.size(), 3u);
  // UNIX first, then unix_s and unix_only_ms, then the receive time.
  EXPECT_EQ(in.rows[0].time_ms, 7000);
  EXPECT_EQ(in.rows[0].values, (std::vector<std::optional<double>>{std::nullopt, 4.0}));
  EXPECT_EQ(in.rows[1].time_ms, 10250);
  EXPECT_EQ(in.rows[1].values, (std::vector<std::optional<double>>{8200.0, -3.0}));
  EXPECT_EQ(in.rows[2].time_ms, 20500);

  PlotInput from_csv = read_plot_input(csv, std::vector<std::string>{"eps_vbatt"});
  ASSERT_EQ(from_csv.error, "");
  EXPECT_EQ(from_csv.skipped, 0u);
  EXPECT_TRUE(from_csv.damaged_last_line);
  ASSERT_EQ(from_csv.rows.size(), 2u);
  EXPECT_EQ(from_csv.rows[1].time_ms, 31000);
  EXPECT_EQ(from_csv.rows[1].values[0], 7950.0);

  // Fields it cannot draw.
  EXPECT_EQ(read_plot_input(jsonl, std::vector<std::string>{"eps_vboost_0"}).error,
            "no record has the field \"eps_vboost_0\"");
  EXPECT_EQ(read_plot_input(R"({"UNIX":"1.0","a":"x"})", std::vector<std::string>{"a"}).error,
            "the field \"a\" never holds a number");
  EXPECT_EQ(read_plot_input("", std::vector<std::string>{"a"}).error,
            "no record has the field \"a\"");
}

// Lines as the client writes them now (typed) beside older ones of strings
// only: satellite 1 beacon (4138) and telemetry (4137), satellite 3
// telemetry (12313), and a last line cut short.
const std::string mixed =
    R"({"_sat":1,"_kind":"beacon","tlm_id":4138,"eps_vbatt":7300,"eps_temp_0":-4,"UNIX":100.5})"
    "\n"
    R"({"_sat":1,"_kind":"telemetry","tlm_id":4137,"eps_vbatt":7310,"eps_temp_0":null,"UNIX":101.0})"
    "\n"
    R"({"_satellite":"3","tlm_id":"12313","eps_vbatt":"8000","UNIX":"102.000000"})"
    "\n"
    R"({"_sat":1,"_kind":"beacon","tlm_id":4138,"eps_vb)";

TEST(KissPlot, FiltersBySatelliteAndKindAndReadsUpToADamagedLastLine) {
  const std::vector<std::string> fields = {"eps_vbatt"};
  const struct {
    const char* name;
    int sat;           // -1: any
    const char* kind;  // null: any
    std::vector<int64_t> times;
    const char* error;
  } cases[] = {
      {"all", -1, nullptr, {100500, 101000, 102000}, ""},
      {"sat 1", 1, nullptr, {100500, 101000}, ""},
      {"beacons of sat 1", 1, "beacon", {100500}, ""},
      {"telemetry", -1, "telemetry", {101000, 102000}, ""},
      {"sat 2", 2, nullptr, {}, "no record with a time is of sat 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotFilter filter;
    if (c.sat >= 0) filter.sat = c.sat;
    if (c.kind != nullptr) filter.kind = c.kind;
    PlotInput in = read_plot_input(mixed, fields, filter);
    EXPECT_TRUE(in.damaged_last_line);
    EXPECT_EQ(in.skipped, 0u);
    EXPECT_EQ(in.error, c.error);
    std::vector<int64_t> times;
    for (const PlotRow& row : in.rows) times.push_back(row.time_ms);
    EXPECT_EQ(times, c.times);
  }
  // A null is no value; a whole last line is no damage.
  PlotInput temps = read_plot_input(mixed.substr(0, mixed.rfind('\n') + 1),
                                    std::vector<std::string>{"eps_temp_0"});
  EXPECT_FALSE(temps.damaged_last_line);
  EXPECT_EQ(temps.rows.size(), 1u);
}

TEST(KissPlot, FieldsOfOneUnitShareAPanel) {
  const std::vector<std::string> fields = {"eps_vbatt",  "eps_temp_0",      "eps_vboost_1",
                                           "gps_alt",    "radio_temp_pa",   "eps_cursun",
                                           "eps_gpscur", "radio_last_rssi", "radio_tx_count"};
  const std::vector<PlotPanel> panels = plot_panels(fields);
  ASSERT_EQ(panels.size(), 6u);
  const std::pair<const char*, std::vector<size_t>> expected[] = {
      {"voltage (mV)", {0, 2}}, {"temperature (°C)", {1, 4}}, {"gps_alt", {3}},
      {"current (mA)", {5, 6}}, {"signal (dBm)", {7}},        {"radio_tx_count", {8}}};
  for (size_t p = 0; p < panels.size(); ++p) {
    SCOPED_TRACE(expected[p].first);
    EXPECT_EQ(panels[p].label, expected[p].first);
    EXPECT_EQ(panels[p].fields, expected[p].second);
  }
}

// A line end in a name cannot start a gnuplot command of its own.
TEST(KissPlot, NamesNeverBreakOutOfTheirQuotes) {
  const std::vector<std::string> fields = {"a\nsystem 'touch x'"};
  const std::string script = gnuplot_script({}, fields, "t.jsonl\r\nsystem 'touch y'", "o.png");
  EXPECT_EQ(script.find("\nsystem"), std::string::npos) << script;
  const std::string_view args[] = {"t.jsonl", "eps_vbatt", "-o", "p.png\nsystem 'touch z'"};
  EXPECT_EQ(plot_command(args), 2);
}

// The script drives the real gnuplot, two panels, to a path that needs quoting.
TEST(KissPlotLoopback, GnuplotWritesThePng) {
  TempDir dir;
  const std::string png = dir.path() + "/o'k.png";
  const std::vector<std::string> fields = {"eps_vbatt", "t"};
  PlotInput in = read_plot_input(jsonl, fields);
  ProgramRun run = run_program({"gnuplot"}, gnuplot_script(in.rows, fields, "test", png));
  if (!run.started) GTEST_SKIP() << "gnuplot is not installed";
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(read_file(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

#ifdef KESTRELIS_KISS_PATH
// An output path that cannot be written is refused with one line before
// gnuplot runs, which would otherwise draw the image to standard output.
TEST(KissPlotLoopback, UnwritableOutputIsRefusedWithOneLineAndNothingOnStandardOutput) {
  TempDir dir;
  const std::string records = dir.path() + "/r.jsonl";
  ASSERT_EQ(write_text_file(records, jsonl), 0);
  const std::string locked = dir.path() + "/locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(
      locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const bool locked_is_writable = write_text_file(locked + "/probe", "") == 0;  // as root
  const struct {
    std::string png;
    std::string reason;
  } rows[] = {
      {dir.path() + "/missing/x.png", "the folder " + dir.path() + "/missing does not exist"},
      {dir.path(), "it is a folder"},
      {locked + "/x.png", "Permission denied"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.png);
    if (row.png.starts_with(locked) && locked_is_writable) continue;
    const std::string errors = dir.path() + "/errors";
    ChildProcess kiss({"/bin/sh", "-c", "exec \"$@\" 2>" + errors, "sh", KESTRELIS_KISS_PATH,
                       "plot", records, "eps_vbatt", "-o", row.png},
                      {});
    EXPECT_EQ(describe_wait_status(kiss.wait_exit(10000)), "exit status 1");
    EXPECT_EQ(kiss.output().size(), 0u);
    EXPECT_EQ(read_file(errors), "plot: cannot write " + row.png + ": " + row.reason + "\n");
  }
}

// --list of a file cut by a power cut: each field with the records that hold
// it and its unit, and one message about the last line.
TEST(KissPlotLoopback, ListsFieldsUpToADamagedLastLine) {
  TempDir dir;
  const std::string records = dir.path() + "/r.jsonl";
  ASSERT_EQ(write_text_file(records, mixed), 0);
  const std::string errors = dir.path() + "/errors";
  ChildProcess kiss({"/bin/sh", "-c", "exec \"$@\" 2>" + errors, "sh", KESTRELIS_KISS_PATH, "plot",
                     records, "--list", "--sat", "1"},
                    {});
  EXPECT_EQ(describe_wait_status(kiss.wait_exit(10000)), "exit status 0");
  for (const char* line :
       {"_kind                           2  text\n", "eps_vbatt                       2  mV\n",
        "UNIX                            2  -\n", "2 records (sat 1), 6 fields\n"}) {
    EXPECT_NE(kiss.output().find(line), std::string::npos) << line << kiss.output();
  }
  EXPECT_EQ(read_file(errors), "plot: " + records +
                                   ": the last line is incomplete (cut short while it was "
                                   "written); read up to it\n");
}
#endif

}  // namespace

}  // namespace kestrelis
