// distSq = TULM_computeVertexDistSq2Nbors(maxNeighbors, numVerts, vertexNbors, vertices):
// squared distance per slot of the neighbour table.
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "4 inputs required: maxNeighbors (int 32), numVerts (int 32), vertexNbors (int 32 *), "
    "vertices (float *)";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory computing the neighbour distances";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 4, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const int32_t K = tulm::int32_scalar(in[0], "maxNeighbors");
    const int32_t V = tulm::int32_scalar(in[1], "numVerts");
    const auto vertexNbors = tulm::int32_matrix(in[2], "vertexNbors");
    const auto vertices = tulm::single_matrix(in[3], "vertices");
    tulm::require_non_negative(K, "maxNeighbors");
    tulm::require_non_negative(V, "numVerts");
    if (tulm::checked_product(K, V, "the squared distances") > 0) {
      tulm::require_at_least(vertexNbors, K, V, "vertexNbors");
      tulm::require_at_least(vertices, 3, V, "vertices");
    }

    tulm::Outputs outputs(nlhs, plhs);
    float* distSq = outputs.single_array(0, {K, V});
    tulm::TULM_computeVertexDistSq2Nbors(K, V, vertexNbors.data, vertices.data, distSq);
  });
}
