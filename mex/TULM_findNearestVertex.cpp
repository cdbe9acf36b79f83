// [vertex, distance] = TULM_findNearestVertex(points, vertices, vertexNbors, seedVertices): a
// vertex near each point, by greedy descent from its seed with random restarts.
#include "core/location/TULM_findNearestVertex.h"

#include <mex.h>

#include <string>

#include "core/errors.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/mex_diagnostics.h"

namespace {
const char* const kMissingFormat =
    "Four inputs required: points, vertices, vertexNbors, seedVertices (got %d)";
const char* const kPointRows = "Point should be three dimensional!";
const char* const kVertexCounts = "Inconsistent number of vertices!";
const char* const kSeedCount = "Number of poitns should be the same as # of seedVertices!";
const char* const kOutOfMemory = "Out of memory finding nearest vertices";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const std::string missing = tulm::format(kMissingFormat, nrhs);
    const tulm::Inputs in(nrhs, prhs, missing.c_str());
    tulm::require(in.count() >= 4, missing.c_str());
    tulm::require(mxGetM(in[0]) == 3, kPointRows);
    tulm::require(mxGetN(in[1]) == mxGetN(in[2]), kVertexCounts);
    tulm::require(mxGetN(in[0]) == mxGetN(in[3]), kSeedCount);

    const auto points = tulm::single_matrix(in[0], "points");
    const auto vertices = tulm::single_matrix(in[1], "vertices");
    const auto vertexNbors = tulm::int32_matrix(in[2], "vertexNbors");
    const auto seedVertices = tulm::int32_matrix(in[3], "seedVertices");
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
                                 distanceOut, tulm::runtime_random_source(), diagnostics);
  });
}
