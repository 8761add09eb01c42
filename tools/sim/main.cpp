// kestrelis-sim: the modem and the satellite for kestrelis-tnc, on loopback.

#include <string_view>
#include <vector>

#include "sim/simulator.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return kestrelis::sim_command(args);
}
