#ifndef TULM_CORE_LOCATION_TULM_FINDNEARESTVERTEX_H
#define TULM_CORE_LOCATION_TULM_FINDNEARESTVERTEX_H

#include <cstdint>
#include <functional>

#include "core/diagnostics.h"

namespace tulm {

// Where the random restarts of TULM_findNearestVertex come from. reseed is called once per
// point, before any draw; draw returns a non-negative int, reduced modulo V.
struct RandomSource {
  std::function<void()> reseed;
  std::function<int()> draw;
};

// The C runtime's generator, re-seeded from the clock (whole seconds) at every point:
// srand(time(NULL)) and rand(). Points handled within one second draw the same sequence. One
// source per call: the first point always seeds, and a later point skips srand only when it
// would seed the same second again with nothing drawn since (the state would not change).
RandomSource runtime_random_source();

// What a call of TULM_findNearestVertex did, for tests, demos and benchmarks.
struct NearestVertexReport {
  int32_t restartedPoints = 0;  // points that needed at least one random restart
  int64_t randomRestarts = 0;   // random restarts, all points
  int32_t gaveUpPoints = 0;     // points that used up V restarts ("Problem vertex" lines)
};

// A vertex near each query point, found without any spatial index: from the seed, greedy
// descent over the neighbour table (always to the nearest neighbour, while it is strictly
// nearer than the current vertex), accepted when its squared distance is below
// (0.1 R)^2 * sqrt(163842/V) (R = length of the first vertex); otherwise a restart from a
// random vertex, at most V times, and then the best vertex reached by a descent move.
//
// Inputs:
//   points        3 x N single, one point per column
//   vertices      3 x V single, column form; V >= 1 when N >= 1
//   vertexNbors   Kn x V int32, column form; a list ends before its first entry below 1
//   seedVertices  N int32: 1-based start vertex of each point; a value below 1 continues from
//                 the previous point's result (vertex 1 for the first point)
//   random        the restart draws (runtime_random_source() in the plug-in)
// Outputs:
//   vertexOut     N int32, 1-based vertex found for each point
//   distanceOut   N single, its distance to the point; may be null (not written)
// Known quirks:
//   Neighbour ties keep the entry listed first; a neighbour exactly as far as the current
//   vertex does not move the descent. A drawn start vertex is not a candidate for the give-up
//   result, only vertices reached by a descent move are, so a point that never moved gives
//   up with vertex 0 and distance 316.22775 (the square root of 100000). A continuing point
//   after such a result starts at vertex 1. A point accepted after 100 or more restarts
//   prints "RANDOM: vertex <i> (matlab index), rand_count: <n>"; a point that gives up prints
//   "Problem vertex (matlab index): ..." with its best vertex (0-based) and distance.
//   Ends the call on a seed above V or a neighbour entry above V where it is read.
// Cost:
//   A point that no descent brings within the acceptance distance (one far from the mesh)
//   costs V random restarts, each a full descent, before it gives up: 100,000 points at
//   radius 2 around a unit mesh of 100,000 vertices run for hours.
NearestVertexReport TULM_findNearestVertex(const float* points, int32_t N, const float* vertices,
                                           int32_t V, const int32_t* vertexNbors, int32_t Kn,
                                           const int32_t* seedVertices, int32_t* vertexOut,
                                           float* distanceOut, const RandomSource& random,
                                           Diagnostics& diagnostics);

}  // namespace tulm

#endif  // TULM_CORE_LOCATION_TULM_FINDNEARESTVERTEX_H
