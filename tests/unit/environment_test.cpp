// ExpandEnvironmentStringsA as Windows has it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"

namespace {

class Expand : public testing::Test {
 protected:
  void SetUp() override {
    setenv("ZELVO_A", "alpha", 1);
    setenv("zelvo_mixed", "Mixed", 1);
  }
  void TearDown() override {
    unsetenv("ZELVO_A");
    unsetenv("zelvo_mixed");
  }
  std::string Run(const char* text, DWORD size = 261, DWORD* result = nullptr) {
    char out[512];
    std::memset(out, '#', sizeof out);
    DWORD n = ExpandEnvironmentStringsA(text, out, size);
    if (result != nullptr) *result = n;
    return n != 0 && n <= size ? std::string(out) : std::string("<too small>");
  }
};

TEST_F(Expand, ReplacesKnownNamesWithoutRegardToCase) {
  EXPECT_EQ(Run("%ZELVO_A%\\x"), "alpha\\x");
  EXPECT_EQ(Run("%zelvo_a%%ZELVO_MIXED%"), "alphaMixed");
}

TEST_F(Expand, LeavesUnknownNamesAndLonePercentSigns) {
  EXPECT_EQ(Run("%NO_SUCH_ZELVO%\\x"), "%NO_SUCH_ZELVO%\\x");
  EXPECT_EQ(Run("100%"), "100%");
  EXPECT_EQ(Run("%%"), "%%");
  EXPECT_EQ(Run("%NO_SUCH%ZELVO_A%"), "%NO_SUCH%ZELVO_A%");
  EXPECT_EQ(Run("a%ZELVO_A"), "a%ZELVO_A");
}

TEST_F(Expand, CountsTheTerminatorAndReportsWhatDoesNotFit) {
  DWORD n = 0;
  EXPECT_EQ(Run("%ZELVO_A%", 261, &n), "alpha");
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(Run("%ZELVO_A%", 6, &n), "alpha");
  EXPECT_EQ(Run("%ZELVO_A%", 5, &n), "<too small>");
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(Run("", 261, &n), "");
  EXPECT_EQ(n, 1u);
}

TEST_F(Expand, NeverWritesPastTheBuffer) {
  char out[8];
  std::memset(out, '#', sizeof out);
  DWORD n = ExpandEnvironmentStringsA("%ZELVO_A%%ZELVO_A%", out, 4);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(out[3], '\0');
  EXPECT_EQ(out[4], '#');
}

}  // namespace
