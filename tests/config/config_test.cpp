#include "config/config.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace kestrelis {

namespace {

// The record after `text` has been read into the in-code defaults.
TncConfig loaded(const std::string& text, int* result = nullptr) {
  TncConfig config;
  int r = load_config_text(text, config);
  if (result != nullptr) *result = r;
  return config;
}

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
    << "]";
  return s.str();
}

TEST(Config, InCodeDefaultsAndTheDefaultFile) {
  EXPECT_EQ(summary(TncConfig{}),
            "GR_ReceivePort=[53010] GR_TransmitPort=[53011] KISS_Port=[53013] PreambleLength=[50] "
            "PostambleLength=[0] VerboseLevel=[1] CallFrom=[] PTT_ON_Command=[T 1] "
            "PPT_OFF_Command=[T 0] Address=[] Port=[] KeyUpDelay=[0] KeyDownDelay=[0] "
            "KISS_Address=[] GR_ReceiveAddress=[]");
  std::string_view text = default_config_text();
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 44);
  EXPECT_TRUE(
      text.starts_with("[gnuradio]\n; AudioCard_RX_DeviceName = Line (USB Audio Device)\n"));
  EXPECT_TRUE(text.ends_with("KeyDownDelay = 500\n\n"));
  EXPECT_NE(text.find(";; \"T 1\" and \"T 0\" are default\n"), std::string_view::npos);
  int result = 0;
  EXPECT_EQ(summary(loaded(std::string(text), &result)),
            "GR_ReceivePort=[55012] GR_TransmitPort=[55011] KISS_Port=[55013] PreambleLength=[50] "
            "PostambleLength=[0] VerboseLevel=[1] CallFrom=[NOCALL] PTT_ON_Command=[T 1] "
            "PPT_OFF_Command=[T 0] Address=[127.0.0.1] Port=[4532] KeyUpDelay=[200] "
            "KeyDownDelay=[500] KISS_Address=[] GR_ReceiveAddress=[]");
  EXPECT_EQ(result, 8);  // SSB_Mode = LSB is no key of ours: the first error line
}

TEST(Config, KeysValuesAndErrorLines) {
  struct Case {
    const char* name;
    std::string text;
    std::string fields;  // as the record's summary shows them
    int result = 0;      // the first error line
  };
  const std::string a188(188, 'a');
  const std::string b192(192, 'b');
  const Case cases[] = {
      {"names match with case", "[rigctld]\nkeyupdelay = 300\n", "KeyUpDelay=[0]", 2},
      {"wrong section", "[radio]\nKeyUpDelay = 300\n", "KeyUpDelay=[0]", 2},
      {"only PPT is the off key", "[rigctld]\nPTT_OFF_Command = T 9\n", "PPT_OFF_Command=[T 0]", 2},
      {"empty address", "[rigctld]\nAddress = 1.2.3.4\nAddress =\n", "Address=[]"},
      {"verbose level in modem", "[modem]\nVerboseLevel = 5\n", "VerboseLevel=[5]"},
      {"leading digits of an integer", "[rigctld]\nKeyUpDelay = 200ms\n", "KeyUpDelay=[200]"},
      {"non-numeric integer is zero", "[rigctld]\nKeyUpDelay = soon\n", "KeyUpDelay=[0]"},
      {"huge integer saturates", "[rigctld]\nKeyUpDelay = 99999999999999\n",
       "KeyUpDelay=[2147483647]"},
      // A line is read in pieces of 199 characters, each parsed as a line of its own.
      {"second piece an error line", "[radio]\nCallFrom = " + a188 + "KeyUpDelay = 5\n",
       "CallFrom=[" + a188 + "]", 3},
      {"second piece a key", "[rigctld]\nPort = " + b192 + "Address = h\n",
       "Address=[h] Port=[" + b192 + "]"},
      {"unknown key", "[radio]\nCallFrom = A\nNope = 1\n", "CallFrom=[A]", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int result = -5;
    const std::string fields = summary(loaded(c.text, &result));
    EXPECT_NE(fields.find(c.fields), std::string::npos) << fields;
    EXPECT_EQ(result, c.result);
  }
}

TEST(Config, TextValuesAreCutAt499Characters) {
  TncConfig c;
  std::string value(600, 'z');
  EXPECT_EQ(config_handler(&c, "radio", "CallFrom", value.c_str()), 1);
  EXPECT_EQ(c.CallFrom, std::string(499, 'z'));
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

TEST(Config, ValuesOutsideWhatCanBeHonouredFallBackWithOneLine) {
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"preamble too long", "[radio]\nPreambleLength = 10001\n",
       "Config: PreambleLength = 10001 is outside 0 ... 10000; using 50\n"},
      {"negative preamble", "[radio]\nPreambleLength = -1\n",
       "Config: PreambleLength = -1 is outside 0 ... 10000; using 50\n"},
      {"negative postamble", "[radio]\nPostambleLength = -3\n",
       "Config: PostambleLength = -3 is outside 0 ... 10000; using 0\n"},
      {"negative key-up delay", "[rigctld]\nKeyUpDelay = -200\n",
       "Config: KeyUpDelay = -200 is outside 0 ... 2147483647; using 0\n"},
      {"negative key-down delay", "[rigctld]\nKeyDownDelay = -1\n",
       "Config: KeyDownDelay = -1 is outside 0 ... 2147483647; using 0\n"},
      {"port zero", "[KISS]\nKISS_Port = 0\n",
       "Config: KISS_Port = 0 is outside 1 ... 65535; using 53013\n"},
      {"port too high", "[modem]\nGR_ReceivePort = 65536\n",
       "Config: GR_ReceivePort = 65536 is outside 1 ... 65535; using 53010\n"},
      {"transmit port negative", "[modem]\nGR_TransmitPort = -5\n",
       "Config: GR_TransmitPort = -5 is outside 1 ... 65535; using 53011\n"},
      {"long keying command", "[rigctld]\nPTT_ON_Command = " + std::string(100, 'T') + "\n",
       "Config: PTT_ON_Command is 100 characters long, more than 99; using \"T 1\"\n"},
      {"address that does not parse", "[KISS]\nKISS_Address = localhost\n",
       "Config: KISS_Address = localhost is not an IPv4 address; listening on all interfaces\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TncConfig config = loaded(c.text);
    EXPECT_EQ(check_config_ranges(config), std::vector<std::string>{c.message});
    EXPECT_EQ(summary(config), summary(TncConfig{}));
  }
  TncConfig edge = loaded(
      "[radio]\nPreambleLength = 10000\n[modem]\nGR_ReceivePort = 65535\n"
      "GR_ReceiveAddress = 127.0.0.1\n[rigctld]\nPPT_OFF_Command = " +
      std::string(99, 'x') + "\n");
  EXPECT_TRUE(check_config_ranges(edge).empty());
  EXPECT_EQ(edge.GR_ReceiveAddress, "127.0.0.1");
}

}  // namespace

}  // namespace kestrelis
