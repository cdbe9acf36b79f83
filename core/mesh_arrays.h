// Column-major element offsets of MATLAB arrays, in the 32-bit signed arithmetic that every
// mesh routine uses.
//
// Index base: every vertex or face number that crosses the MATLAB boundary is 1-based. Core
// routines work 0-based and change the base exactly once, when they read a table entry
// (subtract 1) or write one (add 1). Padding slots of per-vertex tables hold 0.
#ifndef TULM_CORE_MESH_ARRAYS_H
#define TULM_CORE_MESH_ARRAYS_H

#include <cstdint>

namespace tulm {

// Element (row, col) of an array with nrows rows.
inline int32_t index_2D_array(int32_t row, int32_t col, int32_t nrows) { return row + col * nrows; }

// Element (i, j, k) of an n1 x n2 x n3 array.
inline int32_t index_3D_array(int32_t i, int32_t j, int32_t k, int32_t n1, int32_t n2) {
  return i + j * n1 + k * n1 * n2;
}

}  // namespace tulm

#endif  // TULM_CORE_MESH_ARRAYS_H
