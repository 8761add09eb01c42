// Prints the default config.ini that the TNC writes on first start, so that
// the installed example is the very same text.

#include "app/config.hpp"
#include "app/console_log.hpp"

int main() {
  console_text(default_config_text());
  return 0;
}
