#include "config/config.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "support/process.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

// The value of `key` in `config`, as the file writes it.
std::string value_of(const TncConfig& config, std::string_view key) {
  std::string text = "(no such key)";
  visit_settings(config, [&](const auto& row, const auto& member) {
    if (row.key == key) text = setting_text(member);
  });
  return text;
}

// The notes as the console prints them.
std::string printed(const std::vector<ConfigNote>& notes) {
  std::string lines;
  for (const ConfigNote& note : notes) lines += config_note_text(note);
  return lines;
}

// Every key as the documents give it: its in-code default, what the default
// file sets it to, and for a number the range it must be in (bounds
// included), outside which the default is used instead.
struct Documented {
  const char* section;
  const char* key;
  const char* in_code;
  const char* from_default_file;
  int64_t min = 1;
  int64_t max = 0;  // below min: no range
};
constexpr int64_t top = INT32_MAX;
constexpr Documented documented[] = {{"modem", "GR_ReceivePort", "53010", "55012", 1, 65535},
                                     {"modem", "GR_TransmitPort", "53011", "55011", 1, 65535},
                                     {"KISS", "KISS_Port", "53013", "55013", 1, 65535},
                                     {"radio", "PreambleLength", "50", "50", 0, 10000},
                                     {"radio", "PostambleLength", "0", "0", 0, 10000},
                                     {"modem", "VerboseLevel", "1", "1", INT32_MIN, top},
                                     {"radio", "CallFrom", "", "NOCALL"},
                                     {"rigctld", "PTT_ON_Command", "T 1", "T 1"},
                                     {"rigctld", "PPT_OFF_Command", "T 0", "T 0"},
                                     {"rigctld", "Address", "", "127.0.0.1"},
                                     {"rigctld", "Port", "", "4532"},
                                     {"rigctld", "KeyUpDelay", "0", "200", 0, top},
                                     {"rigctld", "KeyDownDelay", "0", "500", 0, top},
                                     {"KISS", "MaxClients", "1", "1", 1, 16},
                                     {"KISS", "KISS_Address", "", ""},
                                     {"modem", "GR_ReceiveAddress", "", ""},
                                     {"modem", "Input", "bits", "bits"},
                                     {"modem", "Acquisition", "described", "described"},
                                     {"modem", "SyncBitErrors", "6", "6", 0, 8},
                                     {"modem", "StatsInterval", "0", "0", 0, top},
                                     {"modem", "ModemSilence", "10", "10", 0, top},
                                     {"modem", "PacketLog", "1", "1", 0, 1},
                                     {"modem", "StreamRecording", "0", "0", 0, 1},
                                     {"modem", "RecordingLimitMB", "1024", "1024", 0, top}};

// Every key of the list is documented, with a range exactly when it is a number.
TEST(Config, DocumentedDefaultsDefaultFileAndRanges) {
  const std::string_view text = default_config_text();
  // The documented text, byte for byte, and its documented size.
  EXPECT_EQ(std::tuple(text.size(), std::ranges::count(text, '\n')), std::tuple(1023u, 44));
  EXPECT_EQ(crc32c({reinterpret_cast<const uint8_t*>(text.data()), text.size()}), 0xAACD4A3Fu);
  TncConfig from_file;
  std::vector<ConfigNote> notes;
  EXPECT_EQ(load_config_text(text, from_file, &notes), 0);
  EXPECT_EQ(printed(notes), "");  // the modem's own keys are known
  size_t rows = 0;
  visit_settings(from_file, [&](const auto& row, const auto& member) {
    SCOPED_TRACE(row.key);
    ++rows;
    const auto d = std::ranges::find(documented, row.key, &Documented::key);
    ASSERT_NE(d, std::end(documented));
    EXPECT_EQ(row.section, d->section);
    EXPECT_EQ(value_of(TncConfig{}, row.key), d->in_code);
    EXPECT_EQ(setting_text(member), d->from_default_file);
    EXPECT_EQ(NumberSetting<std::remove_cvref_t<decltype(member)>>, d->min <= d->max);
    // At both bounds of a range a value is taken as written; one step outside
    // it, it is named and replaced.
    if (d->min > d->max) return;
    for (const int64_t v : {d->min - 1, d->min, d->max, d->max + 1}) {
      if (v < INT32_MIN || v > INT32_MAX) continue;
      const std::string line = d->key + (" = " + std::to_string(v));
      SCOPED_TRACE(line);
      TncConfig config;
      std::vector<ConfigNote> range_notes;
      EXPECT_EQ(load_config_text("[" + std::string(d->section) + "]\n" + line + "\n", config,
                                 &range_notes),
                0);
      const bool inside = v >= d->min && v <= d->max;
      EXPECT_EQ(value_of(config, d->key), inside ? std::to_string(v) : d->in_code);
      EXPECT_EQ(printed(range_notes),
                inside ? ""
                       : "Config: " + line + " is outside " + std::to_string(d->min) + " ... " +
                             std::to_string(d->max) + "; using " + d->in_code + "\n");
    }
  });
  EXPECT_EQ(rows, std::size(documented));
}

// Keys, values and error lines; mistakes read around and values replaced are
// named, one line each.
TEST(Config, KeysValuesErrorLinesAndNotes) {
  const std::string a188(188, 'a');
  const std::string b192(192, 'b');
  const std::string c300 = "; " + std::string(300, 'c') + "\n";
  const auto long_line = [](int line) {
    return "Config: line " + std::to_string(line) + " is longer than 199 characters; ignored\n";
  };
  const std::string too_long = long_line(2);
  // Each row: its name, the text, a key, its value as the file would write it,
  // the first error line and the notes as printed.
  const std::tuple<const char*, std::string, const char*, std::string, int, std::string> cases[] = {
      {"names match with case", "[rigctld]\nkeyupdelay = 300\n", "KeyUpDelay", "0", 2,
       "Config: unknown key keyupdelay in [rigctld] ignored; did you mean KeyUpDelay?\n"},
      {"wrong section", "[radio]\nKeyUpDelay = 300\n", "KeyUpDelay", "0", 2,
       "Config: unknown key KeyUpDelay in [radio] ignored\n"},
      {"PTT spelling of the off key", "[rigctld]\nPTT_OFF_Command = T 9\n", "PPT_OFF_Command",
       "T 9", 0, ""},
      {"empty address", "[rigctld]\nAddress = 1.2.3.4\nAddress =\n", "Address", "", 0, ""},
      // A line longer than 199 characters is ignored whole: no piece of it is a line.
      {"long comment ending in a key", "[KISS]\n; " + a188 + " KISS_Port = 56931\n", "KISS_Port",
       "53013", 2, too_long},
      {"long line at the end, no line end", "[radio]\nCallFrom = A\nCallFrom = " + b192, "CallFrom",
       "A", 3, long_line(3)},
      {"line of 199 characters", "[radio]\nCallFrom = " + a188 + "\n", "CallFrom", a188, 0, ""},
      {"199 characters and a carriage return", "[radio]\r\nCallFrom = " + a188 + "\r\n", "CallFrom",
       a188, 0, ""},
      {"line of 200 characters", "[radio]\nCallFrom = " + a188 + "b\n", "CallFrom", "", 2,
       too_long},
      {"unknown section", "[kiss]\nKISS_Port = 1\n", "KISS_Port", "53013", 2,
       "Config: unknown section [kiss] (key KISS_Port ignored)\n"},
      {"two letters swapped", "[rigctld]\nKeyUpDealy = 1\n", "KeyUpDelay", "0", 2,
       "Config: unknown key KeyUpDealy in [rigctld] ignored; did you mean KeyUpDelay?\n"},
      {"the forwarder's section", "[forward]\nURL = http://h/\n", "Address", "", 0, ""},
      {"leading digits of a number", "[rigctld]\nKeyDownDelay = 500s\n", "KeyDownDelay", "500", 0,
       "Config: KeyDownDelay = 500s has text after the number; read as 500\n"},
      // Read as 0 (atoi's reading), a word would hide every levelled console line.
      {"no number keeps the default", "[modem]\nVerboseLevel = two\n", "VerboseLevel", "1", 0,
       "Config: VerboseLevel = two is not a number; using 1\n"},
      {"number beyond the top", "[rigctld]\nKeyUpDelay = 99999999999\n", "KeyUpDelay", "2147483647",
       0,
       "Config: KeyUpDelay = 99999999999 is beyond what a number here can hold; read as "
       "2147483647\n"},
      {"last value refused", "[KISS]\nKISS_Port = 7\nKISS_Port = 0\n", "KISS_Port", "53013", 0,
       "Config: KISS_Port = 0 is outside 1 ... 65535; using 53013\n"},
      // Lines are counted on past a long line, and every long line is named.
      {"long lines counted", "[radio]\n" + c300 + "CallFrom = A\n" + c300 + c300, "CallFrom", "A",
       2, too_long + long_line(4) + long_line(5)},
      // Text rules, and rules between keys, which read the record the whole file left.
      // A service name or a number too large, the resolver would take for another port.
      {"port too large for a port", "[rigctld]\nPort = 65536\n", "Port", "4532", 0,
       "Config: Port = 65536 is outside 1 ... 65535; using 4532\n"},
      {"port as a service name", "[rigctld]\nPort = rigctl\n", "Port", "4532", 0,
       "Config: Port = rigctl is outside 1 ... 65535; using 4532\n"},
      {"highest port", "[rigctld]\nPort = 65535\n", "Port", "65535", 0, ""},
      {"address without a port", "[rigctld]\nAddress = 127.0.0.1\n", "Port", "4532", 0,
       "Config: Address is set but Port is empty; using 4532\n"},
      {"long keying command", "[rigctld]\nPTT_ON_Command = " + std::string(100, 'T') + "\n",
       "PTT_ON_Command", "T 1", 0,
       "Config: PTT_ON_Command is 100 characters long, more than 99; using \"T 1\"\n"},
      {"longest keying command", "[rigctld]\nPTT_ON_Command = " + std::string(99, 'x') + "\n",
       "PTT_ON_Command", std::string(99, 'x'), 0, ""},
      {"empty off command", "[rigctld]\nPPT_OFF_Command =\n", "PPT_OFF_Command", "T 0", 0,
       "Config: PPT_OFF_Command is empty and could never unkey the transmitter; using \"T 0\"\n"},
      {"no keying commands at all", "[rigctld]\nPPT_OFF_Command =\nPTT_ON_Command =\n",
       "PPT_OFF_Command", "", 0, ""},
      {"unknown acquisition", "[modem]\nAcquisition = fast\n", "Acquisition", "described", 0,
       "Config: Acquisition = fast is neither described nor robust; using described\n"},
      {"robust acquisition", "[modem]\nAcquisition = robust\n", "Acquisition", "robust", 0, ""},
      {"input named with another case", "[modem]\nInput = soft8\nInput = Soft8\n", "Input", "bits",
       0, "Config: Input = Soft8 is neither bits nor soft8; using bits\n"},
      // A bind address that does not parse must never open the port to the network.
      {"address that does not parse", "[KISS]\nKISS_Address = 127.1\n", "KISS_Address", "127.0.0.1",
       0, "Config: KISS_Address = 127.1 is not an IPv4 address; listening on 127.0.0.1 only\n"},
      {"address with a comment", "[modem]\nGR_ReceiveAddress = 10.0.0.1#gui\n", "GR_ReceiveAddress",
       "127.0.0.1", 0,
       "Config: GR_ReceiveAddress = 10.0.0.1#gui is not an IPv4 address; listening on 127.0.0.1 "
       "only\n"},
      {"localhost", "[KISS]\nKISS_Address = localhost\n", "KISS_Address", "127.0.0.1", 0, ""},
  };
  TempDir dir;
  const std::string file = dir.path() + "/config.ini";
  for (const auto& [name, text, key, value, result, printed_notes] : cases) {
    SCOPED_TRACE(name);
    TncConfig config;
    std::vector<ConfigNote> notes;
    EXPECT_EQ(load_config_text(text, config, &notes), result);
    EXPECT_EQ(value_of(config, key), value);
    EXPECT_EQ(printed(notes), printed_notes);
    // The file is read line by line as the text is.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    TncConfig from_file;
    std::vector<ConfigNote> file_notes;
    EXPECT_EQ(load_config(file, from_file, &file_notes), result);
    EXPECT_EQ(from_file, config);
    EXPECT_EQ(printed(file_notes), printed(notes));
    // Each key survives being written out and read back.
    TncConfig read_back;
    EXPECT_EQ(load_config_text(settings_ini_text(config), read_back), 0);
    EXPECT_EQ(read_back, config);
  }
}

// A folder reads as an empty file and a pipe waits for a writer: both are
// refused as a missing file is.
TEST(Config, AnythingButARegularFileIsMinusOne) {
  TempDir dir;
  const std::string pipe = dir.path() + "/pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/nonexistent/config.ini"), dir.path(), pipe}) {
    TncConfig c;
    EXPECT_EQ(load_config(path, c), -1) << path;
  }
}

}  // namespace

}  // namespace kestrelis
