#include "core/connectivity/TULM_findNeighborhoodGivenRadius.h"

#include <algorithm>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/mesh_arrays.h"
#include "core/zeroed_array.h"

namespace tulm {
namespace {

// Vertices between two polls for Ctrl-C in a step of the ring: a millisecond or less.
constexpr int32_t kVerticesPerPoll = 1 << 17;

}  // namespace

int32_t Find1NeighborhoodGivenRadiusAux(int32_t maxNeighbors, int32_t numVerts,
                                        const int32_t* vertexNbors, int32_t* currentMarks,
                                        int32_t* nextMarks) {
  const int32_t K = maxNeighbors;
  int32_t added = 0;
  in_polled_blocks(0, numVerts, kVerticesPerPoll, [&](int32_t begin, int32_t end) {
    for (int32_t v = begin; v < end; ++v) {
      if (currentMarks[v] != 1) continue;
      for (int32_t k = 0; k < K; ++k) {
        const int32_t n = vertexNbors[index_2D_array(k, v, K)];
        if (n == 0) continue;
        check_index("vertexNbors", n, k, v, 0, numVerts);
        if (nextMarks[n - 1] != 1) {
          nextMarks[n - 1] = 1;
          ++added;
        }
      }
    }
  });
  // Nothing added leaves the two alike; skipping the copy keeps untouched marks unwritten.
  if (added > 0) std::copy(nextMarks, nextMarks + numVerts, currentMarks);
  return added;
}

void FindNeighborhoodGivenRadiusAux(int32_t maxNeighbors, int32_t numVerts, int32_t vertex,
                                    int32_t radius, const int32_t* vertexNbors,
                                    const std::function<int32_t*(int32_t N)>& createOutput) {
  if (numVerts < 1) {
    createOutput(0);
    return;
  }
  check_index("vertex", vertex, 0, 0, 1, numVerts);
  ZeroedArray<int32_t> currentMarks(numVerts), nextMarks(numVerts);
  currentMarks[vertex - 1] = 1;
  nextMarks[vertex - 1] = 1;
  for (int32_t step = 0; step < radius; ++step) {
    if (Find1NeighborhoodGivenRadiusAux(maxNeighbors, numVerts, vertexNbors, currentMarks.data(),
                                        nextMarks.data()) == 0) {
      break;
    }
  }

  const int32_t N =
      static_cast<int32_t>(std::count(currentMarks.data(), currentMarks.data() + numVerts, 1));
  int32_t* out = createOutput(N);
  int32_t written = 0;
  for (int32_t v = 0; v < numVerts; ++v) {
    if (currentMarks[v] == 1) out[written++] = v + 1;
  }
}

}  // namespace tulm
