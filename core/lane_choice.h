// How many elements at a time the routines that have lanes compute: the one choice of lanes,
// made from the processor in one place. Every lane performs the scalar code's IEEE operations
// in its order, so a routine gives the same bits at every width; tests and benchmarks set a
// narrower choice to compare every way on the processor they run on.
#ifndef TULM_CORE_LANE_CHOICE_H
#define TULM_CORE_LANE_CHOICE_H

#include <cstdint>

namespace tulm {

struct LaneChoice {
  // 1: the scalar code; 4: SSE2; 8: AVX2; 16: AVX-512's foundation instructions. A routine
  // takes the widest lanes it has that are no wider than this, so a routine without sixteen
  // lanes takes eight at 16.
  int32_t width;
  // With sixteen lanes, whether the routines that can read their scattered points either way
  // gather them with the processor's gather instructions rather than load 16 bytes at a time
  // and shuffle them into place.
  bool gather;
};

// The widest lanes this build and this processor have, and whether gathers pay on it: true on
// Intel's processors with AVX512-FP16 (Sapphire Rapids and later) only. The microcode fix for
// gather data sampling slows every gather down on Intel's earlier processors with AVX-512, and
// AMD's Zen 4 gathers more slowly than it loads and shuffles; on such a Xeon the neighbour
// distances of the icosphere subdivided 7 times took 0.63 ms gathered against 1.00 ms loaded
// (bench_measure_kernels, warm).
LaneChoice processor_lanes();

// The lanes the routines take: processor_lanes() unless set_lanes said otherwise.
LaneChoice chosen_lanes();

// Makes `lanes` the choice, its width narrowed to what processor_lanes() has (a width above
// 8 and below 16 counts as 8, and so on), so that chosen_lanes() never names lanes the
// processor lacks. set_lanes(processor_lanes()) restores the default.
void set_lanes(LaneChoice lanes);

}  // namespace tulm

#endif  // TULM_CORE_LANE_CHOICE_H
