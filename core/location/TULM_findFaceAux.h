// The routine of TULM_findFaceAux: TULM_findFaces, the seeded walk that finds the face each
// point projects into from the origin.
#ifndef TULM_CORE_LOCATION_TULM_FINDFACEAUX_H
#define TULM_CORE_LOCATION_TULM_FINDFACEAUX_H

#include <cstdint>

#include "core/diagnostics.h"

namespace tulm {

// What a call of TULM_findFaces did, for tests, demos and benchmarks.
struct FindFacesReport {
  int32_t failedPoints = 0;     // points that used up the visit limit and got the fallback
  int32_t restartedPoints = 0;  // points whose walk restarted at least once
  int64_t restarts = 0;         // too-far restarts and back-outs of the seed, all points
  int64_t entries = 0;          // vertex entries, all points
};

// Locates each query point on a closed mesh around the origin: the face its central
// projection (along the ray from the origin) falls into, and that face's corner nearest to
// the point. A seeded depth-first walk: from the seed it always enters the unvisited
// neighbour nearest to the point, inside a ball whose radius follows the mesh resolution
// (R/4 * (163842/V)^(1/4), R = length of the first vertex), and tests the faces around every
// vertex it enters with the tolerant same-side test of isOnSameSide.
//
// Inputs:
//   points        3 x N single, one point per column
//   vertices      3 x V single, column form
//   faces         3 x F int32, column form, 1-based corners
//   vertexNbors   Kn x V int32, column form; a list ends before its first entry below 1
//   VertexFaces   Kf x V int32, column form; a list ends before its first entry equal to 0
//   seedVertices  N int32, 1-based seed vertex of each point (it must lie near the point)
// Outputs:
//   faceOut       N int32, 1-based face of each point
//   vertexOut     N int32, 1-based nearest corner of that face; may be null (not computed)
// Known quirks:
//   The face returned need not be the one the ray from the origin through the point crosses:
//   the same-side test admits points up to its tolerance beyond an edge, so a point near the
//   edge two faces share can get whichever of them is tested first, the more readily once
//   restarts have loosened the tolerance. On convex-hull spheres of 1e3 to 4e5 random points
//   this happened for 32 to 48 of every 100,000 points, and the barycentric coordinates of the
//   projection in the returned face went down to -0.4 on skinny faces.
//   A point within 1e-5 of its seed gets the seed and the seed's first listed face (as
//   stored, 0 when the list is empty) without any test. A found face whose first corner (the
//   vertex the walk stands on) lies beyond the search radius restarts the walk from the seed,
//   and so does backing out of the seed; each restart multiplies the tolerance (starting at
//   -0.0001) by 10, so from the fifth restart on every face passes whose test is not NaN.
//   After 100000 vertex entries for one point (restarts included; a face found at the
//   100000th entry is discarded) the point gets the fallback: its seed and the seed's first
//   listed face; the number of such points is printed once at the end of the call, as
//   "<count> number of vertices exceed the max number of trials". Nearest-corner ties keep the
//   corner listed first in the face; neighbour ties keep the entry listed first.
//   A restarted walk that picks the seed again can link its way back to the seed; backing up
//   around such a loop, with nowhere left to go on it, counts as backing out of the seed.
//   Ends the call on a seed outside 1..V, or on a face corner, neighbour or faces-of-vertex
//   entry out of range where it is read. A face with a zero normal warns through diagnostics.
FindFacesReport TULM_findFaces(const float* points, int32_t N, const float* vertices, int32_t V,
                               const int32_t* faces, int32_t F, const int32_t* vertexNbors,
                               int32_t Kn, const int32_t* VertexFaces, int32_t Kf,
                               const int32_t* seedVertices, int32_t* faceOut, int32_t* vertexOut,
                               Diagnostics& diagnostics);

}  // namespace tulm

#endif  // TULM_CORE_LOCATION_TULM_FINDFACEAUX_H
