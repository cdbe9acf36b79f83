// What the gateways of nearestPointSearch and nearestIndexSearch share: both are called as
// NAME(reference, model [, T]) and search either the kept tree of handle T or a tree built from
// the reference in the call, with the same checks in the same order; each keeps its own
// message texts.
#ifndef TULM_GATEWAY_NEAREST_GATEWAY_H
#define TULM_GATEWAY_NEAREST_GATEWAY_H

#include "core/diagnostics.h"
#include "core/spatial_search/nearest_queries.h"
#include "gateway/arguments.h"

namespace tulm {

// The texts of the checks of read_tree_and_model, which each gateway lists with its others.
struct NearestMessages {
  const char* invalidHandle;
  const char* noReference;
  const char* noMemory;
  const char* dimension;
};

// Reads the tree and the model of a call that has at least its first two inputs:
//   - with a third input T, the kept tree of that handle (decode_tree_handle, input name
//     "handle"; invalidHandle), and the reference is not read;
//   - else the tree of the reference (noReference when it has no rows or no columns, then
//     double_matrix's class check of "reference", then noMemory when the build runs out of
//     memory); the build prints its own message first;
// then the model: a view of 0 x ndim when it has no rows, whatever its class or columns, else
// dimension unless it has ndim columns, then double_matrix's class check of "model". The tree
// goes to `tree`, whose finish the gateway calls once its outputs are made.
MatrixArg<double> read_tree_and_model(const Inputs& in, const NearestMessages& messages,
                                      Diagnostics& diagnostics, SearchedTree& tree);

}  // namespace tulm

#endif  // TULM_GATEWAY_NEAREST_GATEWAY_H
