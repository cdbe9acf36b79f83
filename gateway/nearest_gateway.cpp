#include "gateway/nearest_gateway.h"

#include <mex.h>

#include <cstddef>
#include <cstdint>

#include "gateway/kdtree_handle.h"

namespace tulm {

MatrixArg<double> read_tree_and_model(const Inputs& in, const NearestMessages& messages,
                                      Diagnostics& diagnostics, SearchedTree& tree) {
  if (in.count() >= 3) {
    tree.use_kept(decode_tree_handle(in[2], "handle", messages.invalidHandle));
  } else {
    require(mxGetM(in[0]) != 0 && mxGetN(in[0]) != 0, messages.noReference);
    const auto reference = double_matrix(in[0], "reference");
    require(tree.build(reference.data, reference.rows, reference.cols, diagnostics),
            messages.noMemory);
  }
  const int32_t ndim = tree.get()->ndim;
  const bool emptyModel = mxGetM(in[1]) == 0;
  if (!emptyModel) require(mxGetN(in[1]) == static_cast<size_t>(ndim), messages.dimension);
  return emptyModel ? MatrixArg<double>{nullptr, 0, ndim} : double_matrix(in[1], "model");
}

}  // namespace tulm
