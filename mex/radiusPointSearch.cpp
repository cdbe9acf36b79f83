// [P, D, I] = radiusPointSearch(ROOT, QUERYPT, DISTLIM): every point of a kept k-d tree
// within DISTLIM of one query point.
#include <mex.h>

#include "core/spatial_search/nearest_queries.h"
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
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Out of memory collecting the points within DISTLIM", [&] {
    tulm::require(nrhs >= 3, kTooFewInputs);
    const tulm::tree_header* tree = tulm::decode_tree_handle(prhs[0], "ROOT", kInvalidHandle);
    const int32_t ndim = tree->ndim;
    const size_t queryCols = mxGetN(prhs[1]);
    if (queryCols != static_cast<size_t>(ndim)) {
      throw tulm::Error(tulm::format(kDimension, ndim, static_cast<long long>(queryCols)));
    }
    tulm::require(mxGetM(prhs[1]) <= 1, kOneRow);
    tulm::require(mxGetM(prhs[2]) == 1 && mxGetN(prhs[2]) == 1, kDistanceLimit);
    const double radius = tulm::numeric_scalar(prhs[2], "DISTLIM");
    tulm::require(!(radius < 0), kDistanceLimit);
    if (mxGetM(prhs[1]) == 0) return;

    const auto query = tulm::double_matrix(prhs[1], "QUERYPT");
    const auto matches = tulm::run_range_search(tree->root, query.data, ndim, radius);
    const int32_t count = static_cast<int32_t>(matches.size());
    tulm::Outputs outputs(nlhs, plhs);
    double* points = outputs.double_matrix(0, count, ndim);
    double* distances = outputs.has(1) ? outputs.double_matrix(1, count, 1) : nullptr;
    double* rows = outputs.has(2) ? outputs.double_matrix(2, count, 1) : nullptr;
    tulm::write_range_results(matches, query.data, ndim, points, distances, rows);
  });
}
