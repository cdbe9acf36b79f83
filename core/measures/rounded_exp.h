// The exponential of the smoothing weights, rounded correctly to single precision.
#ifndef TULM_CORE_MEASURES_ROUNDED_EXP_H
#define TULM_CORE_MEASURES_ROUNDED_EXP_H

namespace tulm {

// e^x rounded to the nearest float (ties cannot occur), including subnormal results; +Inf
// above about 88.72, +0 below about -103.97, 1 at -0 and +0, NaN for NaN. The same bits on
// every machine that evaluates double arithmetic in IEEE double (x86-64, ARM64, 32-bit x86
// with SSE2), whatever the C library: nothing here calls it.
float rounded_expf(float x);

}  // namespace tulm

#endif  // TULM_CORE_MEASURES_ROUNDED_EXP_H
