#include "core/point_lanes.h"

#include <atomic>

#if defined(TULM_HAVE_AVX512_TARGET)
#include <cpuid.h>
#endif

namespace tulm {
namespace {

std::atomic<bool> pointLanesEnabled{true};
std::atomic<bool> wideLanesEnabled{true};
std::atomic<bool> sixteenLanesEnabled{true};

// Intel's processors with AVX512-FP16 (Sapphire Rapids and later). The microcode fix for gather
// data sampling, on by default on Intel's earlier processors with AVX-512, slows every gather
// down, and AMD's Zen 4 gathers more slowly than it loads and shuffles. CPUID is asked
// directly, as Clang 14's __builtin_cpu_supports does not know the feature; __builtin_cpu_init
// first, as this runs among the program's constructors.
bool gathers_pay() {
#if defined(TULM_HAVE_AVX512_TARGET)
  __builtin_cpu_init();
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  const bool fp16 = __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (edx >> 23 & 1) != 0;
  return fp16 && __builtin_cpu_is("intel") != 0 && TULM_PROCESSOR_HAS_AVX512();
#else
  return false;
#endif
}

std::atomic<bool> gatherLanesEnabled{gathers_pay()};

}  // namespace

bool point_lanes_enabled() { return pointLanesEnabled.load(std::memory_order_relaxed); }

void set_point_lanes_enabled(bool enabled) {
  pointLanesEnabled.store(enabled, std::memory_order_relaxed);
}

bool wide_lanes_enabled() { return wideLanesEnabled.load(std::memory_order_relaxed); }

void set_wide_lanes_enabled(bool enabled) {
  wideLanesEnabled.store(enabled, std::memory_order_relaxed);
}

bool sixteen_lanes_enabled() { return sixteenLanesEnabled.load(std::memory_order_relaxed); }

void set_sixteen_lanes_enabled(bool enabled) {
  sixteenLanesEnabled.store(enabled, std::memory_order_relaxed);
}

bool gather_lanes_enabled() { return gatherLanesEnabled.load(std::memory_order_relaxed); }

void set_gather_lanes_enabled(bool enabled) {
  gatherLanesEnabled.store(enabled, std::memory_order_relaxed);
}

}  // namespace tulm
