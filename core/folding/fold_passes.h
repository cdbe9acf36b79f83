// The passes that the fold penalties share: the flip pass and the area change pass over every
// face, the visit pass over the faces around a list of vertices, and the gradient columns that
// follow them.
//
// Each pass's bits are those of a plain order: the faces in face order (the visit pass: in order
// of discovery), every sum accumulated in single in that order, and a gradient column w taking
// the faces that column w of VertexFaces lists in list order. Areas and gradients are evaluated
// in batches and lanes (fold_model.h), faces and columns shared among threads for large meshes,
// and the flip pass adds its gradients face by face where VertexFaces allows (gradient_columns.h),
// always with those bits.
//
// The visit pass keeps the signed area of every face it evaluates in an area cache of F singles
// (zero-filled by the caller); the flip and visit passes mark the flipped faces, so the gradient
// passes that follow never evaluate a face's flip state again.
#ifndef TULM_CORE_FOLDING_FOLD_PASSES_H
#define TULM_CORE_FOLDING_FOLD_PASSES_H

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/folding/fold_model.h"
#include "core/portability.h"

namespace tulm {

class FlippedFaces;
class InvolvedVertices;

// Evaluates every face and returns the penalty: the sum of (signed area + offset) over the
// flipped faces, accumulated in single in face order. Marks the flipped faces in `flipped`
// unless it is null. Large meshes are shared among threads, the sum still taken in face order;
// a bad corner ends the call with the message of the first one in face order.
float flip_face_pass(const FoldMesh& mesh, float offset, FlippedFaces* flipped);

// flip_face_pass, with the gradient of the penalty added to G (3 x V, zero-filled) as
// add_flip_gradients adds it: column v takes the area gradients of the flipped faces that column
// v of VertexFaces lists, each as g + G in list order. Each flipped face adds its three corners'
// gradients as the flip pass finds it, face by face (one thread), or right after the flip pass
// while another thread checks the table and then computes the gradients of the faces ahead
// (several); then, unless one scan finds that VertexFaces lists exactly the flipped faces at
// their corners, in increasing order in each column (the order in which they were added), G goes
// back to zeros and the columns add their faces.
float flip_face_pass_with_gradients(const FoldMesh& mesh, float offset, float* G);

// Evaluates every face into areas[0..F-1] (on several threads for large meshes) and returns the
// area change penalty: the sum of (areas[f] - originalAreas[f])^2, accumulated in single in
// face order.
float area_change_face_pass(const FoldMesh& mesh, const float* originalAreas, float* areas);

// Adds the gradient of the area change penalty to G (3 x V), given the areas of
// area_change_face_pass: column w takes, for every face f that column w of VertexFaces lists, in
// list order, g * u + G, with g the area gradient of f at w and u = (areas[f] - originalAreas[f])
// * -2. Vertex ranges are shared among threads for large meshes; a bad VertexFaces entry ends the
// call with the message of the first one in column order.
void add_area_change_gradients(const FoldMesh& mesh, const float* originalAreas, const float* areas,
                               float* G);

// Adds to every column w of G (3 x V) the area gradients of the faces that column w of
// VertexFaces lists and that were found flipped, each as g + G in list order. A face listed
// twice adds twice; a face never evaluated adds nothing. Vertex ranges are shared among threads
// for large meshes.
void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped, float* G);

// add_flip_gradients of the columns of the 1-based vertices given, in their order.
void add_flip_gradients(const FoldMesh& mesh, const FlippedFaces& flipped,
                        const std::vector<int32_t>& vertices, float* G);

// The visit pass: for each visited vertex (visit[0..numVisits-1], 1-based, checked against
// 1..V; every vertex in order when visit is null), evaluates the faces around it that were
// not evaluated before (cached area exactly 0), caches their signed areas, and returns the sum
// of (signed area + offset) over the flipped ones in order of discovery. Flipped faces are
// marked in `flipped` and their corners v0, v1, v2 added to `involved`, each unless null.
float visit_pass(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits, float offset,
                 float* areas, FlippedFaces* flipped, InvolvedVertices* involved);

// Called once with the number of involved vertices nL; returns storage for nL int32 (null
// when nL is 0). An empty function means the list is not wanted.
using CreateInvolvedList = std::function<int32_t*(int32_t count)>;

// The visit pass into *P, then the involved-vertex list L through createList. Returns the
// involved vertices (1-based), which are only collected when L or a column per involved
// vertex (wantColumns) is wanted.
std::vector<int32_t> visit_and_list(const FoldMesh& mesh, const int32_t* visit, int32_t numVisits,
                                    float offset, float* areas, FlippedFaces* flipped, float* P,
                                    bool wantColumns, const CreateInvolvedList& createList);

// The faces found flipped, one bit each. The gradient passes test a face for every
// VertexFaces entry they read; F bits stay in cache where F cached areas would not.
class FlippedFaces {
 public:
  explicit FlippedFaces(int32_t numFaces) : words_((static_cast<size_t>(numFaces) + 63) / 64) {}

  // Threads may mark faces at once when no two of them mark faces of one word (64 faces).
  void mark(int32_t f) { words_[f >> 6] |= uint64_t{1} << (f & 63); }
  // Marks the faces f + i for the bits i of marks; f is a multiple of 64.
  void mark_word(int32_t f, uint64_t marks) { words_[f >> 6] |= marks; }
  bool has(int32_t f) const { return (words_[f >> 6] >> (f & 63)) & 1u; }
  const uint64_t* words() const { return words_.data(); }
  bool none() const {
    for (uint64_t word : words_) {
      if (word != 0) return false;
    }
    return true;
  }
  // The faces marked.
  int64_t count() const {
    int64_t marked = 0;
    for (uint64_t word : words_) marked += count_bits(word);
    return marked;
  }

 private:
  std::vector<uint64_t> words_;
};

// The corners of flipped faces, each at most once, in order of discovery (1-based).
class InvolvedVertices {
 public:
  explicit InvolvedVertices(int32_t numVerts) : marked_(numVerts, 0) { list_.reserve(64); }

  void add(int32_t v) {
    if (marked_[v]) return;
    marked_[v] = 1;
    list_.push_back(v + 1);
  }
  std::vector<int32_t> take_list() { return std::move(list_); }

 private:
  std::vector<char> marked_;
  std::vector<int32_t> list_;
};

// Faces evaluated at once by the passes over every face: their areas stay in the first level
// cache. A multiple of 64, so that the flip marks of two blocks never share a word of
// FlippedFaces.
constexpr int32_t kFacesPerBlock = 1024;

inline int32_t block_count(int32_t numFaces) {
  return (numFaces + kFacesPerBlock - 1) / kFacesPerBlock;
}

// Between two polls for Ctrl-C in the passes that one thread makes in order (interrupt.h), a
// millisecond or less of work: blocks of faces, faces, vertices visited, gradient columns.
constexpr int32_t kBlocksPerPoll = 64;
constexpr int32_t kFacesPerPoll = kBlocksPerPoll * kFacesPerBlock;
constexpr int32_t kVerticesPerPoll = 1 << 14;

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FOLD_PASSES_H
