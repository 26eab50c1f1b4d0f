#include "harness.h"

using CliTest = E2eTest;

TEST_F(CliTest, UnknownOptionIsReportedWithStatus3) {
  const RunResult result = run({"img.vem", "-xyz"});
  EXPECT_EQ(result.out, out_with_banner(""));
  EXPECT_EQ(result.err, err_line("Unknown option: -xyz"));
  EXPECT_EQ(result.status, 3);
  EXPECT_FALSE(exists("img.vem"));
}
