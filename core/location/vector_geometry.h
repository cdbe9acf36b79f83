// Single-precision routines on 3-vectors (three consecutive floats), the geometry under face
// finding and the fold penalties.
//
// Every product, sum, difference, quotient and square root is rounded to single precision and
// evaluated in the order written in the .cpp; the face-finding walk compares these results
// with thresholds, so order and precision decide borderline faces. Routines never allocate;
// outputs may alias inputs.
#ifndef TULM_CORE_LOCATION_VECTOR_GEOMETRY_H
#define TULM_CORE_LOCATION_VECTOR_GEOMETRY_H

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
inline float squaredDistance(const float* a, const float* b) {
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

}  // namespace tulm

#endif  // TULM_CORE_LOCATION_VECTOR_GEOMETRY_H
