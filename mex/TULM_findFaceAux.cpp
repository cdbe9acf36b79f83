// [faces, vertices] = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces,
// seedVertices): the face each point projects into from the origin, and its nearest corner.
#include <mex.h>

#include "core/errors.h"
#include "core/location/TULM_findFaces.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/mex_diagnostics.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Ran out of memory!", [&] {
    if (nrhs < 6) {
      throw tulm::Error(
          tulm::format("Six inputs required: points, vertices, faces, "
                       "vertexNbors, VertexFaces, seedVertices (got %d)",
                       nrhs));
    }
    tulm::require(mxGetM(prhs[0]) == 3, "Point should be three dimensional!");
    tulm::require(mxGetN(prhs[1]) == mxGetN(prhs[3]) && mxGetN(prhs[1]) == mxGetN(prhs[4]),
                  "Inconsistent number of vertices!");
    tulm::require(mxGetN(prhs[0]) == mxGetN(prhs[5]),
                  "Numof points and number of seedVertices should be the same!");

    const auto points = tulm::single_matrix(prhs[0], "points");
    const auto vertices = tulm::single_matrix(prhs[1], "vertices");
    const auto faces = tulm::int32_matrix(prhs[2], "faces");
    const auto vertexNbors = tulm::int32_matrix(prhs[3], "vertexNbors");
    const auto VertexFaces = tulm::int32_matrix(prhs[4], "VertexFaces");
    const auto seedVertices = tulm::int32_matrix(prhs[5], "seedVertices");
    if (vertices.cols > 0) tulm::require_rows(vertices, 3, "vertices");
    if (faces.cols > 0) tulm::require_rows(faces, 3, "faces");
    if (points.cols > 0) tulm::require_at_least(seedVertices, 1, points.cols, "seedVertices");

    tulm::Outputs outputs(nlhs, plhs);
    int32_t* faceOut = outputs.int32_array(0, {1, points.cols});
    int32_t* vertexOut = outputs.has(1) ? outputs.int32_array(1, {1, points.cols}) : nullptr;
    tulm::MexDiagnostics diagnostics;
    tulm::TULM_findFaces(points.data, points.cols, vertices.data, vertices.cols, faces.data,
                         faces.cols, vertexNbors.data, vertexNbors.rows, VertexFaces.data,
                         VertexFaces.rows, seedVertices.data, faceOut, vertexOut, diagnostics);
  });
}
