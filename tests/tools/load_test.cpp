// A short run of the load tool against the real TNC.

#include <gtest/gtest.h>

#include <string>

#include "support/process.hpp"
#include "system/child_process.hpp"

namespace kestrelis {

namespace {

#ifdef KESTRELIS_LOAD_PATH
TEST(LoadToolLoopback, ShortNoiseRunAccountsForEveryPlantedFrame) {
  ChildProcess load({KESTRELIS_LOAD_PATH, "--tnc", KESTRELIS_TNC_PATH, "--quick", "--sections", "b",
                     "--bits", "2e6"},
                    {});
  const int status = load.wait_exit(120'000);
  const std::string report = load.output();
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("(b) planted frames received exactly once: 19 of 19"), std::string::npos)
      << report;
  EXPECT_NE(report.find("TNC ended on SIGTERM: ended by SIGTERM"), std::string::npos) << report;
}
#endif

}  // namespace

}  // namespace kestrelis
