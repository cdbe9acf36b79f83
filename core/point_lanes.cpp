#include "core/point_lanes.h"

#include <atomic>

namespace tulm {
namespace {

std::atomic<bool> pointLanesEnabled{true};
std::atomic<bool> wideLanesEnabled{true};
std::atomic<bool> sixteenLanesEnabled{true};

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

}  // namespace tulm
