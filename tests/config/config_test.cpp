#include "config/config.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace kestrelis {

namespace {

// Every field of the record as "name=[value]", in declaration order.
std::string summary(const TncConfig& c) {
  std::ostringstream s;
  s << "GR_ReceivePort=[" << c.GR_ReceivePort << "] GR_TransmitPort=[" << c.GR_TransmitPort
    << "] KISS_Port=[" << c.KISS_Port << "] PreambleLength=[" << c.PreambleLength
    << "] PostambleLength=[" << c.PostambleLength << "] VerboseLevel=[" << c.VerboseLevel
    << "] CallFrom=[" << c.CallFrom << "] PTT_ON_Command=[" << c.PTT_ON_Command
    << "] PPT_OFF_Command=[" << c.PPT_OFF_Command << "] Address=[" << c.Address << "] Port=["
    << c.Port << "] KeyUpDelay=[" << c.KeyUpDelay << "] KeyDownDelay=[" << c.KeyDownDelay
    << "] KISS_Address=[" << c.KISS_Address << "] GR_ReceiveAddress=[" << c.GR_ReceiveAddress
    << "] Acquisition=[" << c.Acquisition << "] SyncBitErrors=[" << c.SyncBitErrors
    << "] StatsInterval=[" << c.StatsInterval << "] ModemSilence=[" << c.ModemSilence << "]";
  return s.str();
}

TEST(Config, InCodeDefaultsAndTheDefaultFile) {
  EXPECT_EQ(summary(TncConfig{}),
            "GR_ReceivePort=[53010] GR_TransmitPort=[53011] KISS_Port=[53013] PreambleLength=[50] "
            "PostambleLength=[0] VerboseLevel=[1] CallFrom=[] PTT_ON_Command=[T 1] "
            "PPT_OFF_Command=[T 0] Address=[] Port=[] KeyUpDelay=[0] KeyDownDelay=[0] "
            "KISS_Address=[] GR_ReceiveAddress=[] Acquisition=[described] SyncBitErrors=[6] "
            "StatsInterval=[0] ModemSilence=[10]");
  std::string_view text = default_config_text();
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 44);
  EXPECT_TRUE(
      text.starts_with("[gnuradio]\n; AudioCard_RX_DeviceName = Line (USB Audio Device)\n"));
  EXPECT_TRUE(text.ends_with("KeyDownDelay = 500\n\n"));
  EXPECT_NE(text.find(";; \"T 1\" and \"T 0\" are default\n"), std::string_view::npos);
  TncConfig config;
  std::vector<std::string> notes;
  EXPECT_EQ(load_config_text(text, config, &notes), 0);
  EXPECT_EQ(summary(config),
            "GR_ReceivePort=[55012] GR_TransmitPort=[55011] KISS_Port=[55013] PreambleLength=[50] "
            "PostambleLength=[0] VerboseLevel=[1] CallFrom=[NOCALL] PTT_ON_Command=[T 1] "
            "PPT_OFF_Command=[T 0] Address=[127.0.0.1] Port=[4532] KeyUpDelay=[200] "
            "KeyDownDelay=[500] KISS_Address=[] GR_ReceiveAddress=[] Acquisition=[described] "
            "SyncBitErrors=[6] StatsInterval=[0] ModemSilence=[10]");
  EXPECT_TRUE(notes.empty()) << notes.front();  // the modem's own keys are known
}

// Keys, values and error lines; mistakes read around are named, one line each.
TEST(Config, KeysValuesErrorLinesAndNotes) {
  struct Case {
    const char* name;
    std::string text;
    std::string fields;     // as the record's summary shows them
    int result = 0;         // the first error line
    std::string note = {};  // the one note expected; empty: not checked
  };
  const std::string a188(188, 'a');
  const std::string b192(192, 'b');
  const Case cases[] = {
      {"names match with case", "[rigctld]\nkeyupdelay = 300\n", "KeyUpDelay=[0]", 2},
      {"wrong section", "[radio]\nKeyUpDelay = 300\n", "KeyUpDelay=[0]", 2},
      {"PTT spelling of the off key", "[rigctld]\nPTT_OFF_Command = T 9\n",
       "PPT_OFF_Command=[T 9]"},
      {"empty address", "[rigctld]\nAddress = 1.2.3.4\nAddress =\n", "Address=[]"},
      {"verbose level in modem", "[modem]\nVerboseLevel = 5\n", "VerboseLevel=[5]"},
      // A line longer than 199 characters is ignored whole: no piece of it is a line.
      {"long comment ending in a key", "[KISS]\n; " + a188 + " KISS_Port = 56931\n",
       "KISS_Port=[53013]", 2, "Config: line 2 is longer than 199 characters; ignored\n"},
      {"long value", "[rigctld]\nPort = " + b192 + "Address = h\nKeyUpDelay = 7\n",
       "Address=[] Port=[] KeyUpDelay=[7]", 2,
       "Config: line 2 is longer than 199 characters; ignored\n"},
      {"long line at the end, no line end", "[radio]\nCallFrom = A\nCallFrom = " + b192,
       "CallFrom=[A]", 3, "Config: line 3 is longer than 199 characters; ignored\n"},
      {"line of 199 characters", "[radio]\nCallFrom = " + a188 + "\n", "CallFrom=[" + a188 + "]"},
      {"line of 199 characters and a carriage return", "[radio]\r\nCallFrom = " + a188 + "\r\n",
       "CallFrom=[" + a188 + "]"},
      {"line of 200 characters", "[radio]\nCallFrom = " + a188 + "b\n", "CallFrom=[]", 2,
       "Config: line 2 is longer than 199 characters; ignored\n"},
      {"error before a long line", "[radio]\nNope = 1\nCallFrom = " + b192 + "\n", "CallFrom=[]",
       2},
      {"error after a long line", "[radio]\nCallFrom = " + b192 + "\nNope = 1\n", "CallFrom=[]", 2},
      {"unknown key", "[radio]\nCallFrom = A\nNope = 1\n", "CallFrom=[A]", 3,
       "Config: unknown key Nope in [radio] ignored\n"},
      {"unknown section", "[kiss]\nKISS_Port = 1\n", "KISS_Port=[53013]", 2,
       "Config: unknown section [kiss] (key KISS_Port ignored)\n"},
      {"slip of case", "[KISS]\nKISS_port = 1\n", "KISS_Port=[53013]", 2,
       "Config: unknown key KISS_port in [KISS] ignored; did you mean KISS_Port?\n"},
      {"slip of a letter", "[rigctld]\nKeyUpDelai = 1\n", "KeyUpDelay=[0]", 2,
       "Config: unknown key KeyUpDelai in [rigctld] ignored; did you mean KeyUpDelay?\n"},
      {"leading digits of an integer", "[rigctld]\nKeyDownDelay = 500ms\n", "KeyDownDelay=[500]", 0,
       "Config: KeyDownDelay = 500ms has text after the number; read as 500\n"},
      // Read as 0 (atoi's reading), a word would hide every levelled console line.
      {"verbose level that is no number", "[modem]\nVerboseLevel = two\n", "VerboseLevel=[1]", 0,
       "Config: VerboseLevel = two is not a number; using 1\n"},
      {"no number keeps the default", "[modem]\nModemSilence = off\n", "ModemSilence=[10]", 0,
       "Config: ModemSilence = off is not a number; using 10\n"},
      {"verbose level 0 is a number", "[modem]\nVerboseLevel = 0\n", "VerboseLevel=[0]", 0},
      {"integer beyond the top", "[rigctld]\nKeyUpDelay = 99999999999\n", "KeyUpDelay=[2147483647]",
       0,
       "Config: KeyUpDelay = 99999999999 is beyond what a number here can hold; read as "
       "2147483647\n"},
      {"integer beyond the bottom", "[rigctld]\nKeyUpDelay = -2147483649\n",
       "KeyUpDelay=[-2147483648]", 0,
       "Config: KeyUpDelay = -2147483649 is beyond what a number here can hold; read as "
       "-2147483648\n"},
  };
  TempDir dir;
  const std::string file = dir.path() + "/config.ini";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TncConfig config;
    std::vector<std::string> notes;
    EXPECT_EQ(load_config_text(c.text, config, &notes), c.result);
    EXPECT_NE(summary(config).find(c.fields), std::string::npos) << summary(config);
    if (!c.note.empty()) {
      EXPECT_EQ(notes, std::vector<std::string>{c.note});
    }
    // The file is read line by line as the text is.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
    TncConfig from_file;
    std::vector<std::string> file_notes;
    EXPECT_EQ(load_config(file, from_file, &file_notes), c.result);
    EXPECT_EQ(summary(from_file), summary(config));
    EXPECT_EQ(file_notes, notes);
  }
}

// Lines are counted on past a long line, and every long line is named.
TEST(Config, EachLongLineIsNamedByItsNumber) {
  const std::string comment = "; " + std::string(300, 'c') + "\n";
  TncConfig config;
  std::vector<std::string> notes;
  EXPECT_EQ(load_config_text("[radio]\n" + comment + "CallFrom = A\n" + comment + comment, config,
                             &notes),
            2);
  EXPECT_EQ(config.CallFrom, "A");
  EXPECT_EQ(notes,
            (std::vector<std::string>{"Config: line 2 is longer than 199 characters; ignored\n",
                                      "Config: line 4 is longer than 199 characters; ignored\n",
                                      "Config: line 5 is longer than 199 characters; ignored\n"}));
}

// A folder reads as an empty file and a pipe waits for a writer: both are
// refused as a missing file is.
TEST(Config, AnythingButARegularFileIsMinusOne) {
  TempDir dir;
  const std::string pipe = dir.path() + "/pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path :
       {std::string("/nonexistent/kestrelis/config.ini"), dir.path(), pipe}) {
    SCOPED_TRACE(path);
    TncConfig c;
    EXPECT_EQ(load_config(path, c), -1);
  }
}

struct RangeCase {
  std::string name;
  std::string text;
  std::string message;      // empty: accepted as corrected
  std::string fields = {};  // what the record holds afterwards; empty: the in-code defaults
};

// `key` = `value` in [`section`], refused as outside `range` for `fallback`.
RangeCase outside(const std::string& section, const std::string& key, const std::string& value,
                  const std::string& range, const std::string& fallback,
                  const std::string& fields = {}) {
  const std::string line = key + " = " + value;
  return {line, "[" + section + "]\n" + line + "\n",
          "Config: " + line + " is outside " + range + "; using " + fallback + "\n", fields};
}

TEST(Config, ValuesOutsideWhatCanBeHonouredFallBackWithOneLine) {
  const std::string any = "0 ... 2147483647", port = "1 ... 65535";
  const RangeCase cases[] = {
      outside("radio", "PreambleLength", "10001", "0 ... 10000", "50"),
      outside("radio", "PostambleLength", "-3", "0 ... 10000", "0"),
      outside("rigctld", "KeyUpDelay", "-200", any, "0"),
      outside("rigctld", "KeyDownDelay", "-1", any, "0"),
      outside("KISS", "KISS_Port", "0", port, "53013"),
      outside("modem", "GR_ReceivePort", "65536", port, "53010"),
      outside("modem", "GR_TransmitPort", "-5", port, "53011"),
      outside("rigctld", "Port", "70000", port, "4532", "Port=[4532]"),  // the resolver would wrap
      outside("rigctld", "Port", "rigctl", port, "4532", "Port=[4532]"),
      outside("modem", "SyncBitErrors", "9", "0 ... 8", "6"),
      outside("modem", "StatsInterval", "-1", any, "0"),
      outside("modem", "ModemSilence", "-1", any, "10"),
      outside("KISS", "MaxClients", "0", "1 ... 16", "1"),
      outside("KISS", "MaxClients", "17", "1 ... 16", "1"),
      {"most GUI clients", "[KISS]\nMaxClients = 16\n", ""},
      {"long keying command", "[rigctld]\nPTT_ON_Command = " + std::string(100, 'T') + "\n",
       "Config: PTT_ON_Command is 100 characters long, more than 99; using \"T 1\"\n"},
      {"address without a port", "[rigctld]\nAddress = 127.0.0.1\n",
       "Config: Address is set but Port is empty; using 4532\n", "Address=[127.0.0.1] Port=[4532]"},
      {"empty off command", "[rigctld]\nPPT_OFF_Command =\n",
       "Config: PPT_OFF_Command is empty and could never unkey the transmitter; using \"T 0\"\n"},
      {"no keying commands at all", "[rigctld]\nPTT_ON_Command =\nPPT_OFF_Command =\n", "",
       "PTT_ON_Command=[] PPT_OFF_Command=[]"},
      {"unknown acquisition", "[modem]\nAcquisition = fast\n",
       "Config: Acquisition = fast is neither described nor robust; using described\n"},
      // A bind address that does not parse must never open the port to the network.
      {"address that does not parse", "[KISS]\nKISS_Address = 127.1\n",
       "Config: KISS_Address = 127.1 is not an IPv4 address; listening on 127.0.0.1 only\n",
       "KISS_Address=[127.0.0.1]"},
      {"address with a comment", "[modem]\nGR_ReceiveAddress = 127.0.0.1#gui\n",
       "Config: GR_ReceiveAddress = 127.0.0.1#gui is not an IPv4 address; listening on 127.0.0.1 "
       "only\n",
       "GR_ReceiveAddress=[127.0.0.1]"},
      {"localhost", "[KISS]\nKISS_Address = localhost\n", "", "KISS_Address=[127.0.0.1]"},
      {"values at the edges",
       "[radio]\nPreambleLength = 10000\n[modem]\nGR_ReceivePort = 65535\nSyncBitErrors = 8\n"
       "GR_ReceiveAddress = 127.0.0.1\nAcquisition = robust\n[rigctld]\nPort = 65535\n"
       "PPT_OFF_Command = " +
           std::string(99, 'x') + "\n",
       "", "GR_ReceiveAddress=[127.0.0.1] Acquisition=[robust] SyncBitErrors=[8]"},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TncConfig config;
    (void)load_config_text(c.text, config);
    EXPECT_EQ(check_config_ranges(config),
              c.message.empty() ? std::vector<std::string>{} : std::vector{c.message});
    EXPECT_NE(summary(config).find(c.fields.empty() ? summary(TncConfig{}) : c.fields),
              std::string::npos)
        << summary(config);
  }
}

}  // namespace

}  // namespace kestrelis
