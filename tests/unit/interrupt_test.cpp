// Ctrl-C through the stand-in host, which says "pressed" at the N-th time a call asks: every
// plug-in call that polls stops with the interrupt's error and no output, at one, two and seven
// threads; the pool is still usable after it, and the same call afterwards gives the bits it
// gave before. LeakSanitizer (the sanitizer build of
// these tests) checks that nothing an interrupted call took stays allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/connectivity/TULM_convertFaces2VertNbors.h"
#include "environment.h"
#include "harness.h"
#include "icosphere.h"
#include "interrupt_checks.h"

using mexhost::Array;
using mexhost::call;
using mexhost::CallResult;
using mexhost::int32_array;
using mexhost::single_array;
using tulm_test::bits;
using tulm_test::expect_interrupted;
using tulm_test::set_environment;

namespace {

// The icosphere subdivided 6 times, its neighbour table, points to locate near its vertices
// (one poll every 256 of them) and two far from it (a poll every 1024 random restarts, of which
// each makes up to V).
struct Inputs {
  int32_t V = 0, K = 0;
  Array vertices, nbors, points, seeds, farPoints, farSeeds;
};

const Inputs& inputs() {
  static const Inputs in = [] {
    Inputs in;
    const tulm_test::Mesh mesh = tulm_test::icosphere(6);
    const int32_t V = in.V = mesh.numVerts, F = mesh.numFaces;
    std::vector<int32_t> rowTable;
    tulm::TULM_convertFaces2VertNbors(tulm_test::transposed(mesh.faces, 3, F).data(), F, V,
                                      [&](int32_t k) {
                                        in.K = k;
                                        rowTable.assign(size_t(k) * V, 0);
                                        return rowTable.data();
                                      });
    in.vertices = single_array({3, size_t(V)}, mesh.vertices);
    in.nbors = int32_array({size_t(in.K), size_t(V)}, tulm_test::transposed(rowTable, V, in.K));
    std::mt19937 random(3);
    std::normal_distribution<float> normal(0.0f, 0.002f);
    std::vector<float> points(mesh.vertices), far(3 * 2);
    for (float& x : points) x += normal(random);
    for (float& x : far) x = 2.0f + normal(random);
    std::vector<int32_t> seeds(V);
    for (int32_t v = 0; v < V; ++v) seeds[v] = v + 1;
    in.points = single_array({3, size_t(V)}, points);
    in.seeds = int32_array({1, size_t(V)}, seeds);
    in.farPoints = single_array({3, 2}, far);
    in.farSeeds = int32_array({1, 2}, {1, 1});
    return in;
  }();
  return in;
}

// A call that can run long; `repeatable`: the same inputs give the same bits (far points in
// TULM_findNearestVertex restart from random vertices, seeded from the clock).
struct LongCall {
  const char* plugin;
  int nlhs;
  std::function<std::vector<Array>(const Inputs&)> inputs;
  bool repeatable = true;
};

// The calls that poll so far.
const LongCall kLongCalls[] = {
    {"TULM_findNearestVertex", 2,
     [](const Inputs& in) {
       return std::vector<Array>{in.points, in.vertices, in.nbors, in.seeds};
     }},
    {"TULM_findNearestVertex", 2,
     [](const Inputs& in) {
       return std::vector<Array>{in.farPoints, in.vertices, in.nbors, in.farSeeds};
     },
     false},
};

class Interrupt : public testing::Test {
 protected:
  void TearDown() override {
    mexhost::interrupt_at_poll(0);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

// On one thread the polls of a call are the same every time: an interrupt at the first, a
// middle and the last of them stops the call. On several, the calling thread also asks while it
// waits for the others, as often as they take: the first poll stops the call, a later one stops
// it or comes after its end.
TEST_F(Interrupt, EveryLongCallStopsWithoutOutputAndThenGivesItsBitsAgain) {
  const Inputs& in = inputs();
  for (const LongCall& c : kLongCalls) {
    const std::vector<Array> args = c.inputs(in);
    for (const char* threads : {"1", "2", "7"}) {
      const std::string what = std::string(c.plugin) + " at " + threads + " threads";
      ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
      mexhost::interrupt_at_poll(0);
      const CallResult whole = call(c.plugin, c.nlhs, args);
      ASSERT_FALSE(whole.failed) << what << ": " << whole.error;
      ASSERT_GE(whole.interrupt_polls, 1) << what << " never asks whether Ctrl-C was pressed";
      const bool onePass = threads[0] == '1';
      for (int64_t poll : {int64_t{1}, (whole.interrupt_polls + 1) / 2, whole.interrupt_polls}) {
        mexhost::interrupt_at_poll(poll);
        const CallResult stopped = call(c.plugin, c.nlhs, args);
        const std::string at = what + ", interrupted at poll " + std::to_string(poll);
        if (onePass || poll == 1 || stopped.failed) {
          expect_interrupted(stopped, at);
        } else if (c.repeatable) {
          EXPECT_EQ(bits(stopped), bits(whole)) << at << " ended before that poll";
        }
      }
      mexhost::interrupt_at_poll(0);
      const CallResult again = call(c.plugin, c.nlhs, args);
      ASSERT_FALSE(again.failed) << what << ", after the interrupts: " << again.error;
      if (c.repeatable) {
        EXPECT_EQ(bits(again), bits(whole)) << what << ", after the interrupts";
      }
    }
  }
}

}  // namespace
