#include "core/measures/TULM_computeMeshFaceAreas.h"

#include <cmath>

#include "core/errors.h"
#include "core/lane_choice.h"
#include "core/measures/TULM_computeMeshFaceAreas_lanes.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// The bits of face i's area: the lanes perform these operations, in this order, too.
float face_area(const int32_t* faces, const float* vertices, int32_t numVerts, int32_t i) {
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
  return static_cast<float>(0.5 * std::sqrt(static_cast<double>(s)));
}

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;

}  // namespace

void mesh_face_areas_one_at_a_time(int32_t begin, int32_t end, const int32_t* faces,
                                   const float* vertices, int32_t numVerts, float* areas) {
  for (int32_t i = begin; i < end; ++i) areas[i] = face_area(faces, vertices, numVerts, i);
}

void TULM_computeMeshFaceAreas(int32_t numFaces, const int32_t* faces, const float* vertices,
                               int32_t numVerts, float* areas) {
  [[maybe_unused]] const LaneChoice lanes = chosen_lanes();
  parallel_for(numFaces, kFaceGrain, [=](int32_t begin, int32_t end) {
#if defined(TULM_HAVE_AVX512_TARGET)
    // Not where gathers are fast (lanes.gather): on those Intel processors a 512-bit shuffle
    // has one port where a 256-bit one has two, and the eight lanes took 0.72 ms on the
    // icosphere subdivided 7 times against 1.03 for the sixteen (0.85 gathering them).
    if (lanes.width >= 16 && !lanes.gather) {
      return mesh_face_areas_in_sixteen_lanes(begin, end, faces, vertices, numVerts, areas);
    }
#endif
#if defined(TULM_HAVE_AVX2_TARGET)
    if (lanes.width >= 8) {
      return mesh_face_areas_in_eight_lanes(begin, end, faces, vertices, numVerts, areas);
    }
#endif
#if defined(TULM_HAVE_SSE2)
    if (lanes.width >= 4) {
      return mesh_face_areas_in_four_lanes(begin, end, faces, vertices, numVerts, areas);
    }
#endif
    mesh_face_areas_one_at_a_time(begin, end, faces, vertices, numVerts, areas);
  });
}

}  // namespace tulm
