// rounded_expf against correctly rounded values worked out in multiple precision, and against
// long double expl wherever that one is far enough from a midpoint between floats to decide.
#include "core/measures/rounded_exp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "rounded_exp_known_values.h"

namespace {

using rounded_exp_known_values::bits_of;
using rounded_exp_known_values::kInf;
using rounded_exp_known_values::kKnown;
using rounded_exp_known_values::Known;
using tulm::rounded_expf;

TEST(RoundedExpf, KnownCorrectlyRoundedValues) {
  for (const Known& known : kKnown) {
    EXPECT_EQ(bits_of(rounded_expf(known.x)), bits_of(known.expected))
        << known.what << ": rounded_expf(" << std::hexfloat << known.x
        << ") = " << rounded_expf(known.x) << ", expected " << known.expected;
  }
}

TEST(RoundedExpf, NaNGivesNaN) {
  EXPECT_TRUE(std::isnan(rounded_expf(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(rounded_expf(-std::numeric_limits<float>::quiet_NaN())));
}

// Random inputs over the whole range of finite nonzero results; long double settles every
// input whose exponential is not within 2^-50 of a midpoint between floats.
TEST(RoundedExpf, AgreesWithLongDoubleAwayFromMidpoints) {
  std::mt19937 random(20240607);
  std::uniform_real_distribution<float> input(-104.0f, 89.0f);
  int decided = 0;
  for (int i = 0; i < 200000; ++i) {
    const float x = i % 2 == 0 ? input(random) : input(random) / 4096.0f;
    const long double e = std::exp(static_cast<long double>(x));
    const float nearest = static_cast<float>(e);
    const long double other =
        std::nextafter(nearest, e > static_cast<long double>(nearest) ? kInf : 0.0f);
    const long double mid = (static_cast<long double>(nearest) + other) / 2;
    if (std::isinf(nearest) || std::fabs(e - mid) < e * 0x1p-50L) continue;
    ++decided;
    ASSERT_EQ(bits_of(rounded_expf(x)), bits_of(nearest)) << std::hexfloat << x;
  }
  EXPECT_GT(decided, 190000);
}

// try_rounded_expf declines the inputs that need the out-of-line code (NaN, overflow,
// subnormal results, e^x close to a midpoint between floats) and answers the others, which
// are nearly all of (-87, 89). (Where it answers, rounded_expf returns its answer.)
TEST(TryRoundedExpf, DeclinesOnlyWhatNeedsTheOutOfLineCode) {
  constexpr float kUntouched = 7.0f;
  const struct {
    const char* what;
    float x;
    float expected;  // kUntouched where declined
  } kCases[] = {
      {"NaN", std::numeric_limits<float>::quiet_NaN(), kUntouched},
      {"+Inf", kInf, kUntouched},
      {"89, overflow", 89.0f, kUntouched},
      {"-87, a result near the subnormal floats", -87.0f, kUntouched},
      {"-100, a subnormal result", -100.0f, kUntouched},
      {"-2^-25, e^x just above a midpoint", -0x1p-25f, kUntouched},
      {"-104, underflow", -104.0f, 0.0f},
      {"-Inf", -kInf, 0.0f},
      {"-1", -1.0f, 0x1.78b564p-2f},
      {"10", 10.0f, 0x1.5829dcp+14f},
  };
  for (const auto& c : kCases) {
    float result = kUntouched;
    EXPECT_EQ(tulm::try_rounded_expf(c.x, &result), c.expected != kUntouched) << c.what;
    EXPECT_EQ(bits_of(result), bits_of(c.expected)) << c.what;
  }
  std::mt19937 random(5);
  std::uniform_real_distribution<float> input(-87.0f, 89.0f);
  int declines = 0;
  for (int i = 0; i < 200000; ++i) {
    const float x = i % 2 == 0 ? input(random) : input(random) / 4096.0f;
    float result;
    declines += !tulm::try_rounded_expf(x, &result);
  }
  EXPECT_LT(declines, 100) << "about 1 input in 2^13 expected";
}

// The fast path's table of 2^(j/1024): every entry within half a unit in the last place of the
// value, up to the error of long double's exp2.
TEST(RoundedExpf, TableEntriesAreTheNearestDoubles) {
  const int size = tulm::detail::kExpTableSize;
  for (int j = 0; j < size; ++j) {
    const long double exact = std::exp2(static_cast<long double>(j) / size);
    const long double entry = tulm::detail::kTwoToTheJOver1024[j];
    // Entries lie in [1, 2), where half a unit is 2^-53.
    EXPECT_LE(std::fabs(entry - exact), 0x1p-53L + 0x1p-60L) << "j = " << j;
  }
}

}  // namespace
