// [P, D, T] = nearestPointSearch(reference, model [, T]): the nearest reference point of
// every model row.
#include "core/spatial_search/nearestPointSearch.h"

#include <mex.h>

#include "core/spatial_search/nearest_queries.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/kdtree_handle.h"
#include "gateway/mex_diagnostics.h"
#include "gateway/nearest_gateway.h"

namespace {
const char* const kTooFewInputs = "Must have at least two input arrays.";
const char* const kInvalidHandle = "Third argument is not a valid pointer to a k-D tree\n";
const char* const kNoReference = "You have to supply some reference points to build a k-D tree.";
const char* const kNoMemory = "Not enough free memory to build k-D tree\n";
const char* const kDimension = "Reference and Model Vectors must be of the same dimension";
const tulm::NearestMessages kMessages{kInvalidHandle, kNoReference, kNoMemory, kDimension};
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kNoMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kTooFewInputs);
    tulm::require(in.count() >= 2, kTooFewInputs);
    tulm::MexDiagnostics diagnostics;
    tulm::SearchedTree tree;
    const auto model = tulm::read_tree_and_model(in, kMessages, diagnostics, tree);

    tulm::Outputs outputs(nlhs, plhs);
    double* points = outputs.double_matrix(0, model.rows, model.cols);
    double* distances = outputs.has(1) ? outputs.double_matrix(1, model.rows, 1) : nullptr;
    if (outputs.has(2)) *outputs.double_matrix(2, 1, 1) = tulm::tree_handle_value(tree.get());
    tulm::nearestPointSearch(*tree.get(), model.data, model.rows, points, distances, diagnostics);
    tree.finish(outputs.has(2));
  });
}
