// [vertex, distance] = TULM_findNearestVertex(points, vertices, vertexNbors, seedVertices): a
// vertex near each point, by greedy descent from its seed with random restarts.
#include "core/location/TULM_findNearestVertex.h"

#include <mex.h>

#include "core/errors.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/mex_diagnostics.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway("Out of memory finding nearest vertices", [&] {
    if (nrhs < 4) {
      throw tulm::Error(tulm::format(
          "Four inputs required: points, vertices, vertexNbors, seedVertices (got %d)", nrhs));
    }
    tulm::require(mxGetM(prhs[0]) == 3, "Point should be three dimensional!");
    tulm::require(mxGetN(prhs[1]) == mxGetN(prhs[2]), "Inconsistent number of vertices!");
    tulm::require(mxGetN(prhs[0]) == mxGetN(prhs[3]),
                  "Number of poitns should be the same as # of seedVertices!");

    const auto points = tulm::single_matrix(prhs[0], "points");
    const auto vertices = tulm::single_matrix(prhs[1], "vertices");
    const auto vertexNbors = tulm::int32_matrix(prhs[2], "vertexNbors");
    const auto seedVertices = tulm::int32_matrix(prhs[3], "seedVertices");
    if (vertices.cols > 0) tulm::require_rows(vertices, 3, "vertices");
    if (points.cols > 0) {
      tulm::require_at_least(vertices, 3, 1, "vertices");
      tulm::require_at_least(seedVertices, 1, points.cols, "seedVertices");
    }

    tulm::Outputs outputs(nlhs, plhs);
    int32_t* vertexOut = outputs.int32_array(0, {1, points.cols});
    float* distanceOut = outputs.has(1) ? outputs.single_array(1, {1, points.cols}) : nullptr;
    tulm::MexDiagnostics diagnostics;
    tulm::TULM_findNearestVertex(points.data, points.cols, vertices.data, vertices.cols,
                                 vertexNbors.data, vertexNbors.rows, seedVertices.data, vertexOut,
                                 distanceOut, tulm::runtimeRandomSource(), diagnostics);
  });
}
