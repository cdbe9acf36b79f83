// The lanes' exponentials (rounded_exp_lanes.h) against rounded_expf, lane by lane.
#include "core/measures/rounded_exp_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "core/measures/rounded_exp.h"
#include "rounded_exp_known_values.h"

#if defined(TULM_HAVE_AVX2_TARGET)
namespace {

using rounded_exp_known_values::bits_of;
using rounded_exp_known_values::kKnown;
using rounded_exp_known_values::Known;
using tulm::rounded_expf;

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
