// [P, D, I] = radiusPointSearch(ROOT, QUERYPT, DISTLIM): every point of a kept k-d tree
// within DISTLIM of one query point.
#include "core/spatial_search/radiusPointSearch.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/kdtree_handle.h"

namespace {
const char* const kTooFewInputs = "Must have at least 3 inputs (ROOT, QUERYPT, DISTLIM).\n";
const char* const kInvalidHandle = "First argument must be a valid pointer to a k-D tree\n";
const char* const kDimension =
    "The dimension of the k-D tree (%d) and queried point (%lld) do not match";
const char* const kOneRow = "Only one search may be performed. QUERYPT must be 1xD array";
const char* const kDistanceLimit = "Distance limit (DISTLIM) must be a scalar value >= 0.";
const char* const kNoMemory = "Out of memory collecting the points within DISTLIM";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kNoMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kTooFewInputs);
    tulm::require(in.count() >= 3, kTooFewInputs);
    const tulm::tree_header* tree = tulm::decode_tree_handle(in[0], "ROOT", kInvalidHandle);
    const int32_t ndim = tree->ndim;
    const size_t queryCols = mxGetN(in[1]);
    if (queryCols != static_cast<size_t>(ndim)) {
      throw tulm::Error(tulm::format(kDimension, ndim, static_cast<long long>(queryCols)));
    }
    tulm::require(mxGetM(in[1]) <= 1, kOneRow);
    tulm::require(mxGetM(in[2]) == 1 && mxGetN(in[2]) == 1, kDistanceLimit);
    const double radius = tulm::numeric_scalar(in[2], "DISTLIM");
    tulm::require(!(radius < 0), kDistanceLimit);
    if (mxGetM(in[1]) == 0) return;

    const auto query = tulm::double_matrix(in[1], "QUERYPT");
    tulm::Outputs outputs(nlhs, plhs);
    tulm::radiusPointSearch(*tree, query.data, radius, [&](int32_t R) {
      return tulm::RangeOutputs{outputs.double_matrix(0, R, ndim),
                                outputs.has(1) ? outputs.double_matrix(1, R, 1) : nullptr,
                                outputs.has(2) ? outputs.double_matrix(2, R, 1) : nullptr};
    });
  });
}
