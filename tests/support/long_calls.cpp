#include "long_calls.h"

#include <cstdint>
#include <random>
#include <stdexcept>

#include "icosphere.h"
#include "valid_calls.h"

using mexhost::Array;

namespace tulm_test {

std::vector<LongCall> long_mesh_calls(int subdivisions, int farPoints) {
  const Mesh mesh = icosphere(subdivisions);
  const int32_t V = mesh.numVerts, F = mesh.numFaces;
  const size_t v = static_cast<size_t>(V), f = static_cast<size_t>(F);
  const Array verticesCol = mexhost::single_array({3, v}, mesh.vertices);
  const Array verticesRow = mexhost::single_array({v, 3}, transposed(mesh.vertices, 3, V));
  const Array facesCol = mexhost::int32_array({3, f}, mesh.faces);
  const Array facesRow = mexhost::int32_array({f, 3}, transposed(mesh.faces, 3, F));
  // Two corners swapped: every face flipped, the most work for the fold penalties.
  std::vector<int32_t> swapped(mesh.faces);
  for (size_t i = 0; i < f; ++i) std::swap(swapped[3 * i + 1], swapped[3 * i + 2]);
  const Array flippedCol = mexhost::int32_array({3, f}, swapped);

  const auto table = [&](const char* builder) {
    const mexhost::CallResult built =
        mexhost::call(builder, 1, {facesRow, mexhost::int32_scalar(V)});
    if (built.failed) throw std::runtime_error(std::string(builder) + ": " + built.error);
    return column_form(built.outputs[0], V);
  };
  const Array nbors = table("TULM_convertFaces2VertNbors");
  const Array faces = table("TULM_convertFaces2FacesOfVert");
  const int32_t K = static_cast<int32_t>(nbors.dims()[0]);

  std::mt19937 random(3);
  std::normal_distribution<float> normal(0.0f, 0.002f);
  std::vector<float> near(mesh.vertices), data(2 * v), far(3 * static_cast<size_t>(farPoints));
  for (float& x : near) x += normal(random);
  for (float& x : data) x = normal(random);
  for (float& x : far) x = 2.0f + normal(random);
  std::vector<int32_t> seeds(v), everyVertex(v);
  for (int32_t k = 0; k < V; ++k) seeds[k] = everyVertex[k] = k + 1;
  const Array points = mexhost::single_array({3, v}, near);
  const Array seedsRow = mexhost::int32_array({1, v}, seeds);
  const Array visit = mexhost::int32_array({v, 1}, everyVertex);
  const Array values = mexhost::single_array({2, v}, data);
  const Array areas = mexhost::single_array({1, f});
  const auto i32 = [](int32_t value) { return mexhost::int32_scalar(value); };
  const auto real = [](double value) { return mexhost::double_scalar(value); };

  std::vector<LongCall> calls = {
      {"TULM_convertFaces2VertNbors", 1, {facesRow, i32(V)}},
      {"TULM_convertFaces2FacesOfVert", 1, {facesRow, i32(V)}},
      {"TULM_findNeighborhoodGivenRadius",
       1,
       {i32(K), i32(V), i32(1), i32(1 << 20), nbors},
       "the whole sphere"},
      {"TULM_calculateSurfaceArea", 1, {verticesRow, facesRow}},
      {"TULM_computeMeshFaceAreas", 1, {i32(F), facesCol, verticesCol}},
      {"TULM_computeVertexDistSq2Nbors", 1, {i32(K), i32(V), nbors, verticesCol}},
      {"TULM_computeDiffDataVertex2Nbors", 1, {i32(K), i32(V), i32(2), nbors, values}},
      {"TULM_gaussianSmoothVertexData", 1, {verticesCol, nbors, values, real(0.05)}},
      {"TULM_findFaceAux", 2, {points, verticesCol, facesCol, nbors, faces, seedsRow}},
      {"TULM_findNearestVertex", 2, {points, verticesCol, nbors, seedsRow}},
      {"TULM_computeFoldPenaltyGrad", 2, {verticesCol, flippedCol, faces, real(1)}},
      {"TULM_computeFoldPenalty", 1, {verticesCol, flippedCol, faces, real(1)}},
      {"TULM_computeLocalFoldPenaltyGrad", 3, {verticesCol, flippedCol, faces, visit, real(1)}},
      {"TULM_computeLocalFoldPenalty", 2, {verticesCol, flippedCol, faces, visit, real(1)}},
      {"TULM_computeLocalFoldPenaltyUmbrella",
       3,
       {verticesCol, flippedCol, faces, nbors, visit, real(1)}},
      {"TULM_computeAreaChangePenaltyGrad", 2, {verticesCol, facesCol, faces, areas}},
      {"TULM_computeAreaChangePenalty", 1, {verticesCol, facesCol, faces, areas}},
  };
  if (farPoints > 0) {
    calls.push_back(
        {"TULM_findNearestVertex",
         2,
         {mexhost::single_array({3, static_cast<size_t>(farPoints)}, far), verticesCol, nbors,
          mexhost::int32_array({1, static_cast<size_t>(farPoints)},
                               std::vector<int32_t>(farPoints, 1))},
         "far points",
         false});
  }
  return calls;
}

}  // namespace tulm_test
