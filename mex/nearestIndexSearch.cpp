// [I, D, T] = nearestIndexSearch(reference, model [, T]): the 1-based row of the nearest
// reference point of every model row.
#include "core/spatial_search/nearestIndexSearch.h"

#include <mex.h>

#include "core/spatial_search/nearest_queries.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/kdtree_handle.h"
#include "gateway/mex_diagnostics.h"

namespace {
const char* const kTooFewInputs = "Must have at least two input arrays.";
const char* const kInvalidHandle = "Third argument is not a valid pointer to a k-D tree\n";
const char* const kNoReference = "You have to supply some reference points to build a k-D tree.";
const char* const kNoMemory = "Not enough free memory to build k-D tree\n";
const char* const kDimension = "Reference and Model Vectors must be of the same dimension";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kNoMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kTooFewInputs);
    tulm::require(in.count() >= 2, kTooFewInputs);
    tulm::MexDiagnostics diagnostics;
    tulm::SearchedTree tree;
    if (in.count() >= 3) {
      tree.use_kept(tulm::decode_tree_handle(in[2], "handle", kInvalidHandle));
    } else {
      tulm::require(mxGetM(in[0]) != 0 && mxGetN(in[0]) != 0, kNoReference);
      const auto reference = tulm::double_matrix(in[0], "reference");
      tulm::require(tree.build(reference.data, reference.rows, reference.cols, diagnostics),
                    kNoMemory);
    }
    const int32_t ndim = tree.get()->ndim;
    const bool emptyModel = mxGetM(in[1]) == 0;
    if (!emptyModel) tulm::require(mxGetN(in[1]) == static_cast<size_t>(ndim), kDimension);
    const tulm::MatrixArg<double> model = emptyModel ? tulm::MatrixArg<double>{nullptr, 0, ndim}
                                                     : tulm::double_matrix(in[1], "model");

    tulm::Outputs outputs(nlhs, plhs);
    double* rows = outputs.double_matrix(0, model.rows, 1);
    double* distances = outputs.has(1) ? outputs.double_matrix(1, model.rows, 1) : nullptr;
    if (outputs.has(2)) *outputs.double_matrix(2, 1, 1) = tulm::tree_handle_value(tree.get());
    tulm::nearestIndexSearch(*tree.get(), model.data, model.rows, rows, distances, diagnostics);
    tree.finish(outputs.has(2));
  });
}
