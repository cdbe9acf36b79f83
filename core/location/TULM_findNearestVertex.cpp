#include "core/location/TULM_findNearestVertex.h"

#include <cassert>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/errors.h"
#include "core/interrupt.h"
#include "core/location/nearest_neighbour.h"
#include "core/location/vector_geometry.h"
#include "core/mesh_arrays.h"

namespace tulm {
namespace {

constexpr double kReferenceVertexCount = 163842.0;  // the icosahedron subdivided seven times
// 0.1f * 0.1f: one unit in the last place above the single-precision 0.01.
constexpr double kThresholdFactor = 0.010000000707805157;
constexpr int32_t kRandomMessageCount = 99;
// Points, and random restarts of one point, between two polls for Ctrl-C: a well-seeded point
// takes well under a microsecond, a restart a few (a point far from the mesh restarts up to V
// times).
constexpr int32_t kPointsPerPoll = 256;
constexpr int32_t kRestartsPerPoll = 1024;

}  // namespace

RandomSource runtime_random_source() {
  // Seeding again with the same second, with no draw since, leaves the generator exactly as
  // it is, so that call is skipped: glibc's srand alone costs more than a well-seeded point.
  struct Seeding {
    bool seeded = false;
    bool drawn = false;
    std::time_t second = 0;
  };
  const auto seeding = std::make_shared<Seeding>();
  return {[seeding] {
            const std::time_t now = std::time(nullptr);
            if (seeding->seeded && !seeding->drawn && now == seeding->second) return;
            std::srand(static_cast<unsigned>(now));
            *seeding = {true, false, now};
          },
          [seeding] {
            seeding->drawn = true;
            return std::rand();
          }};
}

NearestVertexReport TULM_findNearestVertex(const float* points, int32_t N, const float* vertices,
                                           int32_t V, const int32_t* vertexNbors, int32_t Kn,
                                           const int32_t* seedVertices, int32_t* vertexOut,
                                           float* distanceOut, const RandomSource& random,
                                           Diagnostics& diagnostics) {
  NearestVertexReport report;
  if (N < 1) return report;
  assert(V >= 1 && "the gateway refuses points without vertices");
  const float* first = vertices;
  const float R2 = (first[0] * first[0] + first[1] * first[1]) + first[2] * first[2];
  const double threshold =
      static_cast<double>(R2) *
      (std::sqrt(kReferenceVertexCount / static_cast<double>(V)) * kThresholdFactor);
  const auto vertex = [vertices](int32_t v) { return vertices + 3 * v; };

  int32_t previous = 0;  // the previous point's result, 1-based; 0 before the first point
  for (int32_t i = 0; i < N; ++i) {
    if (i % kPointsPerPoll == 0) poll_interrupt();
    const float* p = points + 3 * i;
    int32_t cur = 0;
    if (seedVertices[i] >= 1) {
      check_index("seedVertices", seedVertices[i], 0, i, 1, V);
      cur = seedVertices[i] - 1;
    } else if (previous >= 1) {
      cur = previous - 1;
    }
    float curD = squared_distance(p, vertex(cur));
    random.reseed();
    int32_t randCount = 0;
    int32_t bestVertex = -1;
    float bestD = kNoNeighbour;
    while (true) {
      // Descent: move while the nearest neighbour is strictly nearer than the current vertex.
      while (true) {
        float stepBest;
        const int32_t kept = nearest_listed_neighbour(
            p, vertices, V, vertexNbors, Kn, cur, [](int32_t) { return false; }, stepBest);
        if (kept < 0 || !(curD > stepBest)) break;
        cur = kept;
        curD = stepBest;
        if (bestD > curD) {
          bestVertex = cur;
          bestD = curD;
        }
      }
      if (threshold > static_cast<double>(curD)) {
        if (randCount > kRandomMessageCount) {
          diagnostics.print(
              format("RANDOM: vertex %d (matlab index), rand_count: %d\n", i + 1, randCount));
        }
        vertexOut[i] = cur + 1;
        if (distanceOut) distanceOut[i] = std::sqrt(curD);
        break;
      }
      ++randCount;
      if (randCount % kRestartsPerPoll == 0) poll_interrupt();
      if (randCount > V) {
        diagnostics.print(format(
            "Problem vertex (matlab index): %d, rand_count: %d, bestSeed: %d, best_distance: %f\n",
            i + 1, randCount, bestVertex, std::sqrt(static_cast<double>(bestD))));
        vertexOut[i] = bestVertex + 1;
        if (distanceOut) distanceOut[i] = std::sqrt(bestD);
        ++report.gaveUpPoints;
        break;
      }
      const int draw = random.draw();
      assert(draw >= 0 && "draws are non-negative, as rand() gives them");
      cur = draw % V;
      curD = squared_distance(p, vertex(cur));
    }
    previous = vertexOut[i];
    report.randomRestarts += randCount > V ? V : randCount;
    if (randCount > 0) ++report.restartedPoints;
  }
  return report;
}

}  // namespace tulm
