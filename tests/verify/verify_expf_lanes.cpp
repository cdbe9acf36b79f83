// The lanes of verify_expf: rounded_expf_avx2 and rounded_expf_avx512 on sixteen floats.
#include "core/measures/rounded_exp_lanes.h"
#include "core/portability.h"

namespace {

#if defined(TULM_HAVE_AVX2_TARGET)
TULM_TARGET_AVX2 void eight_lanes(const float* x, float* y) {
  _mm256_storeu_ps(y, tulm::rounded_expf_avx2(_mm256_loadu_ps(x)));
}
#endif
#if defined(TULM_HAVE_AVX512_TARGET)
TULM_TARGET_AVX512 void sixteen_lanes(const float* x, float* y) {
  _mm512_storeu_ps(y, tulm::rounded_expf_avx512(_mm512_loadu_ps(x)));
}
#endif

}  // namespace

void lane_exponentials(const float* x, float* eight, float* sixteen) {
#if defined(TULM_HAVE_AVX2_TARGET)
  if (TULM_PROCESSOR_HAS_AVX2()) {
    eight_lanes(x, eight);
    eight_lanes(x + 8, eight + 8);
  }
#endif
#if defined(TULM_HAVE_AVX512_TARGET)
  if (TULM_PROCESSOR_HAS_AVX512()) sixteen_lanes(x, sixteen);
#endif
}
