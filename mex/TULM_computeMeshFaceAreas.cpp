// areas = TULM_computeMeshFaceAreas(numFaces, faces, vertices): area of every face.
#include "core/measures/TULM_computeMeshFaceAreas.h"

#include <mex.h>

#include "gateway/arguments.h"
#include "gateway/boundary.h"

namespace {
const char* const kUsage =
    "3 inputs required: numFaces (int 32), faces (int 32 *), vertices (float *)";
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Out of memory computing the face areas", [&] {
    tulm::require(nrhs == 3, kUsage);
    tulm::require(nlhs <= 1, "Too many output arguments");
    const int32_t numFaces = tulm::int32_scalar(prhs[0], "numFaces");
    const auto faces = tulm::int32_matrix(prhs[1], "faces");
    const auto vertices = tulm::single_matrix(prhs[2], "vertices");
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
