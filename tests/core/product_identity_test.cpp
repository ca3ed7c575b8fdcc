#include "core/product_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin::core {
namespace {

struct EpochCase {
  std::int64_t seconds;
  const char* date;
};

class BuildDateFromEpochTest : public ::testing::TestWithParam<EpochCase> {};

// The day is UTC's, whatever the hour; single blanks and no leading zero.
TEST_P(BuildDateFromEpochTest, GivesTheDayInTheIdentitysForm) {
  EXPECT_EQ(BuildDateFromEpoch(GetParam().seconds), GetParam().date);
}

INSTANTIATE_TEST_SUITE_P(
    Days, BuildDateFromEpochTest,
    ::testing::Values(EpochCase{1796428800, "Dec 5 2026"}, EpochCase{1796515199, "Dec 5 2026"},
                      EpochCase{1796515200, "Dec 6 2026"}, EpochCase{1768003200, "Jan 10 2026"},
                      EpochCase{1709208000, "Feb 29 2024"}, EpochCase{0, "Jan 1 1970"},
                      EpochCase{2147483648, "Jan 19 2038"}));

TEST(BuildDateFromCompilerDate, DropsTheSecondBlankAndTheLeadingZero) {
  EXPECT_EQ(BuildDateFromCompilerDate("Dec  5 2026"), "Dec 5 2026");
  EXPECT_EQ(BuildDateFromCompilerDate("Jan 10 2027"), "Jan 10 2027");
  EXPECT_EQ(BuildDateFromCompilerDate("??? ?? ????"), std::nullopt);
}

TEST(ProductIdentity, TheBuildsDateHasTheIdentitysFormAndTheVersionComesFromTheProject) {
  const std::string date = BuildDate();
  EXPECT_EQ(date, BuildDateFromCompilerDate(date)) << date;
  const auto& id = kProductIdentity;
  EXPECT_EQ(
      std::to_string(id.major) + "." + std::to_string(id.minor) + "." + std::to_string(id.build),
      kVersionNumber);
}

}  // namespace
}  // namespace tavrin::core
