// areas = TULM_computeMeshFaceAreas(numFaces, faces, vertices): area of every face.
#include "core/measures/TULM_computeMeshFaceAreas.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "3 inputs required: numFaces (int 32), faces (int 32 *), vertices (float *)";
const char* const kTooManyOutputs = "Too many output arguments";
const char* const kOutOfMemory = "Out of memory computing the face areas";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const tulm::Inputs in(nrhs, prhs, kUsage);
    tulm::require(in.count() == 3, kUsage);
    tulm::require(nlhs <= 1, kTooManyOutputs);
    const int32_t numFaces = tulm::int32_scalar(in[0], "numFaces");
    const auto faces = tulm::int32_matrix(in[1], "faces");
    const auto vertices = tulm::single_matrix(in[2], "vertices");
    tulm::require_non_negative(numFaces, "numFaces");
    if (numFaces > 0) {
      tulm::require_at_least(faces, 3, numFaces, "faces");
      if (vertices.data != nullptr) tulm::require_rows(vertices, 3, "vertices");
    }
    const int32_t numVerts = vertices.data != nullptr ? vertices.cols : 0;

    tulm::Outputs outputs(nlhs, plhs);
    float* areas = outputs.single_array(0, {numFaces, 1});
    tulm::TULM_computeMeshFaceAreas(numFaces, faces.data, vertices.data, numVerts, areas);
  });
}
