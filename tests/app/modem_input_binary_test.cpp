// The live TNC with soft input: the line at start-up, a frame sent as soft
// values, and the warning when the datagrams look like the other form than
// Input names.

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "radio/soft_stream.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/downlink_packets.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

// 4800 soft values of random bits, +-1 with Gaussian noise (sigma 0.2), then
// the list frame.
std::vector<uint8_t> soft_stream() {
  std::mt19937 rng(2814);
  std::normal_distribution<double> noise(0, 0.2);
  std::vector<uint8_t> stream(4800);
  for (uint8_t& v : stream) {
    const double x = (rng() % 2 == 1 ? 1 : -1) + noise(rng);
    v = static_cast<uint8_t>(static_cast<int8_t>(std::floor(63.5 * x)));
  }
  const std::vector<uint8_t> frame = soft_datagram_of(soft_of(list_frame));
  stream.insert(stream.end(), frame.begin(), frame.end());
  return stream;
}

TEST(ModemInputBinary, SoftFramesAndAWarningForTheOtherForm) {
  const std::string soft_line = "the datagrams look like soft values";
  const std::string packed_line = "the datagrams look like packed bits";
  std::mt19937 rng(2815);
  std::vector<uint8_t> packed(4800);  // random bytes: packed bits
  for (uint8_t& v : packed) v = static_cast<uint8_t>(rng());
  // Input, the datagrams, the lines awaited and a text that must not appear.
  const std::tuple<std::string, std::vector<uint8_t>, std::vector<std::string>, std::string>
      cases[] = {
          {"soft8",
           soft_stream(),
           {"Input = soft8: frames are found by the robust search",
            "Received self-generated packet"},
           "the datagrams look like"},
          {"bits", soft_stream(), {soft_line}, packed_line},
          {"soft8", packed, {packed_line}, soft_line},
      };
  for (const auto& [input, stream, awaited, absent] : cases) {
    SCOPED_TRACE(input + " " + awaited.back());
    const TncPorts ports;
    TncProfile profile(ports.ini("ModemSilence = 0\nInput = " + input + "\n") +
                       "[rigctld]\nAddress =\n");
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    send_stream(ports.modem, stream, 480);
    for (const std::string& line : awaited) {
      ASSERT_TRUE(tnc.wait_for_output(line, 5000)) << line << "\n" << tnc.output();
    }
    ASSERT_GE(tnc.stop(SIGTERM, 5000), 0);
    EXPECT_EQ(tnc.output().find(absent), std::string::npos) << absent;
  }
}

}  // namespace

}  // namespace kestrelis
