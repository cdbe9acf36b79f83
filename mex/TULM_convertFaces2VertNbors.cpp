// nbrs = TULM_convertFaces2VertNbors(faces, numVerts): the neighbour table, row form, flattened.
#include "core/connectivity/TULM_convertFaces2VertNbors.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory building the neighbour table";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 2, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const auto faces = tulm::int32_matrix(in[0], "faces");
    const int32_t numVerts = tulm::int32_scalar(in[1], "numVerts");
    if (faces.rows > 0) tulm::require_at_least(faces, faces.rows, 3, "faces");

    tulm::Outputs outputs(nlhs, plhs);
    const int32_t numRows = numVerts > 0 ? numVerts : 0;
    tulm::TULM_convertFaces2VertNbors(faces.data, faces.rows, numVerts, [&](int32_t K) {
      return outputs.int32_array(0, {numRows * K});
    });
  });
}
