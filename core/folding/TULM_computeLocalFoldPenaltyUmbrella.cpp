#include "core/folding/TULM_computeLocalFoldPenaltyUmbrella.h"

#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/folding/fold_passes.h"
#include "core/interrupt.h"

namespace tulm {
namespace {

// Column w of U: the position of w minus the mean position of its neighbours.
void umbrella_column(const FoldMesh& mesh, const int32_t* vertexNbors, int32_t nborRows,
                     int32_t nborCols, int32_t w, float* u);

}  // namespace

void TULM_computeLocalFoldPenaltyUmbrella(const FoldMesh& mesh, const int32_t* vertexNbors,
                                          int32_t nborRows, int32_t nborCols, const int32_t* visit,
                                          int32_t numVisits, float offset, float* P, float* U,
                                          const CreateInvolvedList& createList) {
  // P and L as TULM_computeLocalFoldPenalty. Then, for each vertex w of L, column w of U is w's
  // position minus the mean position of the neighbours that column w of vertexNbors lists.
  std::vector<float> areas(mesh.numFaces);
  const std::vector<int32_t> involved = visit_and_list(mesh, visit, numVisits, offset, areas.data(),
                                                       nullptr, P, U != nullptr, createList);
  if (U == nullptr) return;
  in_polled_blocks(0, static_cast<int32_t>(involved.size()), kVerticesPerPoll,
                   [&](int32_t begin, int32_t end) {
                     for (int32_t i = begin; i < end; ++i) {
                       const int32_t p = involved[i];
                       umbrella_column(mesh, vertexNbors, nborRows, nborCols, p - 1,
                                       U + index_2D_array(0, p - 1, 3));
                     }
                   });
}

namespace {

// The default quiet NaN of x86 arithmetic (what 0/0 gives there), sign bit set. It is read
// through a volatile so that the compiler cannot fold "x + NaN" into a NaN of its own choice.
float default_nan() {
  const uint32_t bits = 0xFFC00000u;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  volatile float opaque = value;
  return opaque;
}

void umbrella_column(const FoldMesh& mesh, const int32_t* vertexNbors, int32_t nborRows,
                     int32_t nborCols, int32_t w, float* u) {
  const float* pw = mesh.vertices + index_2D_array(0, w, 3);
  if (nborRows <= 0) {
    const float nan = default_nan();
    u[0] = pw[0] + nan;
    u[1] = pw[1] + nan;
    u[2] = pw[2] + nan;
    return;
  }
  if (w >= nborCols) {
    throw Error(format("vertexNbors must be at least %d x %d (got %d x %d)", nborRows, w + 1,
                       nborRows, nborCols));
  }
  float sum[3] = {0.0f, 0.0f, 0.0f};
  int32_t n = 0;
  for (int32_t j = 0; j < nborRows; ++j) {
    const int32_t q = vertexNbors[index_2D_array(j, w, nborRows)];
    if (q < 1) break;
    check_index("vertexNbors", q, j, w, 0, mesh.numVerts);
    const float* pq = mesh.vertices + index_2D_array(0, q - 1, 3);
    sum[0] = sum[0] + pq[0];
    sum[1] = sum[1] + pq[1];
    sum[2] = sum[2] + pq[2];
    ++n;
  }
  // With no neighbour, 0/0 makes every component NaN.
  const float count = static_cast<float>(n);
  u[0] = (-sum[0]) / count + pw[0];
  u[1] = (-sum[1]) / count + pw[1];
  u[2] = (-sum[2]) / count + pw[2];
}

}  // namespace

}  // namespace tulm
