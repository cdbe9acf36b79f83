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
// Faces begin .. end - 1, four at a time where their twelve corners are all in 1..V - 1, so
// that each corner's point is one load with the float after it; the scalar code takes the
// others, and so ends the call at the first bad corner. A lane does the scalar code's
// operations in its order, on coordinates that the transposes have put one face per lane.
void face_areas_in_lanes(int32_t begin, int32_t end, const int32_t* faces, const float* vertices,
                         int32_t numVerts, float* areas) {
  int32_t i = begin;
  for (; i + 4 <= end; i += 4) {
    const int32_t* face = faces + 3 * i;
    const __m128i* corners = reinterpret_cast<const __m128i*>(face);
    if (lanes::any_outside(_mm_loadu_si128(corners), 1, numVerts - 1) ||
        lanes::any_outside(_mm_loadu_si128(corners + 1), 1, numVerts - 1) ||
        lanes::any_outside(_mm_loadu_si128(corners + 2), 1, numVerts - 1)) {
      for (int32_t k = i; k < i + 4; ++k) areas[k] = face_area(faces, vertices, numVerts, k);
      continue;
    }
    __m128 x[3], y[3], z[3];  // corner j of the four faces
    for (int j = 0; j < 3; ++j) {
      const auto point = [&](int f) {
        return lanes::load_point_and_next(vertices + 3 * (face[3 * f + j] - 1));
      };
      lanes::transpose_points(point(0), point(1), point(2), point(3), &x[j], &y[j], &z[j]);
    }
    const __m128 ux = _mm_sub_ps(x[1], x[0]), uy = _mm_sub_ps(y[1], y[0]),
                 uz = _mm_sub_ps(z[1], z[0]);
    const __m128 wx = _mm_sub_ps(x[2], x[0]), wy = _mm_sub_ps(y[2], y[0]),
                 wz = _mm_sub_ps(z[2], z[0]);
    const __m128 cx = _mm_sub_ps(_mm_mul_ps(uy, wz), _mm_mul_ps(uz, wy));
    const __m128 cy = _mm_sub_ps(_mm_mul_ps(uz, wx), _mm_mul_ps(wz, ux));
    const __m128 cz = _mm_sub_ps(_mm_mul_ps(ux, wy), _mm_mul_ps(uy, wx));
    const __m128 s =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(cx, cx), _mm_mul_ps(cy, cy)), _mm_mul_ps(cz, cz));
    _mm_storeu_ps(areas + i, lanes::half_root(s));
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
