// [faces, vertices] = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces,
// seedVertices): the face each point projects into from the origin, and its nearest corner.
#include "core/location/TULM_findFaceAux.h"

#include <mex.h>

#include <string>

#include "core/errors.h"
#include "gateway/arguments.h"
#include "gateway/boundary.h"
#include "gateway/mex_diagnostics.h"

namespace {
const char* const kMissingFormat =
    "Six inputs required: points, vertices, faces, vertexNbors, VertexFaces, seedVertices "
    "(got %d)";
const char* const kPointRows = "Point should be three dimensional!";
const char* const kVertexCounts = "Inconsistent number of vertices!";
const char* const kSeedCount = "Numof points and number of seedVertices should be the same!";
const char* const kOutOfMemory = "Ran out of memory!";
}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  tulm::run_gateway(kOutOfMemory, [&] {
    const std::string missing = tulm::format(kMissingFormat, nrhs);
    const tulm::Inputs in(nrhs, prhs, missing.c_str());
    tulm::require(in.count() >= 6, missing.c_str());
    tulm::require(mxGetM(in[0]) == 3, kPointRows);
    tulm::require(mxGetN(in[1]) == mxGetN(in[3]) && mxGetN(in[1]) == mxGetN(in[4]), kVertexCounts);
    tulm::require(mxGetN(in[0]) == mxGetN(in[5]), kSeedCount);

    const auto points = tulm::single_matrix(in[0], "points");
    const auto vertices = tulm::single_matrix(in[1], "vertices");
    const auto faces = tulm::int32_matrix(in[2], "faces");
    const auto vertexNbors = tulm::int32_matrix(in[3], "vertexNbors");
    const auto VertexFaces = tulm::int32_matrix(in[4], "VertexFaces");
    const auto seedVertices = tulm::int32_matrix(in[5], "seedVertices");
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
