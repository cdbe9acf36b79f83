// rounded_expf against correctly rounded values worked out in multiple precision, and against
// long double expl wherever that one is far enough from a midpoint between floats to decide.
#include "core/measures/rounded_exp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using tulm::rounded_expf;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kMax = std::numeric_limits<float>::max();

uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct Known {
  const char* what;
  float x;
  float expected;
};

const Known kKnown[] = {
    {"+0", 0.0f, 1.0f},
    {"-0", -0.0f, 1.0f},
    {"+Inf", kInf, kInf},
    {"-Inf", -kInf, 0.0f},
    {"largest float", kMax, kInf},
    {"lowest float", -kMax, 0.0f},
    {"largest finite result", 0x1.62e42ep+6f, 0x1.ffff08p+127f},
    {"smallest overflowing input", 0x1.62e43p+6f, kInf},
    {"89", 89.0f, kInf},
    {"smallest nonzero result", -0x1.9fe368p+6f, 0x1p-149f},
    {"largest input rounding to 0", -0x1.9fe36ap+6f, 0.0f},
    {"-104", -104.0f, 0.0f},
    {"just above the smallest normal float", -0x1.5d589ep+6f, 0x1.00004cp-126f},
    {"subnormal -88", -88.0f, 0x1.07b71p-127f},
    {"subnormal -95", -95.0f, 0x1.ec8p-138f},
    {"subnormal -100", -100.0f, 0x1.bp-145f},
    {"subnormal -103.9", -0x1.9f999ap+6f, 0x1p-149f},
    {"2^-25, below the midpoint above 1", 0x1p-25f, 1.0f},
    {"-2^-25, just above the midpoint below 1", -0x1p-25f, 1.0f},
    {"2^-24", 0x1p-24f, 0x1.000002p+0f},
    {"-2^-24", -0x1p-24f, 0x1.fffffep-1f},
    {"1", 1.0f, 0x1.5bf0a8p+1f},
    {"-1", -1.0f, 0x1.78b564p-2f},
    {"-0.5", -0.5f, 0x1.368b3p-1f},
    {"10", 10.0f, 0x1.5829dcp+14f},
    // Some of the inputs on which glibc 2.36's expf rounds the other way.
    {"-10.0254116", -0x1.40d02cp+3f, 0x1.73494cp-15f},
    {"-0.132206425", -0x1.0ec23ep-3f, 0x1.c0980ep-1f},
    {"-0.0317598656", -0x1.042d44p-5f, 0x1.effe96p-1f},
    {"88.4276123", 0x1.61b5ep+6f, 0x1.7d1d1cp+127f},
};

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

#if defined(TULM_HAVE_AVX2_TARGET)
namespace {

// Every lane, whichever path it takes and whatever its neighbours take: the known values, the
// edges of the ranges, inputs that need the exact path (of the scalar code or of the lanes),
// and floats spread over every exponent. verify_expf checks every float.
std::vector<float> lane_inputs() {
  std::vector<float> inputs = {std::numeric_limits<float>::quiet_NaN(),
                               -std::numeric_limits<float>::quiet_NaN(),
                               -0x1p-25f,
                               -0x1p-27f,
                               -87.0f,
                               std::nextafter(-87.0f, 0.0f),
                               -104.0f,
                               std::nextafter(-104.0f, 0.0f),
                               89.0f,
                               std::nextafter(89.0f, 0.0f),
                               std::numeric_limits<float>::denorm_min(),
                               -std::numeric_limits<float>::denorm_min()};
  for (const Known& known : kKnown) inputs.push_back(known.x);
  for (uint64_t pattern = 0; pattern < (uint64_t{1} << 32); pattern += 4099) {
    float x;
    const uint32_t word = static_cast<uint32_t>(pattern);
    std::memcpy(&x, &word, sizeof x);
    inputs.push_back(x);
  }
  // Runs of consecutive floats below 0, where some lanes' approximations come near a midpoint.
  for (const float start : {-0.5f, -3.0f, -60.0f}) {
    float x = start;
    for (int k = 0; k < 65536; ++k, x = std::nextafter(x, 0.0f)) inputs.push_back(x);
  }
  while (inputs.size() % 16 != 0) inputs.push_back(0.0f);
  return inputs;
}

// Compares `width` lanes at a time from `of_lanes` with rounded_expf.
void expect_lane_bits(int width, void (*of_lanes)(const float*, float*)) {
  const std::vector<float> inputs = lane_inputs();
  for (size_t i = 0; i < inputs.size(); i += width) {
    float lanes[16];
    of_lanes(&inputs[i], lanes);
    for (size_t k = 0; k < size_t(width); ++k) {
      ASSERT_EQ(bits_of(lanes[k]), bits_of(rounded_expf(inputs[i + k])))
          << width << " lanes, x = " << inputs[i + k] << " (bits " << std::hex
          << bits_of(inputs[i + k]) << ")";
    }
  }
}

}  // namespace

TULM_TARGET_AVX2 void rounded_expf_of_eight(const float* x, float* result) {
  _mm256_storeu_ps(result, tulm::rounded_expf_avx2(_mm256_loadu_ps(x)));
}

TEST(RoundedExpfAvx2, GivesTheBitsOfRoundedExpfInEveryLane) {
  if (!TULM_PROCESSOR_HAS_AVX2()) GTEST_SKIP() << "no AVX2 on this processor";
  expect_lane_bits(8, rounded_expf_of_eight);
}
#endif

#if defined(TULM_HAVE_AVX512_TARGET)
TULM_TARGET_AVX512 void rounded_expf_of_sixteen(const float* x, float* result) {
  _mm512_storeu_ps(result, tulm::rounded_expf_avx512(_mm512_loadu_ps(x)));
}

TEST(RoundedExpfAvx512, GivesTheBitsOfRoundedExpfInEveryLane) {
  if (!TULM_PROCESSOR_HAS_AVX512()) GTEST_SKIP() << "no AVX-512 on this processor";
  expect_lane_bits(16, rounded_expf_of_sixteen);
}
#endif
