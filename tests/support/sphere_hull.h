// Irregular test meshes: the convex hull of points on the unit sphere, whose valences range
// far wider than an icosphere's. Built incrementally in plain double arithmetic (no library
// function but sqrt), so the same points give the same mesh, face for face, on every platform.
#ifndef TULM_TESTS_SUPPORT_SPHERE_HULL_H
#define TULM_TESTS_SUPPORT_SPHERE_HULL_H

#include <vector>

#include "icosphere.h"

namespace tulm_test {

// The convex hull of points (3 x n, column form, n >= 4, the first four not coplanar), faces
// ordered so that every normal points toward the origin, as icosphere's. The vertices are the
// points that lie on the hull, in their input order; a point inside it is left out. Throws
// std::runtime_error when rounding broke the hull (never for points in general position).
Mesh sphere_hull(const std::vector<float>& points);

}  // namespace tulm_test

#endif  // TULM_TESTS_SUPPORT_SPHERE_HULL_H
