#include "support/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace qbsync {
namespace {

constexpr const char* kEightPlaces = "Sierra value needs more than eight decimal places; API sync requires review.";
constexpr const char* kNonFinite = "Non-finite number in Sierra data; collection paused.";
constexpr const char* kRange = "Sierra value exceeds the 22-digit sync range; collection paused for review.";

template <typename F>
std::string outcome(F&& action) {
  try {
    return action();
  } catch (const std::exception& e) {
    return std::string("throws: ") + e.what();
  }
}

TEST(DecimalTest, DecimalTextTable) {
  struct Case {
    const char* name;
    double value;
    std::string expected;
  };
  const Case cases[] = {
      {"one and a half", 1.5, "1.5"},
      {"integer", 100, "100"},
      {"zero", 0.0, "0"},
      {"negative zero", -0.0, "0"},
      {"one tenth", 0.1, "0.1"},
      {"negative price", -12.25, "-12.25"},
      {"tick price", 6012.25, "6012.25"},
      {"eight places", 0.12345678, "0.12345678"},
      {"nine places", 0.123456789, std::string("throws: ") + kEightPlaces},
      {"one nano", 1e-9, std::string("throws: ") + kEightPlaces},
      {"smallest step", 1e-8, "0.00000001"},
      {"below half a step rounds to zero but differs", 4e-9, std::string("throws: ") + kEightPlaces},
      {"subnormal within tolerance", 1e-320, "0"},
      {"NaN", std::nan(""), std::string("throws: ") + kNonFinite},
      {"infinity", std::numeric_limits<double>::infinity(), std::string("throws: ") + kNonFinite},
      {"negative infinity", -std::numeric_limits<double>::infinity(), std::string("throws: ") + kNonFinite},
      // Largest double below 1e22: 22 integer digits, the edge of the sync range.
      {"22 digits", 9999999999999997902848.0, "9999999999999997902848"},
      {"negative 22 digits", -9999999999999997902848.0, "-9999999999999997902848"},
      // 9999999999999999999999 is not a double; it reads as 1e22 (23 digits).
      // Accepting it made a record the sender refuses at every start.
      {"22 nines reads as 1e22", 9999999999999999999999.0, std::string("throws: ") + kRange},
      {"1e22", 1e22, std::string("throws: ") + kRange},
      {"negative 1e22", -1e22, std::string("throws: ") + kRange},
      {"largest double", std::numeric_limits<double>::max(), std::string("throws: ") + kRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string result = outcome([&] { return decimalText(c.value); });
    EXPECT_EQ(result, c.expected);
    // Everything decimalText produces must pass the sender's check unchanged.
    if (result.rfind("throws: ", 0) != 0) {
      EXPECT_EQ(normalizeDecimal(result, false, false), result);
    }
  }
}

TEST(DecimalTest, NormalizeDecimalTable) {
  struct Case {
    const char* name;
    std::string text;
    bool positive;
    bool nonNegative;
    std::string expected;
  };
  const std::string invalid = "throws: INVALID_DECIMAL";
  const Case cases[] = {
      {"plain", "1.5", false, false, "1.5"},
      {"trailing zero", "2.50", false, false, "2.5"},
      {"all-zero fraction", "3.000", false, false, "3"},
      {"negative zero", "-0.000", false, false, "0"},
      {"bare negative zero", "-0", false, false, "0"},
      {"negative", "-1.25", false, false, "-1.25"},
      {"eight places", "1.12345678", false, false, "1.12345678"},
      {"22 digits", "9999999999999999999999", false, false, "9999999999999999999999"},
      {"23 digits", "10000000000000000000000", false, false, invalid},
      {"leading zero", "00.5", false, false, invalid},
      {"plus sign", "+1", false, false, invalid},
      {"trailing point", "1.", false, false, invalid},
      {"leading point", ".5", false, false, invalid},
      {"nine places", "1.123456789", false, false, invalid},
      {"exponent", "1e5", false, false, invalid},
      {"space", " 1", false, false, invalid},
      {"empty", "", false, false, invalid},
      {"comma", "1,5", false, false, invalid},
      {"positive ok", "0.01", true, false, "0.01"},
      {"positive refuses zero", "0.00", true, false, invalid},
      {"positive refuses negative zero", "-0.0", true, false, invalid},
      {"positive refuses negative", "-1", true, false, invalid},
      {"non-negative takes zero", "0", false, true, "0"},
      {"non-negative takes negative zero", "-0.0", false, true, "0"},
      {"non-negative refuses negative", "-0.5", false, true, invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome([&] { return normalizeDecimal(c.text, c.positive, c.nonNegative); }), c.expected);
  }
}

TEST(DecimalTest, SideText) {
  EXPECT_EQ(sideText(1), "buy");
  EXPECT_EQ(sideText(2), "sell");
  for (const int side : {0, 3, -1}) {
    SCOPED_TRACE(side);
    EXPECT_EQ(outcome([&] { return sideText(side); }), "throws: Unknown fill side; collection paused.");
  }
}

}  // namespace
}  // namespace qbsync
