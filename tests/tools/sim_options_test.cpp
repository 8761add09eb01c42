// The simulator's command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/options.hpp"

namespace {

std::optional<SimOptions> parse(std::vector<std::string_view> args) {
  std::string error;
  std::optional<SimOptions> o = parse_sim_options(args, error);
  EXPECT_EQ(o.has_value(), error.empty()) << error;
  return o;
}

TEST(SimOptions, ReadsValuesInBothFormsAndRefusesWhatDoesNotFit) {
  const std::optional<SimOptions> o =
      parse({"--bitrate=max", "--bit-offset", "7", "--layouts", "1.5,3.11", "--rx-port=1", "-q"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->bitrate, 0);
  EXPECT_EQ(o->bit_offset, 7);
  EXPECT_EQ(o->layouts, (std::vector<size_t>{0, 8}));
  EXPECT_EQ(o->rx_port, 1);
  EXPECT_TRUE(o->quiet);

  for (const auto& bad : std::vector<std::vector<std::string_view>>{
           {"--bitrate", "1199"}, {"--datagram", "2049"}, {"--datagram", "0"},
           {"--bit-offset", "8"}, {"--layouts", "1.4"}, {"--layouts", ""},
           {"--rx-port", "65536"}, {"--ber", "0.6"}, {"--seed"}, {"--colour", "1"}}) {
    SCOPED_TRACE(testing::Message() << bad[0] << " " << (bad.size() > 1 ? bad[1] : ""));
    EXPECT_FALSE(parse(bad));
  }
}

}  // namespace
