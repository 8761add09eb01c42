// The [modem] Input key: which form the modem's datagrams take.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.hpp"

namespace kestrelis {

namespace {

TEST(ModemInputKey, ReadsBitsOrSoft8AndKeepsBitsForAnythingElse) {
  const struct {
    const char* text;
    ModemInput expected;
    std::vector<std::string> notes;
  } cases[] = {
      {"[modem]\nVerboseLevel = 2\n", ModemInput::bits, {}},
      {"[modem]\nInput = soft8\n", ModemInput::soft8, {}},
      {"[modem]\nInput = soft8\nInput = bits\n", ModemInput::bits, {}},
      {"[modem]\nInput = Soft8\n",
       ModemInput::bits,
       {"Config: Input = Soft8 is neither bits nor soft8; using bits\n"}},
      {"[modem]\nInput = soft8\nInput = 8\n",
       ModemInput::bits,
       {"Config: Input = 8 is neither bits nor soft8; using bits\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TncConfig config;
    std::vector<std::string> notes;
    EXPECT_EQ(load_config_text(c.text, config, &notes), 0);
    EXPECT_EQ(config.Input, c.expected);
    EXPECT_EQ(notes, c.notes);
  }
}

}  // namespace

}  // namespace kestrelis
