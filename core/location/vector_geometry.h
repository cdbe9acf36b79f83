// Single-precision routines on 3-vectors (three consecutive floats), the geometry under face
// finding and the fold penalties.
//
// Every product, sum, difference, quotient and square root is rounded to single precision and
// evaluated in the order written below; the face-finding walk compares these results
// with thresholds, so order and precision decide borderline faces. Routines never allocate;
// outputs may alias inputs.
#ifndef TULM_CORE_LOCATION_VECTOR_GEOMETRY_H
#define TULM_CORE_LOCATION_VECTOR_GEOMETRY_H

#include <cmath>

#include "core/diagnostics.h"

namespace tulm {

// out = a x b.
void crossVectors(const float* a, const float* b, float* out);

// (a.x*b.x + a.y*b.y) + a.z*b.z.
float dotVectors(const float* a, const float* b);

// |a - b|.
float distanceVector(const float* a, const float* b);

// |a|.
float magnitudeVector(const float* a);

// ((a.x-b.x)^2 + (a.y-b.y)^2) + (a.z-b.z)^2, each difference a minus b: the squared distance
// that the walks of face finding and nearest-vertex search compare, without a square root.
inline float squared_distance(const float* a, const float* b) {
  const float dx = a[0] - b[0];
  const float dy = a[1] - b[1];
  const float dz = a[2] - b[2];
  return (dx * dx + dy * dy) + dz * dz;
}

// a /= |a|, in place. A zero vector becomes NaN in every component, without a message.
void normalizeVector(float* a);

// True when p lies on the same side of the line through b and c as a, within tolerance: the
// dot product of the normals of the unit directions (p - b) x (c - b) and (a - b) x (c - b)
// is at least tolerance. A tolerance below 0 admits points slightly beyond the line; one
// clearly below -1 admits everything but the NaN case. False when the dot product is NaN,
// which happens when p, a or c coincides with b.
bool isOnSameSide(const float* p, const float* a, const float* b, const float* c, float tolerance);

// out = the point where the line from the origin through p meets the plane of the face
// (v0, v1, v2). A face with a zero normal raises the warning
// "Normal equal to zero! But should be ok." and is replaced by the plane through v0
// perpendicular to v0. A face seen edge-on from the origin, or p at the origin, gives an
// infinite or NaN point.
void projectPoint(const float* p, const float* v0, const float* v1, const float* v2, float* out,
                  Diagnostics& diagnostics);

// The definitions are inline: the face-finding walk calls them for every face it tests.
namespace detail {

inline void difference(const float* a, const float* b, float* out) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

}  // namespace detail

inline void crossVectors(const float* a, const float* b, float* out) {
  const float x = a[1] * b[2] - a[2] * b[1];
  const float y = a[2] * b[0] - a[0] * b[2];
  const float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

inline float dotVectors(const float* a, const float* b) {
  return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

inline float distanceVector(const float* a, const float* b) {
  const float dx = a[0] - b[0];
  const float dy = a[1] - b[1];
  const float dz = a[2] - b[2];
  return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

inline float magnitudeVector(const float* a) {
  return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]);
}

inline void normalizeVector(float* a) {
  const float m = magnitudeVector(a);
  a[0] = a[0] / m;
  a[1] = a[1] / m;
  a[2] = a[2] / m;
}

inline bool isOnSameSide(const float* p, const float* a, const float* b, const float* c,
                         float tolerance) {
  float u[3], w[3], e[3];
  detail::difference(p, b, u);
  detail::difference(a, b, w);
  detail::difference(c, b, e);
  normalizeVector(u);
  normalizeVector(w);
  normalizeVector(e);
  float n1[3], n2[3];
  crossVectors(u, e, n1);
  crossVectors(w, e, n2);
  return dotVectors(n1, n2) >= tolerance;
}

inline void projectPoint(const float* p, const float* v0, const float* v1, const float* v2,
                         float* out, Diagnostics& diagnostics) {
  float e1[3], e2[3], n[3];
  detail::difference(v1, v0, e1);
  detail::difference(v2, v0, e2);
  crossVectors(e1, e2, n);
  const float length = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]);
  if (length == 0.0f) {
    diagnostics.warn("Normal equal to zero! But should be ok.");
  } else {
    n[0] = n[0] / length;
    n[1] = n[1] / length;
    n[2] = n[2] / length;
  }
  if (magnitudeVector(n) == 0.0f) {
    n[0] = v0[0];
    n[1] = v0[1];
    n[2] = v0[2];
    normalizeVector(n);
  }
  const float k = dotVectors(v0, n) / dotVectors(p, n);
  out[0] = p[0] * k;
  out[1] = p[1] * k;
  out[2] = p[2] * k;
}

}  // namespace tulm

#endif  // TULM_CORE_LOCATION_VECTOR_GEOMETRY_H
