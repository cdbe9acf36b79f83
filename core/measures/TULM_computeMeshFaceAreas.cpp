#include "core/measures/TULM_computeMeshFaceAreas.h"

#include <cmath>

#include "core/errors.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;

}  // namespace

void TULM_computeMeshFaceAreas(int32_t numFaces, const int32_t* faces, const float* vertices,
                               int32_t numVerts, float* areas) {
  parallel_for(numFaces, kFaceGrain, [=](int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) {
      const int32_t* face = faces + 3 * i;
      check_index("faces", face[0], 0, i, 1, numVerts);
      check_index("faces", face[1], 1, i, 1, numVerts);
      check_index("faces", face[2], 2, i, 1, numVerts);
      const float* p0 = vertices + 3 * (face[0] - 1);
      const float* p1 = vertices + 3 * (face[1] - 1);
      const float* p2 = vertices + 3 * (face[2] - 1);

      const float ux = p1[0] - p0[0], uy = p1[1] - p0[1], uz = p1[2] - p0[2];
      const float wx = p2[0] - p0[0], wy = p2[1] - p0[1], wz = p2[2] - p0[2];
      const float cx = uy * wz - uz * wy;
      const float cy = uz * wx - wz * ux;
      const float cz = ux * wy - uy * wx;
      const float s = (cx * cx + cy * cy) + cz * cz;
      areas[i] = static_cast<float>(0.5 * std::sqrt(static_cast<double>(s)));
    }
  });
}

}  // namespace tulm
