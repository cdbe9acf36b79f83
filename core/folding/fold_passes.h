// The passes that the fold penalties share: the flip pass over every face, the visit pass
// over the faces around a list of vertices, and the flipped-face gradient of one vertex.
//
// Each pass keeps the signed area of every face it evaluates in an area cache of F singles
// (zero-filled by the caller), so the gradient passes that follow never recompute one.
#ifndef TULM_CORE_FOLDING_FOLD_PASSES_H
#define TULM_CORE_FOLDING_FOLD_PASSES_H

#include <cstdint>
#include <vector>

#include "core/folding/fold_model.h"

namespace tulm {

// Evaluates every face in order, caches its signed area in areas[f] and returns the penalty:
// the sum of (signed area + offset) over the flipped faces, accumulated in single.
float flipFacePass(const FoldMesh& mesh, float offset, float* areas);

// Adds to `column` (the three singles of vertex w's column of G) the area gradients of the
// faces that column w of VertexFaces lists and whose cached area counts as flipped. A face
// listed twice adds twice; a face never evaluated holds 0 and adds nothing.
void addFlipGradientColumn(const FoldMesh& mesh, const float* areas, int32_t w, float* column);

// The corners of flipped faces, each at most once, in order of discovery (1-based).
class InvolvedVertices {
 public:
  explicit InvolvedVertices(int32_t numVerts) : marked_(numVerts, 0) { list_.reserve(64); }

  void add(int32_t v) {
    if (marked_[v]) return;
    marked_[v] = 1;
    list_.push_back(v + 1);
  }
  const std::vector<int32_t>& list() const { return list_; }

 private:
  std::vector<char> marked_;
  std::vector<int32_t> list_;
};

// The visit pass: for each visited vertex (visit[0..numVisits-1], 1-based, checked against
// 1..V; every vertex in order when numVisits is 0), evaluates the faces around it that were
// not evaluated before (cached area exactly 0), caches their signed areas, and returns the sum
// of (signed area + offset) over the flipped ones in order of discovery. When `involved` is not
// null, the corners v0, v1, v2 of each flipped face are added to it.
float visitPass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                float* areas, InvolvedVertices* involved);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_PASSES_H
