#include "core/location/vector_geometry.h"

#include <cmath>

namespace tulm {
namespace {

void difference(const float* a, const float* b, float* out) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
}

}  // namespace

void crossVectors(const float* a, const float* b, float* out) {
  const float x = a[1] * b[2] - a[2] * b[1];
  const float y = a[2] * b[0] - a[0] * b[2];
  const float z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

float dotVectors(const float* a, const float* b) {
  return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

float distanceVector(const float* a, const float* b) {
  const float dx = a[0] - b[0];
  const float dy = a[1] - b[1];
  const float dz = a[2] - b[2];
  return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

float magnitudeVector(const float* a) {
  return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]);
}

void normalizeVector(float* a) {
  const float m = magnitudeVector(a);
  a[0] = a[0] / m;
  a[1] = a[1] / m;
  a[2] = a[2] / m;
}

bool isOnSameSide(const float* p, const float* a, const float* b, const float* c, float tolerance) {
  float u[3], w[3], e[3];
  difference(p, b, u);
  difference(a, b, w);
  difference(c, b, e);
  normalizeVector(u);
  normalizeVector(w);
  normalizeVector(e);
  float n1[3], n2[3];
  crossVectors(u, e, n1);
  crossVectors(w, e, n2);
  return dotVectors(n1, n2) >= tolerance;
}

void projectPoint(const float* p, const float* v0, const float* v1, const float* v2, float* out,
                  Diagnostics& diagnostics) {
  float e1[3], e2[3], n[3];
  difference(v1, v0, e1);
  difference(v2, v0, e2);
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
