// Checks rounded_expf on every float whose correctly rounded exponential is neither 0 nor
// +Inf, its lanes (AVX2, AVX-512) against it on every float, and counts the inputs on which the
// C library's expf rounds otherwise.
//
// The reference is expl in long double (64-bit significand); where its value lies within
// 2^-58 (relative) of a midpoint between two floats, MPFR at 256 bits decides.
#include <mpfr.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/measures/rounded_exp.h"
#include "core/portability.h"

// The lanes' exponentials of the sixteen floats at x, eight at a time into eight and sixteen
// at a time into sixteen, each where the processor has those lanes (verify_expf_lanes.cpp);
// the outputs of lanes it lacks are left as they are.
void lane_exponentials(const float* x, float* eight, float* sixteen);

namespace {

constexpr long double kCloseToMidpoint = 0x1p-58L;
constexpr long double kTwoTo128 = 0x1p128L;
constexpr int kMaxExamples = 8;

float from_bits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A float's value, with +Inf standing for 2^128, the next float after the largest were the
// exponent unbounded: the midpoint that decides overflow lies halfway to it.
long double value_of(float f) { return std::isinf(f) ? kTwoTo128 : static_cast<long double>(f); }

float exact_exp(float x) {
  mpfr_t in, out;
  mpfr_init2(in, 24);
  mpfr_init2(out, 256);
  mpfr_set_flt(in, x, MPFR_RNDN);
  mpfr_exp(out, in, MPFR_RNDN);
  const float result = mpfr_get_flt(out, MPFR_RNDN);
  mpfr_clear(in);
  mpfr_clear(out);
  return result;
}

// e^x rounded to the nearest float; `decided` counts the inputs MPFR had to settle.
float reference_exp(float x, uint64_t& decided) {
  const long double e = expl(static_cast<long double>(x));
  const float f = static_cast<float>(e);
  const long double fv = value_of(f);
  long double below, above;
  if (e >= fv) {
    below = fv;
    above = value_of(std::nextafter(f, HUGE_VALF));
  } else {
    above = fv;
    below = value_of(std::nextafter(f, 0.0f));
  }
  const long double mid = (below + above) / 2;
  if (std::fabs(e - mid) > e * kCloseToMidpoint) return f;
  ++decided;
  return exact_exp(x);
}

struct Example {
  float x, correct, got;
};

struct Tally {
  uint64_t checked = 0, misrounded = 0, decided = 0;
  uint64_t libraryWrong = 0, checkedNearZero = 0, libraryWrongNearZero = 0;
  std::vector<Example> ourErrors, libraryErrors;
};

void check(float x, Tally& tally) {
  const float correct = reference_exp(x, tally.decided);
  if (correct == 0.0f || std::isinf(correct)) return;
  ++tally.checked;
  const uint32_t want = bits_of(correct);
  const float ours = tulm::rounded_expf(x);
  if (bits_of(ours) != want) {
    ++tally.misrounded;
    if (tally.ourErrors.size() < kMaxExamples) tally.ourErrors.push_back({x, correct, ours});
  }
  const float library = expf(x);
  const bool libraryRight = bits_of(library) == want;
  tally.libraryWrong += !libraryRight;
  if (x >= -30.0f && x <= 0.0f) {
    ++tally.checkedNearZero;
    tally.libraryWrongNearZero += !libraryRight;
  }
  // Examples spread over the range: keep one in every 4096 of the library's misroundings.
  if (!libraryRight && tally.libraryWrong % 4096 == 1 && tally.libraryErrors.size() < 64) {
    tally.libraryErrors.push_back({x, correct, library});
  }
}

// Every float in (-104, 89) is a candidate: e^89 > 2^128 and e^-104 < 2^-150.
struct Span {
  uint32_t first, last;  // bit patterns, inclusive
};

// The lanes' exponentials against rounded_expf on the 2^32 floats from `first` on, `count` of
// them (a multiple of 16); returns the inputs whose bits differ.
uint64_t lanes_differ(uint64_t first, uint64_t count) {
  uint64_t differ = 0;
  for (uint64_t b = first; b < first + count; b += 16) {
    float x[16], eight[16], sixteen[16], scalar[16];
    for (int l = 0; l < 16; ++l) {
      x[l] = from_bits(static_cast<uint32_t>(b + l));
      scalar[l] = tulm::rounded_expf(x[l]);
    }
    std::memcpy(eight, scalar, sizeof eight);
    std::memcpy(sixteen, scalar, sizeof sixteen);
    lane_exponentials(x, eight, sixteen);
    for (int l = 0; l < 16; ++l) {
      const uint32_t want = bits_of(scalar[l]);
      if (bits_of(eight[l]) != want || bits_of(sixteen[l]) != want) {
        if (differ < kMaxExamples) std::printf("  lanes differ at x = %a\n", x[l]);
        ++differ;
      }
    }
  }
  return differ;
}

}  // namespace

int main() {
  const auto start = std::chrono::steady_clock::now();
  const Span spans[] = {{bits_of(0.0f), bits_of(89.0f)}, {bits_of(-0.0f), bits_of(-104.0f)}};
  constexpr uint32_t kBlock = 1u << 16;
  std::vector<std::pair<uint32_t, uint32_t>> blocks;
  for (const Span& span : spans) {
    for (uint64_t b = span.first; b <= span.last; b += kBlock) {
      blocks.emplace_back(static_cast<uint32_t>(b),
                          static_cast<uint32_t>(std::min<uint64_t>(b + kBlock - 1, span.last)));
    }
  }
  std::atomic<size_t> next{0};
  const unsigned numThreads = 2;
  std::vector<Tally> tallies(numThreads);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < numThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i; (i = next.fetch_add(1)) < blocks.size();) {
        for (uint64_t b = blocks[i].first; b <= blocks[i].second; ++b) {
          check(from_bits(static_cast<uint32_t>(b)), tallies[t]);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  // Every float, NaNs and infinities too, through the lanes the processor has.
  std::atomic<uint64_t> lanesDiffer{0};
  threads.clear();
  for (unsigned t = 0; t < numThreads; ++t) {
    threads.emplace_back([&, t] {
      const uint64_t share = (uint64_t{1} << 32) / numThreads;
      lanesDiffer += lanes_differ(t * share, share);
    });
  }
  for (std::thread& thread : threads) thread.join();

  Tally total;
  for (const Tally& t : tallies) {
    total.checked += t.checked;
    total.misrounded += t.misrounded;
    total.decided += t.decided;
    total.libraryWrong += t.libraryWrong;
    total.checkedNearZero += t.checkedNearZero;
    total.libraryWrongNearZero += t.libraryWrongNearZero;
    total.ourErrors.insert(total.ourErrors.end(), t.ourErrors.begin(), t.ourErrors.end());
    total.libraryErrors.insert(total.libraryErrors.end(), t.libraryErrors.begin(),
                               t.libraryErrors.end());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("inputs checked (correctly rounded e^x neither 0 nor +Inf): %" PRIu64 "\n",
              total.checked);
  std::printf("  of which decided by MPFR (expl within 2^-58 of a midpoint): %" PRIu64 "\n",
              total.decided);
  std::printf("rounded_expf misrounded: %" PRIu64 "\n", total.misrounded);
  for (const Example& e : total.ourErrors) {
    std::printf("  x = %a: correct %a, got %a\n", e.x, e.correct, e.got);
  }
  // Name only the lanes this processor ran: a count of 0 says nothing about the others.
  const char* lanesRun = "none on this processor";
#if defined(TULM_HAVE_AVX2_TARGET)
  if (TULM_PROCESSOR_HAS_AVX2()) lanesRun = "AVX2";
#endif
#if defined(TULM_HAVE_AVX512_TARGET)
  if (TULM_PROCESSOR_HAS_AVX512()) lanesRun = "AVX2, AVX-512";
#endif
  std::printf("lanes (%s) differing from rounded_expf, all 2^32 floats: %" PRIu64 "\n", lanesRun,
              lanesDiffer.load());
  std::printf("C library expf misrounded, same inputs: %" PRIu64 "\n", total.libraryWrong);
  std::printf("C library expf misrounded in [-30, 0]: %" PRIu64 " of %" PRIu64 "\n",
              total.libraryWrongNearZero, total.checkedNearZero);
  std::printf("  some of them (x: correct, expf):\n");
  for (const Example& e : total.libraryErrors) {
    std::printf("  %a (%.9g): %a, %a\n", e.x, e.x, e.correct, e.got);
  }
  std::printf("time: %.1f s on %u threads\n", seconds, numThreads);
  return total.misrounded == 0 && lanesDiffer == 0 ? 0 : 1;
}
