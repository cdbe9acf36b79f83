// The fold model that every fold penalty shares: the signed area of a face, the flip test and
// the gradient of one face's area with respect to one corner.
//
// A face is flipped when its normal (v1 - v0) x (v2 - v0) points away from the origin, that
// is when the normal and the position of its first corner have a positive dot product. The
// signed area is then positive; properly oriented faces have a signed area <= 0.
//
// All mesh arithmetic is single precision in the order written in fold_model.cpp and
// area_gradient; the area that scales a gradient is that of a double square root rounded to
// single. Results are bit-exact.
#ifndef TULM_CORE_FOLDING_FOLD_MODEL_H
#define TULM_CORE_FOLDING_FOLD_MODEL_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {

// The single nearest 1e-7 (bits 0x33D6BF95). Faces with a signed area at most this large,
// including degenerate ones, never count as flipped.
constexpr float kFlipThreshold = 1.0000000116860974e-07f;

// A face whose gradient area (in double) is below this adds no gradient: dividing by a
// vanishing area would blow the gradient up. For a single area this is the same test as
// "at least kFlipThreshold".
constexpr double kGradientAreaFloor = 9.999999994736442e-08;

// The arrays every fold penalty reads, in column form, as the caller passed them.
struct FoldMesh {
  const float* vertices;       // 3 x V single positions
  int32_t numVerts;            // V
  const int32_t* faces;        // 3 x F int32, 1-based corners v0, v1, v2 of each face
  int32_t numFaces;            // F
  const int32_t* vertexFaces;  // K x V int32: column v lists 1-based faces around v
  int32_t numRows;             // K
};

// True when the signed area s is strictly above kFlipThreshold; false for NaN.
inline bool isFlipped(float s) { return s > kFlipThreshold; }

// The signed area of face f (0-based): half the length of its normal, positive when the
// normal points away from the origin and negative otherwise (also when the face plane passes
// through the origin or the test is NaN). Each corner is checked against 1..V where it is
// read: "faces holds 9 at (2, 5), outside 1..4".
float signedFaceArea(const FoldMesh& mesh, int32_t f);

// signedFaceArea of the faces first, first + 1, ..., first + count - 1 into areas[0..count-1],
// bit for bit. Passes over many faces use this: it computes the edges of a run of faces before
// their cross products, so that crossVectors does not wait on stores it reads back at once.
void signed_face_areas(const FoldMesh& mesh, int32_t first, int32_t count, float* areas);

// signedFaceArea of the faces numbered in faces[0..count-1] (0-based) into areas[0..count-1].
void signed_face_areas_of(const FoldMesh& mesh, const int32_t* faces, int32_t count, float* areas);

// Ends the call as signedFaceArea would when a corner of face f lies outside 1..V.
void check_face_corners(const FoldMesh& mesh, int32_t f);

// A face and one of its corners (0-based), whose area gradient is wanted.
struct FaceCorner {
  int32_t face;
  int32_t corner;
};

// g = the gradient of the unsigned area of face f with respect to the position of vertex w
// (both 0-based): k * (n x (P_b - P_a)) with a, b the two other corners, n their normal with
// P_w and k = 0.25 / area. The area is recomputed (double square root), never cached. Zero
// when that area is below kGradientAreaFloor. When w is not a corner of f, the corners v1 and
// v2 play a and b.
void faceAreaGradient(const FoldMesh& mesh, int32_t f, int32_t w, float g[3]);

// faceAreaGradient of count pairs into g[0..count-1], bit for bit.
void face_area_gradients(const FoldMesh& mesh, const FaceCorner* pairs, int32_t count,
                         float (*g)[3]);

// The pairs whose gradients are computed at once.
constexpr int32_t kGradientBatch = 64;

// The positions a gradient reads, for a batch of pairs: one array per coordinate, so that the
// arithmetic runs in vector instructions. a and b are the two other corners of the pair's
// face, w the corner whose gradient is wanted (faceAreaGradient).
struct GradientCorners {
  float ax[kGradientBatch], ay[kGradientBatch], az[kGradientBatch];
  float bx[kGradientBatch], by[kGradientBatch], bz[kGradientBatch];
  float wx[kGradientBatch], wy[kGradientBatch], wz[kGradientBatch];

  void set(int32_t i, const float* a, const float* b, const float* w) {
    ax[i] = a[0], ay[i] = a[1], az[i] = a[2];
    bx[i] = b[0], by[i] = b[1], bz[i] = b[2];
    wx[i] = w[0], wy[i] = w[1], wz[i] = w[2];
  }
};

// kept ? value : 0.0f, written so that the compiler computes value on every lane and selects
// by a mask: with a plain choice it moves a division into a branch and keeps a loop scalar.
inline float kept_if(bool keep, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= keep ? 0xFFFFFFFFu : 0u;
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

// faceAreaGradient of the corners at a and b with the corner at w (faceAreaGradient's P_a, P_b
// and P_w), into g.
inline void area_gradient(const float* a, const float* b, const float* w, float g[3]) {
  const float Ax = a[0], Ay = a[1], Az = a[2];
  const float Bx = b[0], By = b[1], Bz = b[2];
  // d1 = P_b - P_a, d2 = P_w - P_a, m = d1 x d2 (crossVectors).
  const float d1x = Bx - Ax, d1y = By - Ay, d1z = Bz - Az;
  const float d2x = w[0] - Ax, d2y = w[1] - Ay, d2z = w[2] - Az;
  const float mx = d1y * d2z - d1z * d2y;
  const float my = d1z * d2x - d1x * d2z;
  const float mz = d1x * d2y - d1y * d2x;
  const float squared = (mx * mx + my * my) + mz * mz;
  // The area that scales the gradient, 0.5 * sqrt(double(squared)) rounded once to single, is
  // the single square root halved: a double square root rounded to single is the correctly
  // rounded single root (53 >= 2 * 24 + 2 bits), and halving the root of a single is exact, as
  // it lies far above the subnormals. Checked for every single.
  const float area = std::sqrt(squared) * 0.5f;
  const float k = kept_if(area >= kFlipThreshold, 0.25f / area);
  g[0] = ((Bz - Az) * my + (Ay - By) * mz) * k;
  g[1] = ((Az - Bz) * mx + mz * (Bx - Ax)) * k;
  g[2] = (mx * (By - Ay) + my * (Ax - Bx)) * k;
}

// The gradients of the first count pairs of `corners`, bit for bit those of faceAreaGradient.
void area_gradients(const GradientCorners& corners, int32_t count, float* gx, float* gy, float* gz);

// The gradients of the count faces whose 0-based corners (in 0..V-1) are corners[0..count), with
// respect to each of their three corners: g[(3 * j + k) * rowStride + i] is coordinate k of the
// gradient of face i at its corner j, as area_gradient makes it with the other corners that
// other_corners gives.
void face_gradients(const FoldMesh& mesh, const int32_t (*corners)[3], int32_t count, float* g,
                    size_t rowStride);

// The 0-based corners of face f (0-based); ends the call on the first corner outside 1..V, as
// signedFaceArea would.
inline void corners_of_face(const FoldMesh& mesh, int32_t f, int32_t& v0, int32_t& v1,
                            int32_t& v2) {
  const int32_t* stored = mesh.faces + index_2D_array(0, f, 3);
  const uint32_t V = static_cast<uint32_t>(mesh.numVerts);
  // Unsigned, so that a stored INT32_MIN wraps to a corner above V instead of overflowing.
  const uint32_t u0 = static_cast<uint32_t>(stored[0]) - 1u;
  const uint32_t u1 = static_cast<uint32_t>(stored[1]) - 1u;
  const uint32_t u2 = static_cast<uint32_t>(stored[2]) - 1u;
  if ((u0 >= V) | (u1 >= V) | (u2 >= V)) check_face_corners(mesh, f);
  v0 = static_cast<int32_t>(u0);
  v1 = static_cast<int32_t>(u1);
  v2 = static_cast<int32_t>(u2);
}

// The corners a and b of the face (v0, v1, v2) that faceAreaGradient takes with corner w.
inline void other_corners(int32_t v0, int32_t v1, int32_t v2, int32_t w, int32_t& a, int32_t& b) {
  if (v0 == w) {
    a = v1;
    b = v2;
  } else {
    a = v1 == w ? v0 : v1;
    b = v2 == w ? v0 : v2;
  }
}

inline const float* vertex_position(const FoldMesh& mesh, int32_t v) {
  return mesh.vertices + index_2D_array(0, v, 3);
}

// Calls visit(f) for the 0-based faces that column v of VertexFaces lists, top to bottom,
// up to the first entry below 1. An entry above F ends the call:
// "VertexFaces holds 9 at (2, 5), outside 0..8".
template <class Visit>
void for_each_face_of_vertex(const FoldMesh& mesh, int32_t v, Visit&& visit) {
  for (int32_t j = 0; j < mesh.numRows; ++j) {
    const int32_t entry = mesh.vertexFaces[index_2D_array(j, v, mesh.numRows)];
    if (entry < 1) return;
    check_index("VertexFaces", entry, j, v, 0, mesh.numFaces);
    visit(entry - 1);
  }
}

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_MODEL_H
