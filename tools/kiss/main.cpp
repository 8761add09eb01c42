// kestrelis-kiss: the operator's terminal client for the TNC's GUI port.

#include <span>
#include <string_view>
#include <vector>

#include "kiss/client.hpp"
#include "kiss/plot.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "plot") {
    return kestrelis::plot_command(std::span(args).subspan(1));
  }
  return kestrelis::client_command(args);
}
