#include "core/connectivity/TULM_convertFaces2FacesOfVert.h"

#include "core/connectivity/face_corners.h"
#include "core/errors.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

// Faces from the last down, each put in the last free slot of its corners' rows: every row
// ends up ascending, and the counts themselves track the free slots, so no second per-vertex
// array is touched. Only the rows of `range` are written; the corners of other rows go to
// `elsewhere`, without a branch. (The arrays come as arguments, not through a lambda's
// captures: the one-byte counts could alias those, and every store would reload them.)
template <class Range, class Count>
void fill_rows(Range range, const int32_t* faces, int32_t numFaces, int32_t numRows, Count* count,
               int32_t* table) {
  Count elsewhereCount = 0;
  int32_t elsewhere = 0;
  for (int32_t i = numFaces - 1; i >= 0; --i) {
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t v = faces[index_2D_array(i, j, numFaces)] - 1;
      const bool own = range.holds(v);
      const Count slot = --(own ? count[v] : elsewhereCount);
      *(own ? &table[index_2D_array(v, slot, numRows)] : &elsewhere) = i + 1;
    }
  }
}

template <class Count>
void fill_faces_of_vertex(const int32_t* faces, int32_t numFaces, CornerCounts<Count>& counts,
                          const std::function<int32_t*(int32_t K)>& createTable) {
  const int32_t numRows = static_cast<int32_t>(counts.count.size());
  const int32_t K = counts.largest;
  if (int64_t{numRows} * K > INT32_MAX) {
    throw Error(format("the faces-of-vertex table would have %lld entries, more than 2147483647",
                       static_cast<long long>(int64_t{numRows} * K)));
  }
  int32_t* table = createTable(K);

  Count* count = counts.count.data();
  for_each_vertex_range(numRows, 3 * int64_t{numFaces}, [&](auto range) {
    fill_rows(range, faces, numFaces, numRows, count, table);
  });
}

}  // namespace

void TULM_convertFaces2FacesOfVert(const int32_t* faces, int32_t numFaces, int32_t numVerts,
                                   const std::function<int32_t*(int32_t K)>& createTable) {
  CornerCounts<uint8_t> narrow = face_corner_counts<uint8_t>(faces, numFaces, numVerts);
  if (!narrow.wrapped) return fill_faces_of_vertex(faces, numFaces, narrow, createTable);
  narrow = CornerCounts<uint8_t>();
  FaceCornerCounts wide = face_corner_counts<int32_t>(faces, numFaces, numVerts);
  fill_faces_of_vertex(faces, numFaces, wide, createTable);
}

}  // namespace tulm
