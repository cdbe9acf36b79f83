// Calls every plug-in through the stand-in host with inputs derived from a valid call on a
// small mesh: the fuzzer's bytes pick the plug-in, the number of inputs and outputs, and
// edits to the inputs (another class, another shape, an empty array, an index at or beyond
// its range, NaN and Inf coordinates, k-d tree handles that are live, released or made up).
// Every call must end with outputs or with a message; the sanitizers catch everything else.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "harness.h"

using mexhost::Array;

namespace {

// The octahedron: vertex 1 on top, 6 at the bottom, faces oriented toward the origin.
const std::vector<float> kVerticesCol = {0, 0, 1, 1, 0, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1};
const std::vector<int32_t> kFacesCol = {1, 3, 2, 1, 4, 3, 1, 5, 4, 1, 2, 5,
                                        6, 2, 3, 6, 3, 4, 6, 4, 5, 6, 5, 2};
constexpr int32_t kV = 6, kF = 8;

struct Fixture {
  Array verticesCol, verticesRow, facesCol, facesRow, nbors, vertexFaces, data, points, seeds;
  Array reference, model;
  int32_t K = 0, Kf = 0;
};

std::vector<int32_t> column_form(const Array& flat, int32_t rows) {
  const std::vector<int32_t> v = flat.values<int32_t>();
  const size_t cols = v.size() / rows;
  std::vector<int32_t> out(v.size());
  for (size_t r = 0; r < static_cast<size_t>(rows); ++r) {
    for (size_t c = 0; c < cols; ++c) out[c + r * cols] = v[r + c * rows];
  }
  return out;
}

Fixture make_fixture() {
  Fixture f;
  f.verticesCol = mexhost::single_array({3, kV}, kVerticesCol);
  std::vector<float> row(18);
  std::vector<int32_t> facesRow(24);
  for (int v = 0; v < kV; ++v) {
    for (int c = 0; c < 3; ++c) row[v + c * kV] = kVerticesCol[3 * v + c];
  }
  for (int i = 0; i < kF; ++i) {
    for (int j = 0; j < 3; ++j) facesRow[i + j * kF] = kFacesCol[3 * i + j];
  }
  f.verticesRow = mexhost::single_array({kV, 3}, row);
  f.facesCol = mexhost::int32_array({3, kF}, kFacesCol);
  f.facesRow = mexhost::int32_array({kF, 3}, facesRow);
  const auto nbors =
      mexhost::call("TULM_convertFaces2VertNbors", 1, {f.facesRow, mexhost::int32_scalar(kV)});
  const auto faces =
      mexhost::call("TULM_convertFaces2FacesOfVert", 1, {f.facesRow, mexhost::int32_scalar(kV)});
  if (nbors.failed || faces.failed) std::abort();
  f.K = static_cast<int32_t>(nbors.outputs[0].numel() / kV);
  f.Kf = static_cast<int32_t>(faces.outputs[0].numel() / kV);
  f.nbors = mexhost::int32_array({size_t(f.K), kV}, column_form(nbors.outputs[0], kV));
  f.vertexFaces = mexhost::int32_array({size_t(f.Kf), kV}, column_form(faces.outputs[0], kV));
  f.data = mexhost::single_array({2, kV}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  f.points = mexhost::single_array({3, 2}, {0.1f, 0.2f, 0.9f, 0.5f, -0.5f, -0.6f});
  f.seeds = mexhost::int32_array({1, 2}, {1, 6});
  f.reference = mexhost::double_array({5, 2}, {0, 1, 2, 2, 5, 0, 1, 1, 3, 4});
  f.model = mexhost::double_array({3, 2}, {0.5, 2, 9, 0.5, 1, -1});
  return f;
}

const Fixture& fixture() {
  static const Fixture f = make_fixture();
  return f;
}

// Releases a tree through its handle (a handle already released just gets its message), so
// that trees do not pile up across runs.
void release_tree(const Array& handle) {
  const Fixture& f = fixture();
  mexhost::call("nearestIndexSearch", 1, {f.reference, mexhost::double_array({0, 0}), handle});
}

void release_kept_tree(const mexhost::CallResult& result, const std::string& name) {
  if ((name == "nearestPointSearch" || name == "nearestIndexSearch") && !result.failed &&
      result.outputs.size() >= 3 && result.outputs[2].exists()) {
    release_tree(result.outputs[2]);
  }
}

// A k-d tree handle of the kind the fuzzer asked for.
enum class HandleKind { kLive, kReleased, kMadeUp };

Array tree_handle(HandleKind kind, double madeUp) {
  if (kind == HandleKind::kMadeUp) return mexhost::double_scalar(madeUp);
  const Fixture& f = fixture();
  auto built = mexhost::call("nearestIndexSearch", 3, {f.reference, f.model});
  if (built.failed || !built.outputs[2].exists()) std::abort();
  Array handle = built.outputs[2];
  if (kind == HandleKind::kReleased) release_tree(handle);
  return handle;
}

struct Plugin {
  const char* name;
  std::vector<Array> (*inputs)(const Fixture&);
  int handleInput;  // position of a k-d tree handle among the inputs, -1 for none
};

Array i32(int32_t v) { return mexhost::int32_scalar(v); }

const Plugin kPlugins[] = {
    {"TULM_convertFaces2VertNbors",
     [](const Fixture& f) {
       return std::vector<Array>{f.facesRow, i32(kV)};
     },
     -1},
    {"TULM_convertFaces2FacesOfVert",
     [](const Fixture& f) {
       return std::vector<Array>{f.facesRow, i32(kV)};
     },
     -1},
    {"TULM_findNeighborhoodGivenRadius",
     [](const Fixture& f) {
       return std::vector<Array>{i32(f.K), i32(kV), i32(2), i32(2), f.nbors};
     },
     -1},
    {"TULM_calculateSurfaceArea",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesRow, f.facesRow};
     },
     -1},
    {"TULM_computeMeshFaceAreas",
     [](const Fixture& f) {
       return std::vector<Array>{i32(kF), f.facesCol, f.verticesCol};
     },
     -1},
    {"TULM_computeVertexDistSq2Nbors",
     [](const Fixture& f) {
       return std::vector<Array>{i32(f.K), i32(kV), f.nbors, f.verticesCol};
     },
     -1},
    {"TULM_computeDiffDataVertex2Nbors",
     [](const Fixture& f) {
       return std::vector<Array>{i32(f.K), i32(kV), i32(2), f.nbors, f.data};
     },
     -1},
    {"TULM_gaussianSmoothVertexData",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.nbors, f.data, mexhost::double_scalar(0.5)};
     },
     -1},
    {"TULM_findFaceAux",
     [](const Fixture& f) {
       return std::vector<Array>{f.points, f.verticesCol, f.facesCol,
                                 f.nbors,  f.vertexFaces, f.seeds};
     },
     -1},
    {"TULM_findNearestVertex",
     [](const Fixture& f) {
       return std::vector<Array>{f.points, f.verticesCol, f.nbors, f.seeds};
     },
     -1},
    {"TULM_computeFoldPenaltyGrad",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::double_scalar(1)};
     },
     -1},
    {"TULM_computeFoldPenalty",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::double_scalar(1)};
     },
     -1},
    {"TULM_computeLocalFoldPenaltyGrad",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::int32_array({2, 1}, {1, 6}), mexhost::double_scalar(1)};
     },
     -1},
    {"TULM_computeLocalFoldPenalty",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::int32_array({2, 1}, {1, 6}), mexhost::double_scalar(1)};
     },
     -1},
    {"TULM_computeLocalFoldPenaltyUmbrella",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol,
                                 f.facesCol,
                                 f.vertexFaces,
                                 f.nbors,
                                 mexhost::int32_array({2, 1}, {1, 6}),
                                 mexhost::double_scalar(1)};
     },
     -1},
    {"TULM_computeAreaChangePenaltyGrad",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::single_array({1, kF})};
     },
     -1},
    {"TULM_computeAreaChangePenalty",
     [](const Fixture& f) {
       return std::vector<Array>{f.verticesCol, f.facesCol, f.vertexFaces,
                                 mexhost::single_array({1, kF})};
     },
     -1},
    {"nearestPointSearch",
     [](const Fixture& f) {
       return std::vector<Array>{f.reference, f.model, Array()};
     },
     2},
    {"nearestIndexSearch",
     [](const Fixture& f) {
       return std::vector<Array>{f.reference, f.model, Array()};
     },
     2},
    {"radiusPointSearch",
     [](const Fixture&) {
       return std::vector<Array>{Array(), mexhost::double_array({1, 2}, {1, 1}),
                                 mexhost::double_scalar(2)};
     },
     0},
};

const double kSpecial[] = {0,
                           -1,
                           1,
                           2,
                           kV,
                           kV + 1,
                           kF,
                           kF + 1,
                           std::numeric_limits<int32_t>::max(),
                           std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           1e30,
                           -1e-30,
                           0.5};

const mxClassID kClasses[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS,  mxINT32_CLASS,  mxINT8_CLASS,
                              mxUINT8_CLASS,  mxINT16_CLASS,   mxUINT32_CLASS, mxINT64_CLASS,
                              mxUINT64_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS};

double element_as_double(const Array& a, size_t k) {
  switch (a.class_id()) {
    case mxDOUBLE_CLASS: return a.values<double>()[k];
    case mxSINGLE_CLASS: return a.values<float>()[k];
    case mxINT32_CLASS: return a.values<int32_t>()[k];
    default: return 0;
  }
}

std::vector<double> values_as_double(const Array& a) {
  std::vector<double> v;
  if (!a.exists()) return v;
  const mxClassID id = a.class_id();
  if (id != mxDOUBLE_CLASS && id != mxSINGLE_CLASS && id != mxINT32_CLASS) return v;
  for (size_t k = 0; k < a.numel(); ++k) v.push_back(element_as_double(a, k));
  return v;
}

// One edit of one input.
Array edited(const Array& input, FuzzedDataProvider& bytes) {
  const mxClassID id = input.class_id();
  std::vector<size_t> dims = input.dims();
  std::vector<double> values = values_as_double(input);
  switch (bytes.ConsumeIntegralInRange(0, 3)) {
    case 0: {  // one element to a value at or beyond a range, or not a number
      if (values.empty()) break;
      const size_t at = bytes.ConsumeIntegralInRange<size_t>(0, values.size() - 1);
      values[at] = bytes.PickValueInArray(kSpecial);
      break;
    }
    case 1: {  // another shape, the values kept in storage order
      dims = {bytes.ConsumeIntegralInRange<size_t>(0, 8),
              bytes.ConsumeIntegralInRange<size_t>(0, 8)};
      if (bytes.ConsumeBool()) dims.push_back(bytes.ConsumeIntegralInRange<size_t>(0, 3));
      size_t numel = 1;
      for (size_t d : dims) numel *= d;
      values.resize(numel, bytes.PickValueInArray(kSpecial));
      break;
    }
    case 2: {  // another class
      return mexhost::numeric_array(bytes.PickValueInArray(kClasses), dims, values);
    }
    default:  // empty
      return mexhost::numeric_array(bytes.ConsumeBool() ? id : bytes.PickValueInArray(kClasses),
                                    {bytes.ConsumeIntegralInRange<size_t>(0, 1), 0});
  }
  size_t numel = 1;
  for (size_t d : dims) numel *= d;
  values.resize(numel, 0);
  return mexhost::numeric_array(id, dims, values);
}

}  // namespace

// A count far beyond the arrays (numVerts = INT32_MAX with a handful of faces) asks for
// gigabytes of scratch; under the sanitizers such an allocation fails at once, so the call
// must end with its out-of-memory message rather than crash.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider bytes(data, size);
  const Plugin& plugin = kPlugins[bytes.ConsumeIntegralInRange<size_t>(0, std::size(kPlugins) - 1)];
  if (!mexhost::plugin_available(plugin.name)) return -1;
  const Fixture& f = fixture();
  std::vector<Array> inputs = plugin.inputs(f);
  Array liveHandle;
  if (plugin.handleInput >= 0) {
    const auto kind = static_cast<HandleKind>(bytes.ConsumeIntegralInRange(0, 2));
    inputs[plugin.handleInput] = tree_handle(kind, bytes.ConsumeFloatingPoint<double>());
    if (kind == HandleKind::kLive) liveHandle = inputs[plugin.handleInput];
  }
  const int nlhs = bytes.ConsumeIntegralInRange(0, 7);
  const int nrhs = bytes.ConsumeIntegralInRange(0, 7);
  while (static_cast<int>(inputs.size()) < nrhs) inputs.push_back(mexhost::double_scalar(1));
  inputs.resize(nrhs);
  const int edits = bytes.ConsumeIntegralInRange(0, 3);
  for (int e = 0; e < edits && !inputs.empty(); ++e) {
    const size_t which = bytes.ConsumeIntegralInRange<size_t>(0, inputs.size() - 1);
    if (inputs[which].exists()) inputs[which] = edited(inputs[which], bytes);
  }
  const auto result = mexhost::call(plugin.name, nlhs, inputs);
  if (!result.guards_intact || !result.inputs_intact) std::abort();
  if (result.failed && result.error.empty()) std::abort();
  release_kept_tree(result, plugin.name);
  if (liveHandle.exists()) release_tree(liveHandle);
  return 0;
}
