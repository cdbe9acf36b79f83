// The check of flipped_entries_at_corners (gradient_columns.h) as a flat scan of VertexFaces in
// AVX2's eight lanes or AVX-512's sixteen: the table read as one stream of entries, the flip marks
// of eight or sixteen entries gathered at once, the entries checked one by one only where a flip
// mark or a column's end asks for it. It finds what the column-by-column scan finds.
#ifndef TULM_CORE_FOLDING_COLUMN_ORDER_LANES_H
#define TULM_CORE_FOLDING_COLUMN_ORDER_LANES_H

#include <cstdint>

#include "core/folding/fold_model.h"

namespace tulm {

// flipped_entries_at_corners of the columns begin..end-1, begin < end, K at most 32, with the flip
// marks in flippedWords (FlippedFaces::words), in the lanes that chosen_lanes() names: the result
// into listed and true; false, having read nothing, where it takes no lanes.
bool flipped_entries_in_lanes(const FoldMesh& mesh, const uint64_t* flippedWords, bool everyFace,
                              int32_t begin, int32_t end, int64_t& listed);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_COLUMN_ORDER_LANES_H
