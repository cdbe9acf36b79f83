// area = TULM_calculateSurfaceArea(vertices, faces): total area of a row-form mesh.
#include "core/measures/TULM_calculateSurfaceArea.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
// The usage text names other inputs than this function takes; callers match on it.
const char* const kUsage =
    "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory computing the surface area";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 2, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const auto vertices = tulm::single_matrix(in[0], "vertices");
    const auto faces = tulm::int32_matrix(in[1], "faces");
    if (faces.rows > 0) {
      tulm::require_at_least(faces, faces.rows, 3, "faces");
      if (vertices.rows > 0) tulm::require_at_least(vertices, vertices.rows, 3, "vertices");
    }

    tulm::Outputs outputs(nlhs, plhs);
    float* area = outputs.single_array(0, {1, 1});
    *area = tulm::TULM_calculateSurfaceArea(vertices.data, vertices.rows, faces.data, faces.rows);
  });
}
