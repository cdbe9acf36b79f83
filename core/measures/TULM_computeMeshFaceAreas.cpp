#include "core/measures/TULM_computeMeshFaceAreas.h"

#include <cmath>

#include "core/errors.h"
#include "core/measures/point_lanes.h"
#include "core/parallel.h"

namespace tulm {
namespace {

// Faces whose areas take about as long as starting a thread.
constexpr int32_t kFaceGrain = 32768;

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

#if defined(TULM_HAVE_SSE2)
// The squared cross product (cx^2, cy^2, cz^2, 0) of a face whose corners are in 1..V.
inline __m128 squared_cross(const int32_t* face, const float* vertices) {
  const __m128 p0 = lanes::load_point(vertices + 3 * (face[0] - 1));
  const __m128 u = _mm_sub_ps(lanes::load_point(vertices + 3 * (face[1] - 1)), p0);
  const __m128 w = _mm_sub_ps(lanes::load_point(vertices + 3 * (face[2] - 1)), p0);
  const __m128 c = lanes::cross(u, w);
  return _mm_mul_ps(c, c);
}

// Faces begin .. end - 1, four at a time where their twelve corners are all in 1..V; the
// scalar code takes the others, and so ends the call at the first bad corner.
void face_areas_in_lanes(int32_t begin, int32_t end, const int32_t* faces, const float* vertices,
                         int32_t numVerts, float* areas) {
  int32_t i = begin;
  for (; i + 4 <= end; i += 4) {
    const int32_t* face = faces + 3 * i;
    const __m128i* corners = reinterpret_cast<const __m128i*>(face);
    if (lanes::any_outside(_mm_loadu_si128(corners), 1, numVerts) ||
        lanes::any_outside(_mm_loadu_si128(corners + 1), 1, numVerts) ||
        lanes::any_outside(_mm_loadu_si128(corners + 2), 1, numVerts)) {
      for (int32_t k = i; k < i + 4; ++k) areas[k] = face_area(faces, vertices, numVerts, k);
      continue;
    }
    const __m128 s =
        lanes::sum_xyz(squared_cross(face, vertices), squared_cross(face + 3, vertices),
                       squared_cross(face + 6, vertices), squared_cross(face + 9, vertices));
    _mm_storeu_ps(areas + i, lanes::half_root_in_double(s));
  }
  for (; i < end; ++i) areas[i] = face_area(faces, vertices, numVerts, i);
}
#endif

}  // namespace

void TULM_computeMeshFaceAreas(int32_t numFaces, const int32_t* faces, const float* vertices,
                               int32_t numVerts, float* areas) {
#if defined(TULM_HAVE_SSE2)
  if (point_lanes_enabled()) {
    parallel_for(numFaces, kFaceGrain, [=](int32_t begin, int32_t end) {
      face_areas_in_lanes(begin, end, faces, vertices, numVerts, areas);
    });
    return;
  }
#endif
  parallel_for(numFaces, kFaceGrain, [=](int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) areas[i] = face_area(faces, vertices, numVerts, i);
  });
}

}  // namespace tulm
