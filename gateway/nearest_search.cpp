#include "gateway/nearest_search.h"

#include <memory>
#include <numeric>
#include <vector>

#include "core/spatial_search/kdtree.h"
#include "core/spatial_search/nearest_queries.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/kdtree_handle.h"
#include "gateway/mex_diagnostics.h"

namespace tulm {
namespace {

const char* const kTooFewInputs = "Must have at least two input arrays.";
const char* const kInvalidHandle = "Third argument is not a valid pointer to a k-D tree\n";
const char* const kNoReference = "You have to supply some reference points to build a k-D tree.";
const char* const kNoMemory = "Not enough free memory to build k-D tree\n";
const char* const kDimension = "Reference and Model Vectors must be of the same dimension";

struct ReleaseTree {
  void operator()(tree_header* tree) const { release_tree(tree); }
};

}  // namespace

void nearest_search_gateway(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[],
                            int16_t mode) {
  run_gateway(kNoMemory, [&] {
    require(nrhs >= 2, kTooFewInputs);
    MexDiagnostics diagnostics;

    // A tree built here is released on every way out, unless its handle is returned.
    std::unique_ptr<tree_header, ReleaseTree> built;
    tree_header* tree;
    const bool byHandle = nrhs >= 3;
    if (byHandle) {
      tree = decode_tree_handle(prhs[2], "handle", kInvalidHandle);
    } else {
      require(mxGetM(prhs[0]) != 0 && mxGetN(prhs[0]) != 0, kNoReference);
      const auto reference = double_matrix(prhs[0], "reference");
      std::vector<int32_t> idx(static_cast<size_t>(reference.rows));
      std::iota(idx.begin(), idx.end(), 0);
      built.reset(build_tree(reference.data, reference.rows, reference.cols, idx.data(),
                             reference.rows, 0, diagnostics));
      require(built != nullptr, kNoMemory);
      tree = built.get();
    }

    const int32_t ndim = tree->ndim;
    const bool emptyModel = mxGetM(prhs[1]) == 0;
    if (!emptyModel) require(mxGetN(prhs[1]) == static_cast<size_t>(ndim), kDimension);
    const MatrixArg<double> model =
        emptyModel ? MatrixArg<double>{nullptr, 0, ndim} : double_matrix(prhs[1], "model");

    Outputs outputs(nlhs, plhs);
    double* out = outputs.double_matrix(0, model.rows, mode == kIndexMode ? 1 : ndim);
    std::vector<double> scratchDistances;
    double* distances;
    if (outputs.has(1)) {
      distances = outputs.double_matrix(1, model.rows, 1);
    } else {
      scratchDistances.resize(static_cast<size_t>(model.rows));
      distances = scratchDistances.data();
    }
    if (outputs.has(2)) *outputs.double_matrix(2, 1, 1) = tree_handle_value(tree);

    if (!emptyModel) {
      run_queries(tree->root, model.data, model.rows, ndim, out, distances, mode, diagnostics);
      if (mode == kIndexMode) {
        for (int32_t i = 0; i < model.rows; ++i) out[i] += 1.0;
      }
    }

    if (outputs.has(2)) {
      if (built != nullptr) {
        keep_tree(tree);
        built.release();
      }
    } else if (byHandle) {
      release_kept_tree(tree);
    }
  });
}

}  // namespace tulm
