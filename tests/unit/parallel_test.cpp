// The threading helper, and the measures at several thread counts: the same bits, and the
// same message when a worker meets a bad index.
#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "core/measures/TULM_calculateSurfaceArea.h"
#include "core/measures/TULM_computeDiffDataVertex2Nbors.h"
#include "core/measures/TULM_computeMeshFaceAreas.h"
#include "core/measures/TULM_computeVertexDistSq2Nbors.h"
#include "core/measures/TULM_gaussianSmoothVertexData.h"
#include "environment.h"
#include "harness.h"
#include "icosphere.h"

using mexhost::Array;
using mexhost::call;
using mexhost::int32_array;
using mexhost::int32_scalar;
using mexhost::single_array;
using tulm_test::set_environment;

namespace {

// Leaves the thread settings as every other test expects them.
class Threads : public testing::Test {
 protected:
  void TearDown() override {
    tulm::set_thread_count(0);
    tulm::set_host_thread_limit(nullptr);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

int processor_count() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

int five() { return 5; }

TEST_F(Threads, CountFollowsTheOverrideThenTheEnvironmentThenTheHost) {
  struct Case {
    const char* environment;
    int (*host)();
    int expected;
  };
  const Case cases[] = {
      {"", nullptr, processor_count()},
      {"", five, 5},
      {"3", five, 3},
      {"1", nullptr, 1},
      {"1000", nullptr, tulm::kMaxThreadCount},
      // Anything but a positive integer is not a count.
      {"0", five, 5},
      {"-2", five, 5},
      {"4x", five, 5},
      {" 4", five, 5},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", c.environment), 0);
    tulm::set_host_thread_limit(c.host);
    EXPECT_EQ(tulm::thread_count(), c.expected) << "TULM_NUM_THREADS=\"" << c.environment << '"';
  }
  tulm::set_thread_count(2);
  EXPECT_EQ(tulm::thread_count(), 2) << "the override wins over the environment";
}

TEST_F(Threads, ParallelForCoversEveryElementOnceInContiguousRanges) {
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    for (int32_t n : {0, 1, 99, 100, 101, 12345}) {
      std::vector<std::atomic<int>> visits(n);
      std::atomic<int> ranges{0};
      tulm::parallel_for(n, 50, [&](int32_t begin, int32_t end) {
        ASSERT_LT(begin, end);
        for (int32_t i = begin; i < end; ++i) visits[i]++;
        ranges++;
      });
      for (int32_t i = 0; i < n; ++i) ASSERT_EQ(visits[i], 1) << i << " of " << n;
      if (n < 100 || threads == 1) {
        EXPECT_EQ(ranges, n > 0 ? 1 : 0) << "one range: below two grains, or one thread";
      }
    }
  }
}

TEST_F(Threads, TheExceptionOfTheLowestFailingRangeEndsTheLoop) {
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    try {
      tulm::parallel_for(100000, 1000, [](int32_t begin, int32_t end) {
        for (int32_t i = begin; i < end; ++i) {
          if (i == 61234 || i == 99999) throw std::runtime_error(std::to_string(i));
        }
      });
      ADD_FAILURE() << "nothing thrown at " << threads << " threads";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "61234") << threads << " threads";
    }
  }
}

TEST_F(Threads, RunBesideLeadsOnTheCallingThreadAndRethrowsOnceTheHelpersHaveEnded) {
  for (int threads : {1, 2, 7}) {
    std::atomic<int> helping{0}, helped{0};
    std::thread::id leadThread;
    const auto help = [&](const std::atomic<bool>& leadEnded) {
      ++helping;
      while (!leadEnded.load()) std::this_thread::yield();
      ++helped;
    };
    tulm::run_beside(
        threads, [&] { leadThread = std::this_thread::get_id(); }, help);
    EXPECT_EQ(leadThread, std::this_thread::get_id());
    EXPECT_EQ(helped.load(), threads - 1) << "every helper ended before the call returned";
    try {
      tulm::run_beside(
          threads,
          [&] {
            while (helping.load() < 2 * (threads - 1)) std::this_thread::yield();
            throw std::runtime_error("lead");
          },
          help);
      ADD_FAILURE() << "nothing thrown at " << threads << " threads";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "lead");
      EXPECT_EQ(helped.load(), 2 * (threads - 1)) << threads << " threads";
    }
  }
}

// The icosphere subdivided 7 times, moved a little: every routine below has many grains of
// work there, so 2 and 7 threads really share it.
struct BigMesh {
  tulm_test::Mesh mesh;
  std::vector<int32_t> rowFaces;   // F x 3
  std::vector<float> rowVertices;  // V x 3
  std::vector<int32_t> nbors;      // K x V
  int32_t K = 0;
  std::vector<float> data3;  // 3 x V
};

const BigMesh& big_mesh() {
  static const BigMesh big = [] {
    BigMesh b;
    b.mesh = tulm_test::icosphere(7);
    std::mt19937 random(17);
    std::uniform_real_distribution<float> jitter(-0.002f, 0.002f);
    for (float& x : b.mesh.vertices) x += jitter(random);
    const int32_t V = b.mesh.numVerts, F = b.mesh.numFaces;
    b.rowFaces = tulm_test::transposed(b.mesh.faces, 3, F);
    b.rowVertices = tulm_test::transposed(b.mesh.vertices, 3, V);
    std::vector<int32_t> rowTable;
    tulm::TULM_convertFaces2VertNbors(b.rowFaces.data(), F, V, [&](int32_t K) {
      b.K = K;
      rowTable.assign(size_t(K) * V, 0);
      return rowTable.data();
    });
    b.nbors = tulm_test::transposed(rowTable, V, b.K);
    b.data3.resize(3 * size_t(V));
    for (float& x : b.data3) x = jitter(random) * 500.0f;
    return b;
  }();
  return big;
}

struct Routine {
  const char* name;
  std::function<std::vector<float>(const BigMesh&)> run;
};

const Routine kRoutines[] = {
    {"TULM_calculateSurfaceArea",
     [](const BigMesh& b) {
       return std::vector<float>{tulm::TULM_calculateSurfaceArea(
           b.rowVertices.data(), b.mesh.numVerts, b.rowFaces.data(), b.mesh.numFaces)};
     }},
    {"TULM_computeMeshFaceAreas",
     [](const BigMesh& b) {
       std::vector<float> areas(b.mesh.numFaces);
       tulm::TULM_computeMeshFaceAreas(b.mesh.numFaces, b.mesh.faces.data(), b.mesh.vertices.data(),
                                       b.mesh.numVerts, areas.data());
       return areas;
     }},
    {"TULM_computeVertexDistSq2Nbors",
     [](const BigMesh& b) {
       std::vector<float> distSq(size_t(b.K) * b.mesh.numVerts);
       tulm::TULM_computeVertexDistSq2Nbors(b.K, b.mesh.numVerts, b.nbors.data(),
                                            b.mesh.vertices.data(), distSq.data());
       return distSq;
     }},
    {"TULM_computeDiffDataVertex2Nbors",
     [](const BigMesh& b) {
       std::vector<float> diffs(3 * size_t(b.K) * b.mesh.numVerts);
       tulm::TULM_computeDiffDataVertex2Nbors(b.K, b.mesh.numVerts, 3, b.nbors.data(),
                                              b.data3.data(), diffs.data());
       return diffs;
     }},
    {"TULM_gaussianSmoothVertexData D=1",
     [](const BigMesh& b) {
       std::vector<float> out(b.mesh.numVerts);
       tulm::TULM_gaussianSmoothVertexData(b.mesh.vertices.data(), b.mesh.numVerts, b.nbors.data(),
                                           b.K, b.data3.data(), 1, 1e-4f, out.data());
       return out;
     }},
    {"TULM_gaussianSmoothVertexData D=3",
     [](const BigMesh& b) {
       std::vector<float> out(3 * size_t(b.mesh.numVerts));
       tulm::TULM_gaussianSmoothVertexData(b.mesh.vertices.data(), b.mesh.numVerts, b.nbors.data(),
                                           b.K, b.data3.data(), 3, 1e-4f, out.data());
       return out;
     }},
};

std::vector<uint32_t> bits(const std::vector<float>& values) {
  std::vector<uint32_t> out(values.size());
  std::memcpy(out.data(), values.data(), values.size() * sizeof(float));
  return out;
}

TEST_F(Threads, MeasuresGiveTheSameBitsAtOneTwoAndSevenThreads) {
  const BigMesh& b = big_mesh();
  for (const Routine& routine : kRoutines) {
    tulm::set_thread_count(1);
    const std::vector<uint32_t> single = bits(routine.run(b));
    for (int threads : {2, 7}) {
      tulm::set_thread_count(threads);
      EXPECT_EQ(bits(routine.run(b)), single) << routine.name << " at " << threads << " threads";
    }
  }
}

// A plug-in call on the big mesh with one bad index three quarters in and one at the end.
struct BadIndexCase {
  const char* plugin;
  std::function<std::vector<Array>(const BigMesh&)> inputs;
  std::function<std::string(const BigMesh&)> message;
};

std::vector<int32_t> with_bad_neighbours(const BigMesh& b) {
  std::vector<int32_t> nbors = b.nbors;
  const int32_t V = b.mesh.numVerts;
  nbors[size_t(b.K) * (V / 4 * 3)] = V + 5;
  nbors[size_t(b.K) * (V - 1)] = V + 6;
  return nbors;
}

std::string bad_neighbour_message(const BigMesh& b) {
  const int32_t V = b.mesh.numVerts;
  return "vertexNbors holds " + std::to_string(V + 5) + " at (1, " + std::to_string(V / 4 * 3 + 1) +
         "), outside 0.." + std::to_string(V);
}

Array nbor_table(const BigMesh& b) {
  return int32_array({size_t(b.K), size_t(b.mesh.numVerts)}, with_bad_neighbours(b));
}

Array column_vertices(const BigMesh& b) {
  return single_array({3, size_t(b.mesh.numVerts)}, b.mesh.vertices);
}

const BadIndexCase kBadIndexCases[] = {
    {"TULM_calculateSurfaceArea",
     [](const BigMesh& b) {
       const int32_t F = b.mesh.numFaces;
       std::vector<int32_t> faces = b.rowFaces;
       faces[F / 4 * 3] = 0;
       faces[F - 1] = -1;
       return std::vector<Array>{single_array({size_t(b.mesh.numVerts), 3}, b.rowVertices),
                                 int32_array({size_t(F), 3}, faces)};
     },
     [](const BigMesh& b) {
       return "faces holds 0 at (" + std::to_string(b.mesh.numFaces / 4 * 3 + 1) +
              ", 1), outside 1.." + std::to_string(b.mesh.numVerts);
     }},
    {"TULM_computeMeshFaceAreas",
     [](const BigMesh& b) {
       const int32_t F = b.mesh.numFaces;
       std::vector<int32_t> faces = b.mesh.faces;
       faces[3 * (F / 4 * 3) + 2] = b.mesh.numVerts + 1;
       faces[3 * (F - 1)] = 0;
       return std::vector<Array>{int32_scalar(F), int32_array({3, size_t(F)}, faces),
                                 column_vertices(b)};
     },
     [](const BigMesh& b) {
       return "faces holds " + std::to_string(b.mesh.numVerts + 1) + " at (3, " +
              std::to_string(b.mesh.numFaces / 4 * 3 + 1) + "), outside 1.." +
              std::to_string(b.mesh.numVerts);
     }},
    {"TULM_computeVertexDistSq2Nbors",
     [](const BigMesh& b) {
       return std::vector<Array>{int32_scalar(b.K), int32_scalar(b.mesh.numVerts), nbor_table(b),
                                 column_vertices(b)};
     },
     bad_neighbour_message},
    {"TULM_computeDiffDataVertex2Nbors",
     [](const BigMesh& b) {
       return std::vector<Array>{int32_scalar(b.K), int32_scalar(b.mesh.numVerts), int32_scalar(3),
                                 nbor_table(b),
                                 single_array({3, size_t(b.mesh.numVerts)}, b.data3)};
     },
     bad_neighbour_message},
    {"TULM_gaussianSmoothVertexData",
     [](const BigMesh& b) {
       return std::vector<Array>{column_vertices(b), nbor_table(b),
                                 single_array({3, size_t(b.mesh.numVerts)}, b.data3),
                                 mexhost::double_scalar(1e-4)};
     },
     bad_neighbour_message},
};

TEST_F(Threads, BadIndexFoundByAWorkerEndsTheCallWithTheSingleThreadedMessage) {
  const BigMesh& b = big_mesh();
  for (const BadIndexCase& c : kBadIndexCases) {
    const std::vector<Array> inputs = c.inputs(b);
    for (const char* threads : {"1", "2", "7"}) {
      ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
      const auto result = call(c.plugin, 1, inputs);
      EXPECT_TRUE(result.failed) << c.plugin << " at " << threads << " threads";
      EXPECT_EQ(result.error, c.message(b)) << c.plugin << " at " << threads << " threads";
    }
  }
}

}  // namespace
