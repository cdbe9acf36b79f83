// A valid call of every plug-in on the octahedron, the starting point of the fuzzing harness
// and of the robustness and leak checks: each changes one thing of a call that works.
#ifndef TULM_TESTS_SUPPORT_VALID_CALLS_H
#define TULM_TESTS_SUPPORT_VALID_CALLS_H

#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace tulm_test {

// The octahedron: vertex 1 on top, 6 at the bottom, faces oriented toward the origin; its
// tables in column form; data, query points and seeds for it; a small k-d tree point set.
struct Octahedron {
  static constexpr int32_t V = 6, F = 8;
  int32_t K = 0, Kf = 0;  // rows of the neighbour and faces-of-vertex tables
  mexhost::Array verticesCol, verticesRow, facesCol, facesRow, vertexNbors, VertexFaces;
  mexhost::Array data, points, seeds, visit, reference, model;
};

const Octahedron& octahedron_arrays();

// Column form K x V of a table that a table builder returned flattened, (V*K) x 1.
mexhost::Array column_form(const mexhost::Array& flat, int32_t numVerts);

struct ValidCall {
  std::string name;
  std::vector<mexhost::Array> inputs;
  int handleInput;  // the input that must be a live k-d tree handle, -1 for none
};

// One valid call per plug-in, in the order of the toolbox's contents. A handle input holds an
// empty array: put a handle there (new_tree_handle) before calling.
const std::vector<ValidCall>& valid_calls();

// A live k-d tree handle over the octahedron's point set.
mexhost::Array new_tree_handle();

// Releases the tree behind a handle; a handle already released only gets its message.
void release_tree(const mexhost::Array& handle);

}  // namespace tulm_test

#endif  // TULM_TESTS_SUPPORT_VALID_CALLS_H
