// Prints the default config.ini that the TNC writes on first start, so that
// the installed example is the very same text.

#include "config/config.hpp"
#include "console/console_log.hpp"

int main() {
  kestrelis::console_text(kestrelis::Console{}, kestrelis::default_config_text());
  return 0;
}
