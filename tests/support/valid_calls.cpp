#include "valid_calls.h"

#include <stdexcept>

using mexhost::Array;

namespace tulm_test {

Array column_form(const Array& flat, int32_t numVerts) {
  const std::vector<int32_t> values = flat.values<int32_t>();
  const size_t K = values.size() / numVerts;
  std::vector<int32_t> table(values.size());
  for (size_t k = 0; k < K; ++k) {
    for (size_t v = 0; v < static_cast<size_t>(numVerts); ++v)
      table[k + v * K] = values[v + k * numVerts];
  }
  return mexhost::int32_array({K, static_cast<size_t>(numVerts)}, table);
}

namespace {

Octahedron make_octahedron() {
  Octahedron o;
  const std::vector<float> xyz = {0, 0, 1, 1, 0, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1};
  const std::vector<int32_t> corners = {1, 3, 2, 1, 4, 3, 1, 5, 4, 1, 2, 5,
                                        6, 2, 3, 6, 3, 4, 6, 4, 5, 6, 5, 2};
  std::vector<float> rowXyz(3 * Octahedron::V);
  std::vector<int32_t> rowCorners(3 * Octahedron::F);
  for (int v = 0; v < Octahedron::V; ++v) {
    for (int c = 0; c < 3; ++c) rowXyz[v + c * Octahedron::V] = xyz[3 * v + c];
  }
  for (int f = 0; f < Octahedron::F; ++f) {
    for (int j = 0; j < 3; ++j) rowCorners[f + j * Octahedron::F] = corners[3 * f + j];
  }
  o.verticesCol = mexhost::single_array({3, Octahedron::V}, xyz);
  o.verticesRow = mexhost::single_array({Octahedron::V, 3}, rowXyz);
  o.facesCol = mexhost::int32_array({3, Octahedron::F}, corners);
  o.facesRow = mexhost::int32_array({Octahedron::F, 3}, rowCorners);
  const auto nbors = mexhost::call("TULM_convertFaces2VertNbors", 1,
                                   {o.facesRow, mexhost::int32_scalar(Octahedron::V)});
  const auto faces = mexhost::call("TULM_convertFaces2FacesOfVert", 1,
                                   {o.facesRow, mexhost::int32_scalar(Octahedron::V)});
  if (nbors.failed || faces.failed) throw std::runtime_error("the table builders failed");
  o.vertexNbors = column_form(nbors.outputs[0], Octahedron::V);
  o.VertexFaces = column_form(faces.outputs[0], Octahedron::V);
  o.K = static_cast<int32_t>(o.vertexNbors.dims()[0]);
  o.Kf = static_cast<int32_t>(o.VertexFaces.dims()[0]);
  o.data = mexhost::single_array({2, Octahedron::V}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  o.points = mexhost::single_array({3, 2}, {0.1f, 0.2f, 0.9f, 0.5f, -0.5f, -0.6f});
  o.seeds = mexhost::int32_array({1, 2}, {1, 6});
  o.visit = mexhost::int32_array({2, 1}, {1, 6});
  o.reference = mexhost::double_array({5, 2}, {0, 1, 2, 2, 5, 0, 1, 1, 3, 4});
  o.model = mexhost::double_array({3, 2}, {0.5, 2, 9, 0.5, 1, -1});
  return o;
}

std::vector<ValidCall> make_valid_calls() {
  const Octahedron& o = octahedron_arrays();
  const auto i32 = [](int32_t value) { return mexhost::int32_scalar(value); };
  const auto real = [](double value) { return mexhost::double_scalar(value); };
  const Array areas = mexhost::single_array({1, Octahedron::F});
  const int32_t V = Octahedron::V, F = Octahedron::F;
  return {
      {"TULM_convertFaces2VertNbors", {o.facesRow, i32(V)}, -1},
      {"TULM_convertFaces2FacesOfVert", {o.facesRow, i32(V)}, -1},
      {"TULM_findNeighborhoodGivenRadius", {i32(o.K), i32(V), i32(2), i32(2), o.vertexNbors}, -1},
      {"TULM_calculateSurfaceArea", {o.verticesRow, o.facesRow}, -1},
      {"TULM_computeMeshFaceAreas", {i32(F), o.facesCol, o.verticesCol}, -1},
      {"TULM_computeVertexDistSq2Nbors", {i32(o.K), i32(V), o.vertexNbors, o.verticesCol}, -1},
      {"TULM_computeDiffDataVertex2Nbors", {i32(o.K), i32(V), i32(2), o.vertexNbors, o.data}, -1},
      {"TULM_gaussianSmoothVertexData", {o.verticesCol, o.vertexNbors, o.data, real(0.5)}, -1},
      {"TULM_findFaceAux",
       {o.points, o.verticesCol, o.facesCol, o.vertexNbors, o.VertexFaces, o.seeds},
       -1},
      {"TULM_findNearestVertex", {o.points, o.verticesCol, o.vertexNbors, o.seeds}, -1},
      {"TULM_computeFoldPenaltyGrad", {o.verticesCol, o.facesCol, o.VertexFaces, real(1)}, -1},
      {"TULM_computeFoldPenalty", {o.verticesCol, o.facesCol, o.VertexFaces, real(1)}, -1},
      {"TULM_computeLocalFoldPenaltyGrad",
       {o.verticesCol, o.facesCol, o.VertexFaces, o.visit, real(1)},
       -1},
      {"TULM_computeLocalFoldPenalty",
       {o.verticesCol, o.facesCol, o.VertexFaces, o.visit, real(1)},
       -1},
      {"TULM_computeLocalFoldPenaltyUmbrella",
       {o.verticesCol, o.facesCol, o.VertexFaces, o.vertexNbors, o.visit, real(1)},
       -1},
      {"TULM_computeAreaChangePenaltyGrad", {o.verticesCol, o.facesCol, o.VertexFaces, areas}, -1},
      {"TULM_computeAreaChangePenalty", {o.verticesCol, o.facesCol, o.VertexFaces, areas}, -1},
      {"nearestPointSearch", {o.reference, o.model, Array()}, 2},
      {"nearestIndexSearch", {o.reference, o.model, Array()}, 2},
      {"radiusPointSearch", {Array(), mexhost::double_array({1, 2}, {1, 1}), real(2)}, 0},
  };
}

}  // namespace

const Octahedron& octahedron_arrays() {
  static const Octahedron o = make_octahedron();
  return o;
}

const std::vector<ValidCall>& valid_calls() {
  static const std::vector<ValidCall> calls = make_valid_calls();
  return calls;
}

Array new_tree_handle() {
  const Octahedron& o = octahedron_arrays();
  auto built = mexhost::call("nearestIndexSearch", 3, {o.reference, o.model});
  if (built.failed || !built.outputs[2].exists()) throw std::runtime_error("no k-d tree handle");
  return built.outputs[2];
}

void release_tree(const Array& handle) {
  const Octahedron& o = octahedron_arrays();
  mexhost::call("nearestIndexSearch", 1, {o.reference, mexhost::double_array({0, 0}), handle});
}

}  // namespace tulm_test
