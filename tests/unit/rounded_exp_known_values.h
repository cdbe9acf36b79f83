// Exponentials worked out in multiple precision: rounded_exp_test checks rounded_expf on them,
// and rounded_exp_lanes_test takes their inputs among those of the lanes.
#ifndef TULM_TESTS_UNIT_ROUNDED_EXP_KNOWN_VALUES_H
#define TULM_TESTS_UNIT_ROUNDED_EXP_KNOWN_VALUES_H

#include <cstdint>
#include <cstring>
#include <limits>

namespace rounded_exp_known_values {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kMax = std::numeric_limits<float>::max();

inline uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct Known {
  const char* what;
  float x;
  float expected;
};

inline constexpr Known kKnown[] = {
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

}  // namespace rounded_exp_known_values

#endif  // TULM_TESTS_UNIT_ROUNDED_EXP_KNOWN_VALUES_H
