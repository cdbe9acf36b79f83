#include "core/lane_choice.h"

#include <algorithm>
#include <atomic>

#include "core/portability.h"

namespace tulm {
namespace {

LaneChoice probe_processor() {
  LaneChoice lanes{1, false};
#if defined(TULM_HAVE_SSE2)
  lanes.width = 4;
#endif
#if defined(TULM_HAVE_AVX2_TARGET)
  if (TULM_PROCESSOR_HAS_AVX2()) lanes.width = 8;
#endif
#if defined(TULM_HAVE_AVX512_TARGET)
  if (lanes.width == 8 && TULM_PROCESSOR_HAS_AVX512()) {
    lanes.width = 16;
    lanes.gather = TULM_PROCESSOR_IS_INTEL() && TULM_PROCESSOR_HAS_AVX512_FP16();
  }
#endif
  return lanes;
}

// Both fields in one word, so that a reader never sees the width of one choice with the gather
// of another; 0 until set_lanes is called.
int32_t packed(LaneChoice lanes) { return lanes.width * 2 + (lanes.gather ? 1 : 0); }
LaneChoice unpacked(int32_t word) { return {word / 2, (word & 1) != 0}; }

std::atomic<int32_t> chosenLanes{0};

}  // namespace

LaneChoice processor_lanes() {
  static const LaneChoice lanes = probe_processor();
  return lanes;
}

LaneChoice chosen_lanes() {
  const int32_t word = chosenLanes.load(std::memory_order_relaxed);
  return word == 0 ? processor_lanes() : unpacked(word);
}

void set_lanes(LaneChoice lanes) {
  const int32_t most = std::min(lanes.width, processor_lanes().width);
  const int32_t width = most >= 16 ? 16 : most >= 8 ? 8 : most >= 4 ? 4 : 1;
  chosenLanes.store(packed({width, lanes.gather}), std::memory_order_relaxed);
}

}  // namespace tulm
