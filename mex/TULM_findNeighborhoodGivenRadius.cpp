// verts = TULM_findNeighborhoodGivenRadius(maxNeighbors, numVerts, vertex, radius,
// vertexNbors): the vertices within `radius` edges of `vertex`, ascending.
#include "core/connectivity/TULM_findNeighborhoodGivenRadius.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "Five inputs required. maxNeighbors (int32), numVerts (int32), vertex (int32), radius "
    "(int32), vertexNbors (int *)";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory finding the neighbourhood";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 5, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const int32_t K = tulm::int32_scalar(in[0], "maxNeighbors");
    const int32_t V = tulm::int32_scalar(in[1], "numVerts");
    const int32_t vertex = tulm::int32_scalar(in[2], "vertex");
    const int32_t radius = tulm::int32_scalar(in[3], "radius");
    const auto vertexNbors = tulm::int32_matrix(in[4], "vertexNbors");
    // No slot is read unless both counts are positive; V below 1 gives the empty row.
    if (K > 0 && V > 0) tulm::require_at_least(vertexNbors, K, V, "vertexNbors");

    tulm::Outputs outputs(nlhs, plhs);
    tulm::FindNeighborhoodGivenRadiusAux(K, V, vertex, radius, vertexNbors.data, [&](int32_t N) {
      return outputs.int32_array(0, {1, N});
    });
  });
}
