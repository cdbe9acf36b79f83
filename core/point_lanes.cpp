#include "core/point_lanes.h"

#include <atomic>

namespace tulm {
namespace {

std::atomic<bool> pointLanesEnabled{true};
std::atomic<bool> wideLanesEnabled{true};
std::atomic<bool> sixteenLanesEnabled{true};

bool gathers_pay() {
#if defined(TULM_HAVE_AVX512_TARGET)
  return TULM_PROCESSOR_IS_INTEL();
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
