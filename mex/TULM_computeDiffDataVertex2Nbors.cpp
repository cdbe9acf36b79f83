// diffs = TULM_computeDiffDataVertex2Nbors(maxNeighbors, numVerts, numData, vertexNbors, data):
// data differences per slot of the neighbour table.
#include "core/measures/TULM_computeDiffDataVertex2Nbors.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "5 inputs required: maxNeighbors (int 32), numVerts (int 32), numData (int 32), "
    "vertexNbors (int 32 *), data (float *)";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory computing the data differences";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 5, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const int32_t K = tulm::int32_scalar(in[0], "maxNeighbors");
    const int32_t V = tulm::int32_scalar(in[1], "numVerts");
    const int32_t D = tulm::int32_scalar(in[2], "numData");
    const auto vertexNbors = tulm::int32_matrix(in[3], "vertexNbors");
    const auto data = tulm::single_matrix(in[4], "data");
    tulm::require_non_negative(K, "maxNeighbors");
    tulm::require_non_negative(V, "numVerts");
    tulm::require_non_negative(D, "numData");
    if (tulm::checked_product(D, K, V, "the data differences") > 0) {
      tulm::require_at_least(vertexNbors, K, V, "vertexNbors");
      tulm::require_at_least(data, D, V, "data");
    }

    tulm::Outputs outputs(nlhs, plhs);
    float* diffs = outputs.single_array(0, {D, K, V});
    tulm::TULM_computeDiffDataVertex2Nbors(K, V, D, vertexNbors.data, data.data, diffs);
  });
}
