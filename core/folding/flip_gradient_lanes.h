// The flipped faces' gradient columns (add_flip_gradients, fold_passes.h) eight columns at a time
// in AVX2 lanes, each lane adding its column's terms in list order through the operations of
// area_gradient in their order, so that every column has the bits of the scalar code.
#ifndef TULM_CORE_FOLDING_FLIP_GRADIENT_LANES_H
#define TULM_CORE_FOLDING_FLIP_GRADIENT_LANES_H

#include <cstdint>

#include "core/folding/fold_model.h"
#include "core/folding/fold_passes.h"

namespace tulm {

// add_flip_gradients of the columns begin..end-1, eight columns at a time in AVX2 lanes where
// chosen_lanes() has eight; returns false, having added nothing, where it does not take them.
bool add_flip_gradients_in_lanes(const FoldMesh& mesh, const FlippedFaces& flipped, int32_t begin,
                                 int32_t end, float* G);

}  // namespace tulm

#endif  // TULM_CORE_FOLDING_FLIP_GRADIENT_LANES_H
