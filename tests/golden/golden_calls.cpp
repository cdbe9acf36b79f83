#include "golden_calls.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/diagnostics.h"
#include "core/location/TULM_findNearestVertex.h"
#include "harness.h"
#include "icosphere.h"
#include "sphere_hull.h"

namespace tulm_golden {
namespace {

using mexhost::Array;
using mexhost::double_scalar;
using mexhost::int32_scalar;
using tulm_test::Mesh;
using tulm_test::transposed;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A 64-bit linear congruential generator (Knuth's MMIX constants) read from its high bits:
// integer arithmetic only, so every platform and standard library draws the same numbers.
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state_ >> 32);
  }
  int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint32_t>(n)); }
  // Uniform in [0, 1) with 53 random bits, exactly.
  double unit() {
    const uint32_t high = next() >> 5, low = next() >> 6;
    return (high * 67108864.0 + low) / 9007199254740992.0;
  }
  // Uniform in [-1, 1) with 24 random bits, exactly in single.
  float symmetric() {
    return static_cast<float>(static_cast<int32_t>(next() >> 8) - 8388608) / 8388608.0f;
  }

 private:
  uint64_t state_;
};

std::string class_name(mxClassID id) {
  switch (id) {
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT32_CLASS: return "int32";
    default: throw std::runtime_error("an output of a class tulm_golden does not record");
  }
}

Record bytes_record(const std::string& call, const std::string& routine, const std::string& output,
                    const std::string& className, std::vector<uint64_t> dims, const void* data,
                    size_t size) {
  Record record{call, routine, output, className, std::move(dims), {}};
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (size > 0) record.bytes.assign(bytes, bytes + size);
  return record;
}

Record text_record(const std::string& call, const std::string& routine, const std::string& text) {
  return bytes_record(call, routine, "text", "text", {text.size()}, text.data(), text.size());
}

// Every NaN of a float array as one quiet NaN: the sign of a NaN that arithmetic makes (from
// Inf - Inf, 0 * Inf) is the processor's, set on x86-64 and clear on ARM64, and nothing but a
// look at the bits tells them apart. Every other bit is recorded as it is.
template <class T>
void canonical_nans(std::vector<unsigned char>& bytes) {
  for (size_t at = 0; at + sizeof(T) <= bytes.size(); at += sizeof(T)) {
    T value;
    std::memcpy(&value, &bytes[at], sizeof(T));
    if (value != value) {
      value = std::numeric_limits<T>::quiet_NaN();
      std::memcpy(&bytes[at], &value, sizeof(T));
    }
  }
}

Record array_record(const std::string& call, const std::string& routine, size_t output,
                    const Array& array) {
  if (!array.exists()) return Record{call, routine, std::to_string(output), "none", {}, {}};
  const std::string className = class_name(array.class_id());
  const std::vector<size_t> dims = array.dims();
  Record record =
      bytes_record(call, routine, std::to_string(output), className,
                   std::vector<uint64_t>(dims.begin(), dims.end()), mxGetData(array.get()),
                   array.numel() * (className == "double" ? 8 : 4));
  if (className == "single") canonical_nans<float>(record.bytes);
  if (className == "double") canonical_nans<double>(record.bytes);
  return record;
}

class Recorder {
 public:
  // Calls a plug-in and records every output slot and the text of the call. Output
  // handleOutput (1-based; 0 for none) is a k-d tree handle, an address: only its class and
  // dimensions are recorded.
  std::vector<Array> call(const std::string& label, const std::string& name, int nlhs,
                          const std::vector<Array>& inputs, size_t handleOutput = 0) {
    claim(label);
    mexhost::CallResult result = mexhost::call(name, nlhs, inputs);
    for (size_t k = 0; k < result.outputs.size(); ++k) {
      Record record = array_record(label, name, k + 1, result.outputs[k]);
      if (k + 1 == handleOutput && record.className != "none") {
        record.className = "handle";
        record.bytes.clear();
      }
      run_.records.push_back(std::move(record));
    }
    std::string text = result.printed;
    for (const std::string& warning : result.warnings) text += "warning: " + warning + "\n";
    if (result.failed) text += "error: " + result.error + "\n";
    if (!result.guards_intact) text += "wrote past its output slots\n";
    if (!result.inputs_intact) text += "wrote into an input\n";
    if (result.failed || !result.guards_intact || !result.inputs_intact) ++run_.troubledCalls;
    run_.records.push_back(text_record(label, name, text));
    return std::move(result.outputs);
  }

  void add(Record record) { run_.records.push_back(std::move(record)); }

  void claim(const std::string& label) {
    if (!labels_.insert(label).second) throw std::logic_error("two calls are labelled " + label);
  }

  GoldenRun take() { return std::move(run_); }

 private:
  GoldenRun run_;
  std::set<std::string> labels_;
};

// The values of an output that later calls build on.
template <class T>
std::vector<T> values_of(const Array& output) {
  if (!output.exists()) throw std::runtime_error("a call that others build on gave no output");
  return output.values<T>();
}

Array single_matrix(size_t rows, size_t cols, const std::vector<float>& values) {
  return mexhost::single_array({rows, cols}, values);
}
Array int32_matrix(size_t rows, size_t cols, const std::vector<int32_t>& values) {
  return mexhost::int32_array({rows, cols}, values);
}
Array double_matrix(size_t rows, size_t cols, const std::vector<double>& values) {
  return mexhost::double_array({rows, cols}, values);
}

// n points on the unit sphere, by rejection in the cube [-1, 1)^3, rounded to single. With
// poles, both polar caps stay empty but for two built vertices: the north pole inside a
// triangle of three close points (valence 3), the south pole inside a ring of sixteen
// (valence 16).
std::vector<float> sphere_points(int32_t n, uint64_t seed, bool poles) {
  Lcg random(seed);
  std::vector<float> xyz;
  while (xyz.size() < 3 * static_cast<size_t>(n)) {
    double p[3];
    for (double& x : p) x = 2 * random.unit() - 1;
    const double r2 = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
    if (r2 > 1 || r2 < 1e-4) continue;
    const double r = std::sqrt(r2);
    if (poles && (p[2] > 0.8 * r || p[2] < -0.8 * r)) continue;
    for (double x : p) xyz.push_back(static_cast<float>(x / r));
  }
  if (!poles) return xyz;
  const double z = 0.98, r = std::sqrt(1 - z * z), h = std::sqrt(3.0) / 2;
  const double north[4][3] = {{0, 0, 1}, {r, 0, z}, {-r / 2, h * r, z}, {-r / 2, -h * r, z}};
  for (const auto& p : north) xyz.insert(xyz.end(), {float(p[0]), float(p[1]), float(p[2])});
  xyz.insert(xyz.end(), {0.0f, 0.0f, -1.0f});
  // The sixteenth roots of unity from square roots: a quadrant, turned four times.
  const double a = std::sqrt(2 + std::sqrt(2.0)) / 2, b = std::sqrt(2 - std::sqrt(2.0)) / 2;
  const double c = std::sqrt(0.5);
  const double quadrant[4][2] = {{1, 0}, {a, b}, {c, c}, {b, a}};
  for (int turn = 0; turn < 4; ++turn) {
    for (const auto& q : quadrant) {
      double x = q[0], y = q[1];
      for (int k = 0; k < turn; ++k) {
        const double t = x;
        x = -y;
        y = t;
      }
      xyz.insert(xyz.end(), {float(r * x), float(r * y), float(-z)});
    }
  }
  return xyz;
}

// A mesh as the plug-ins take it, with its tables in column form (K x V).
struct MeshArrays {
  std::string at;  // label prefix
  Mesh mesh;
  int32_t V = 0, F = 0, Kn = 0, Kf = 0;
  Array verticesCol, verticesRow, facesCol, facesRow, vertexNbors, VertexFaces;
  std::vector<int32_t> nbors;  // vertexNbors' values
};

// The two tables through their builders (flattened row form, turned as users turn them), and
// ring neighbourhoods of a few sizes.
MeshArrays connectivity_calls(Recorder& run, const std::string& at, const Mesh& mesh) {
  MeshArrays a;
  a.at = at;
  a.mesh = mesh;
  a.V = mesh.numVerts;
  a.F = mesh.numFaces;
  a.verticesCol = single_matrix(3, a.V, mesh.vertices);
  a.verticesRow = single_matrix(a.V, 3, transposed(mesh.vertices, 3, a.V));
  a.facesCol = int32_matrix(3, a.F, mesh.faces);
  a.facesRow = int32_matrix(a.F, 3, transposed(mesh.faces, 3, a.F));
  const auto nbors =
      run.call(at + ".nbors", "TULM_convertFaces2VertNbors", 1, {a.facesRow, int32_scalar(a.V)});
  const std::vector<int32_t> flatNbors = values_of<int32_t>(nbors[0]);
  a.Kn = static_cast<int32_t>(flatNbors.size() / a.V);
  a.nbors = transposed(flatNbors, a.V, a.Kn);
  a.vertexNbors = int32_matrix(a.Kn, a.V, a.nbors);
  const auto faces = run.call(at + ".faces_of_vert", "TULM_convertFaces2FacesOfVert", 1,
                              {a.facesRow, int32_scalar(a.V)});
  const std::vector<int32_t> flatFaces = values_of<int32_t>(faces[0]);
  a.Kf = static_cast<int32_t>(flatFaces.size() / a.V);
  a.VertexFaces = int32_matrix(a.Kf, a.V, transposed(flatFaces, a.V, a.Kf));

  const int32_t rings[][2] = {{1, -1}, {1, 0}, {1, 1}, {a.V / 2, 2}, {a.V, 3}, {a.V / 3, 5}};
  for (const auto& ring : rings) {
    run.call(at + ".ring.v" + std::to_string(ring[0]) + ".r" + std::to_string(ring[1]),
             "TULM_findNeighborhoodGivenRadius", 1,
             {int32_scalar(a.Kn), int32_scalar(a.V), int32_scalar(ring[0]), int32_scalar(ring[1]),
              a.vertexNbors});
  }
  return a;
}

// Areas, neighbour distances, data differences and smoothing at every kind of s; returns the
// face areas (F x 1).
Array measure_calls(Recorder& run, const MeshArrays& a, Lcg& random) {
  const std::string& at = a.at;
  const Array V = int32_scalar(a.V), Kn = int32_scalar(a.Kn);
  run.call(at + ".area", "TULM_calculateSurfaceArea", 1, {a.verticesRow, a.facesRow});
  const Array areas = run.call(at + ".face_areas", "TULM_computeMeshFaceAreas", 1,
                               {int32_scalar(a.F), a.facesCol, a.verticesCol})[0];
  run.call(at + ".face_areas.half", "TULM_computeMeshFaceAreas", 1,
           {int32_scalar(a.F / 2), a.facesCol, a.verticesCol});
  run.call(at + ".dist_sq", "TULM_computeVertexDistSq2Nbors", 1,
           {Kn, V, a.vertexNbors, a.verticesCol});

  const std::pair<const char*, Array> sValues[] = {
      {"s0", double_scalar(0)},       {"s-1", double_scalar(-1)},
      {"sNaN", double_scalar(kNaN)},  {"s1e-3", mexhost::single_scalar(1e-3f)},
      {"s0.05", double_scalar(0.05)}, {"s2", int32_scalar(2)}};
  for (int32_t D : {1, 3}) {
    std::vector<float> values(static_cast<size_t>(D) * a.V);
    for (float& x : values) x = random.symmetric();
    const Array data = single_matrix(D, a.V, values);
    const std::string d = ".D" + std::to_string(D);
    run.call(at + ".diff" + d, "TULM_computeDiffDataVertex2Nbors", 1,
             {Kn, V, int32_scalar(D), a.vertexNbors, data});
    for (const auto& s : sValues) {
      run.call(at + ".smooth" + d + "." + s.first, "TULM_gaussianSmoothVertexData", 1,
               {a.verticesCol, a.vertexNbors, data, s.second});
    }
  }
  // Smoothing again and again lets a difference in one step grow through the next ones.
  std::vector<float> values(3 * static_cast<size_t>(a.V));
  for (float& x : values) x = random.symmetric();
  Array data = single_matrix(3, a.V, values);
  for (int step = 1; step <= 4; ++step) {
    data = run.call(at + ".smooth.D3.step" + std::to_string(step), "TULM_gaussianSmoothVertexData",
                    1, {a.verticesCol, a.vertexNbors, data, double_scalar(0.01)})[0];
  }
  return areas;
}

// A mesh with an infinite vertex and an infinite data value: areas, distances, smoothing and
// the fold penalty then meet Inf - Inf and 0 * Inf, whose NaN the processor makes.
void non_finite_calls(Recorder& run, const MeshArrays& a) {
  const std::string at = a.at + ".inf";
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> vertices = a.mesh.vertices;
  vertices[0] = inf;
  vertices[5] = -inf;
  const Array verticesCol = single_matrix(3, a.V, vertices);
  const Array verticesRow = single_matrix(a.V, 3, transposed(vertices, 3, a.V));
  std::vector<float> values(a.V, 0.5f);
  values[2] = inf;
  const Array data = single_matrix(1, a.V, values);
  run.call(at + ".area", "TULM_calculateSurfaceArea", 1, {verticesRow, a.facesRow});
  run.call(at + ".face_areas", "TULM_computeMeshFaceAreas", 1,
           {int32_scalar(a.F), a.facesCol, verticesCol});
  run.call(at + ".dist_sq", "TULM_computeVertexDistSq2Nbors", 1,
           {int32_scalar(a.Kn), int32_scalar(a.V), a.vertexNbors, verticesCol});
  run.call(at + ".smooth", "TULM_gaussianSmoothVertexData", 1,
           {verticesCol, a.vertexNbors, data, double_scalar(0.05)});
  run.call(at + ".fold_grad", "TULM_computeFoldPenaltyGrad", 2,
           {verticesCol, a.facesCol, a.VertexFaces, double_scalar(0.001)});
}

// Restart draws from our own generator, re-seeded at every point from the point's number as
// the plug-in re-seeds from the clock, but the same on every platform.
tulm::RandomSource seeded_source(uint64_t seed) {
  struct State {
    uint64_t seed;
    uint64_t points = 0;
    Lcg random{0};
  };
  auto state = std::make_shared<State>();
  state->seed = seed;
  return {[state] { state->random = Lcg(state->seed + 7919 * state->points++); },
          [state] { return static_cast<int>(state->random.next() >> 1); }};
}

struct NearestVertices {
  std::vector<int32_t> vertex;
  std::vector<float> distance;
  tulm::NearestVertexReport report;
  std::string printed;
};

NearestVertices core_nearest_vertices(const MeshArrays& a, const std::vector<int32_t>& nbors,
                                      int32_t Kn, const std::vector<float>& points,
                                      const std::vector<int32_t>& seeds,
                                      const tulm::RandomSource& random) {
  const int32_t N = static_cast<int32_t>(seeds.size());
  NearestVertices out;
  out.vertex.assign(N, 0);
  out.distance.assign(N, 0);
  tulm::CapturedDiagnostics diagnostics;
  out.report = tulm::TULM_findNearestVertex(points.data(), N, a.mesh.vertices.data(), a.V,
                                            nbors.data(), Kn, seeds.data(), out.vertex.data(),
                                            out.distance.data(), random, diagnostics);
  out.printed = diagnostics.printed;
  for (const std::string& warning : diagnostics.warnings)
    out.printed += "warning: " + warning + "\n";
  return out;
}

// The core search with seeded restarts, recorded as a plug-in call would be.
void core_nearest_vertex_call(Recorder& run, const std::string& label, const MeshArrays& a,
                              const std::vector<int32_t>& nbors, int32_t Kn,
                              const std::vector<float>& points, const std::vector<int32_t>& seeds,
                              uint64_t seed) {
  const char* const routine = "core:TULM_findNearestVertex";
  run.claim(label);
  const NearestVertices found =
      core_nearest_vertices(a, nbors, Kn, points, seeds, seeded_source(seed));
  const uint64_t N = seeds.size();
  run.add(bytes_record(label, routine, "1", "int32", {1, N}, found.vertex.data(), 4 * N));
  run.add(bytes_record(label, routine, "2", "single", {1, N}, found.distance.data(), 4 * N));
  run.add(text_record(label, routine,
                      found.printed + "restarted points " +
                          std::to_string(found.report.restartedPoints) + ", restarts " +
                          std::to_string(found.report.randomRestarts) + ", gave up " +
                          std::to_string(found.report.gaveUpPoints) + "\n"));
}

// The vertex nearest to p by brute force (1-based).
int32_t brute_nearest(const MeshArrays& a, const float* p) {
  int32_t best = 0;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (int32_t v = 0; v < a.V; ++v) {
    double d = 0;
    for (int k = 0; k < 3; ++k) {
      const double e = static_cast<double>(p[k]) - a.mesh.vertices[3 * v + k];
      d += e * e;
    }
    if (d < bestDistance) {
      bestDistance = d;
      best = v;
    }
  }
  return best + 1;
}

// The first listed neighbour of v (1-based in and out).
int32_t first_neighbour(const MeshArrays& a, int32_t v) {
  return a.nbors[static_cast<size_t>(v - 1) * a.Kn];
}

// Nearest vertices and faces of points around the sphere, seeded near and far, points that
// give up, and the nearest-vertex search's random restarts through the core routine.
void location_calls(Recorder& run, const MeshArrays& a, Lcg& random) {
  const std::string& at = a.at;
  const int32_t N = 120;
  std::vector<float> points;
  for (int32_t i = 0; i < 8; ++i) {
    const float* v = &a.mesh.vertices[3 * static_cast<size_t>(i * a.V / 8)];
    points.insert(points.end(), v, v + 3);
  }
  const std::vector<float> directions = sphere_points(N - 8, random.next(), false);
  for (size_t k = 0; k < directions.size(); k += 3) {
    const float scale = 1.0f + 0.1f * random.symmetric();
    for (int c = 0; c < 3; ++c) points.push_back(directions[k + c] * scale);
  }
  std::vector<int32_t> nearest(N), seeds(N), ring2(N);
  for (int32_t i = 0; i < N; ++i) {
    nearest[i] = brute_nearest(a, &points[3 * static_cast<size_t>(i)]);
    // Every third seed continues from the point before, one in three is anywhere.
    seeds[i] = i % 3 == 0 ? 0 : i % 3 == 1 ? nearest[i] : 1 + random.below(a.V);
    ring2[i] = first_neighbour(a, first_neighbour(a, nearest[i]));
  }
  const Array pointsArray = single_matrix(3, N, points);

  // The plug-in re-seeds its restarts from the clock: its calls must need none.
  const auto noDraws = tulm::RandomSource{[] {}, [] { return 0; }};
  if (core_nearest_vertices(a, a.nbors, a.Kn, points, seeds, noDraws).report.randomRestarts > 0)
    throw std::logic_error(at + ": the nearest-vertex points need random restarts");
  const auto found =
      run.call(at + ".nearest_vertex", "TULM_findNearestVertex", 2,
               {pointsArray, a.verticesCol, a.vertexNbors, int32_matrix(1, N, seeds)});

  const auto findFaces = [&](const std::string& label, const Array& somePoints,
                             const Array& someSeeds) {
    run.call(at + ".find_face" + label, "TULM_findFaceAux", 2,
             {somePoints, a.verticesCol, a.facesCol, a.vertexNbors, a.VertexFaces, someSeeds});
  };
  findFaces("", pointsArray, found[0]);
  findFaces(".ring2_seeds", pointsArray, int32_matrix(1, N, ring2));
  // No face for a NaN point, and the origin projects nowhere: both use up their visits.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  findFaces(".give_up",
            single_matrix(3, 3, {nan, nan, nan, 0, 0, 0, points[27], points[28], points[29]}),
            int32_matrix(1, 3, {1, a.V, nearest[9]}));

  // Far points and the origin give up after V restarts; with one neighbour per vertex the
  // descent stalls, and restarts find the points (some after a hundred or more).
  std::vector<float> far;
  for (int i = 10; i < 13; ++i) {
    for (int c = 0; c < 3; ++c) far.push_back(3.0f * points[3 * i + c]);
  }
  far.insert(far.end(), {0, 0, 0});
  core_nearest_vertex_call(run, at + ".nearest_vertex.far", a, a.nbors, a.Kn, far, {1, 0, a.V, 2},
                           random.next());
  std::vector<int32_t> firstRow(a.V), someSeeds(30);
  for (int32_t v = 0; v < a.V; ++v) firstRow[v] = a.nbors[static_cast<size_t>(v) * a.Kn];
  for (int32_t& seed : someSeeds) seed = 1 + random.below(a.V);
  core_nearest_vertex_call(run, at + ".nearest_vertex.one_neighbour", a, firstRow, 1,
                           std::vector<float>(points.begin() + 24, points.begin() + 24 + 90),
                           someSeeds, random.next());
}

// The seven penalties on a folded copy of the mesh: vertices jittered along their radius, a
// few pushed across their first neighbour so that the faces around them flip.
void fold_calls(Recorder& run, const MeshArrays& a, const Array& faceAreas, Lcg& random) {
  const std::string& at = a.at;
  std::vector<float> folded = a.mesh.vertices;
  for (size_t v = 0; v < folded.size(); v += 3) {
    const float scale = 1.0f + 0.01f * random.symmetric();
    for (int c = 0; c < 3; ++c) folded[v + c] *= scale;
  }
  std::vector<int32_t> visit;
  for (int32_t k = 0; k < 2 + a.V / 30; ++k) {
    const int32_t v = 1 + random.below(a.V), n = first_neighbour(a, v);
    for (int c = 0; c < 3; ++c) {
      float& x = folded[3 * static_cast<size_t>(v - 1) + c];
      x = 1.5f * folded[3 * static_cast<size_t>(n - 1) + c] - 0.5f * x;
    }
    visit.push_back(v);
  }
  visit.push_back(visit[0]);  // a repeat is harmless
  const Array vertices = single_matrix(3, a.V, folded);
  const Array visitList = int32_matrix(visit.size(), 1, visit);
  const Array everyVertex = int32_matrix(0, 0, {});
  const Array offset = double_scalar(0.001);

  const std::pair<const char*, Array> offsets[] = {
      {"off0", double_scalar(0)}, {"off1e-3", offset}, {"off1.single", mexhost::single_scalar(1)}};
  for (const auto& o : offsets) {
    run.call(at + ".fold_grad." + o.first, "TULM_computeFoldPenaltyGrad", 2,
             {vertices, a.facesCol, a.VertexFaces, o.second});
    run.call(at + ".fold." + o.first, "TULM_computeFoldPenalty", 1,
             {vertices, a.facesCol, a.VertexFaces, o.second});
  }
  run.call(at + ".fold_grad.nlhs1", "TULM_computeFoldPenaltyGrad", 1,
           {vertices, a.facesCol, a.VertexFaces, offset});

  const std::pair<const char*, Array> visits[] = {{"all", everyVertex}, {"visit", visitList}};
  for (const auto& v : visits) {
    const std::string which = std::string(".") + v.first;
    const auto local = run.call(at + ".local_grad" + which, "TULM_computeLocalFoldPenaltyGrad", 3,
                                {vertices, a.facesCol, a.VertexFaces, v.second, offset});
    run.call(at + ".local" + which, "TULM_computeLocalFoldPenalty", 2,
             {vertices, a.facesCol, a.VertexFaces, v.second, offset});
    run.call(at + ".umbrella" + which, "TULM_computeLocalFoldPenaltyUmbrella", 3,
             {vertices, a.facesCol, a.VertexFaces, a.vertexNbors, v.second, offset});
    // The involved vertices, passed back as the next visit list, as a user follows a fold.
    run.call(at + ".local_grad" + which + ".follow", "TULM_computeLocalFoldPenaltyGrad", 3,
             {vertices, a.facesCol, a.VertexFaces, local[2], offset});
  }
  run.call(at + ".local_grad.unfolded", "TULM_computeLocalFoldPenaltyGrad", 3,
           {a.verticesCol, a.facesCol, a.VertexFaces, everyVertex, offset});

  const Array originalAreas = single_matrix(1, a.F, values_of<float>(faceAreas));
  const Array zeroAreas = single_matrix(1, a.F, {});
  const std::pair<const char*, Array> originals[] = {{"original", originalAreas},
                                                     {"zero", zeroAreas}};
  for (const auto& o : originals) {
    run.call(at + ".area_change_grad." + o.first, "TULM_computeAreaChangePenaltyGrad", 2,
             {vertices, a.facesCol, a.VertexFaces, o.second});
    run.call(at + ".area_change." + o.first, "TULM_computeAreaChangePenalty", 1,
             {vertices, a.facesCol, a.VertexFaces, o.second});
  }

  // Steps against the gradient, each from the last one's vertices, as an unfolding runs.
  std::vector<float> moving = folded;
  for (int step = 1; step <= 3; ++step) {
    const auto out =
        run.call(at + ".unfold.step" + std::to_string(step), "TULM_computeFoldPenaltyGrad", 2,
                 {single_matrix(3, a.V, moving), a.facesCol, a.VertexFaces, offset});
    const std::vector<float> gradient = values_of<float>(out[1]);
    for (size_t k = 0; k < moving.size(); ++k) moving[k] = moving[k] - 0.1f * gradient[k];
  }
}

// A reference point set (M x N) and its queries (Q x N), both column-major.
struct Cloud {
  std::string at;
  int32_t M, N, Q;
  std::vector<double> reference, model;
};

// Every k-d plug-in on one cloud: searches that build and drop a tree, a kept tree searched by
// radius and again by point, then released.
void kdtree_calls(Recorder& run, const Cloud& c) {
  const std::string& at = c.at;
  const Array reference = double_matrix(c.M, c.N, c.reference);
  const Array model = double_matrix(c.Q, c.N, c.model);
  run.call(at + ".point", "nearestPointSearch", 2, {reference, model});
  run.call(at + ".index", "nearestIndexSearch", 2, {reference, model});
  const Array tree = run.call(at + ".keep", "nearestIndexSearch", 3, {reference, model}, 3)[2];
  if (!tree.exists()) throw std::runtime_error(at + ": no tree was kept");

  const std::pair<const char*, Array> limits[] = {{"r0", double_scalar(0)},
                                                  {"r1", double_scalar(1)},
                                                  {"r1.5", double_scalar(1.5)},
                                                  {"r2.int32", int32_scalar(2)},
                                                  {"rNaN", double_scalar(kNaN)}};
  for (int32_t q : {0, c.Q / 2}) {
    std::vector<double> point(c.N);
    for (int32_t d = 0; d < c.N; ++d) point[d] = c.model[q + static_cast<size_t>(d) * c.Q];
    for (const auto& r : limits) {
      run.call(at + ".radius.q" + std::to_string(q + 1) + "." + r.first, "radiusPointSearch", 3,
               {tree, double_matrix(1, c.N, point), r.second});
    }
  }
  run.call(at + ".radius.no_rows", "radiusPointSearch", 3,
           {tree, double_matrix(0, c.N, {}), double_scalar(1)});

  std::vector<double> reversed(c.model.size());
  for (int32_t q = 0; q < c.Q; ++q) {
    for (int32_t d = 0; d < c.N; ++d) {
      reversed[q + static_cast<size_t>(d) * c.Q] =
          c.model[c.Q - 1 - q + static_cast<size_t>(d) * c.Q];
    }
  }
  run.call(at + ".kept.point", "nearestPointSearch", 3,
           {reference, double_matrix(c.Q, c.N, reversed), tree}, 3);
  // Fewer than three outputs release the kept tree.
  run.call(at + ".kept.release", "nearestIndexSearch", 2,
           {reference, double_matrix(0, c.N, {}), tree});
}

// Tie-heavy point sets (an integer grid with every point twice, a line of repeated integers,
// integer points in five dimensions), a continuous cloud and the vertices of a sphere hull.
std::vector<Cloud> clouds(const Mesh& sphere, Lcg& random) {
  std::vector<Cloud> all;
  const auto add_row = [](std::vector<double>& rows, const std::vector<double>& row) {
    rows.insert(rows.end(), row.begin(), row.end());
  };
  // Rows are gathered row by row, then turned column-major.
  const auto finish = [&all](std::string at, int32_t N, const std::vector<double>& reference,
                             const std::vector<double>& model) {
    const int32_t M = static_cast<int32_t>(reference.size() / N);
    const int32_t Q = static_cast<int32_t>(model.size() / N);
    all.push_back(
        Cloud{std::move(at), M, N, Q, transposed(reference, N, M), transposed(model, N, Q)});
  };

  std::vector<double> grid, gridQueries;
  for (int copy = 0; copy < 2; ++copy) {
    for (int x = 0; x < 6; ++x) {
      for (int y = 0; y < 6; ++y) {
        for (int z = 0; z < 6; ++z) add_row(grid, {double(x), double(y), double(z)});
      }
    }
  }
  for (size_t k = grid.size() / 3 - 1; k > 0; --k) {  // shuffled rows
    const size_t j = random.below(static_cast<int32_t>(k + 1));
    for (int d = 0; d < 3; ++d) std::swap(grid[3 * k + d], grid[3 * j + d]);
  }
  for (int q = 0; q < 150; ++q) {
    std::vector<double> row(3);
    for (double& x : row) {
      x = q < 50 ? random.below(6) : q < 100 ? random.below(7) - 0.5 : 7 * random.unit() - 1;
    }
    add_row(gridQueries, row);
  }
  add_row(gridQueries, {1, kNaN, 2});  // no match: "Null LL"
  finish("grid3", 3, grid, gridQueries);

  std::vector<double> line, lineQueries;
  for (int p = 0; p < 400; ++p) line.push_back(random.below(20));
  for (int q = -2; q <= 41; ++q) lineQueries.push_back(0.5 * q);
  finish("line1", 1, line, lineQueries);

  std::vector<double> cube, cubeQueries;
  for (int p = 0; p < 5 * 300; ++p) cube.push_back(random.below(4));
  for (int q = 0; q < 5 * 100; ++q) cubeQueries.push_back(random.below(4) + (q % 2) * 0.5);
  finish("cube5", 5, cube, cubeQueries);

  std::vector<double> plane, planeQueries;
  for (int p = 0; p < 2 * 1000; ++p) plane.push_back(random.unit());
  for (int q = 0; q < 2 * 300; ++q) planeQueries.push_back(1.2 * random.unit() - 0.1);
  finish("cloud2", 2, plane, planeQueries);

  const std::vector<float> directions = sphere_points(200, random.next(), false);
  std::vector<double> queries;
  for (size_t k = 0; k < directions.size(); ++k) queries.push_back(1.05 * directions[k]);
  finish("sphere3", 3, std::vector<double>(sphere.vertices.begin(), sphere.vertices.end()),
         queries);
  return all;
}

}  // namespace

GoldenRun run_golden_calls() {
  Recorder run;
  Lcg random(20240611);
  const std::pair<const char*, Mesh> meshes[] = {
      {"ico1", tulm_test::icosphere(1)},
      {"ico3", tulm_test::icosphere(3)},
      {"hull300", tulm_test::sphere_hull(sphere_points(300, 11, true))},
      {"hull2500", tulm_test::sphere_hull(sphere_points(2500, 12, false))}};
  for (const auto& m : meshes) {
    const MeshArrays a = connectivity_calls(run, m.first, m.second);
    const Array faceAreas = measure_calls(run, a, random);
    location_calls(run, a, random);
    fold_calls(run, a, faceAreas, random);
    if (a.at == "ico1") non_finite_calls(run, a);
  }
  for (const Cloud& c : clouds(meshes[3].second, random)) kdtree_calls(run, c);
  return run.take();
}

}  // namespace tulm_golden
