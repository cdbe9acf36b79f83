// Ctrl-C in the k-d tree plug-ins, through the stand-in host, which says "pressed" at the N-th
// time a call asks: the build, the search copy, the queries and the radius search stop with the
// interrupt's error and no output, at one, two and seven threads; an interrupted call keeps no
// new tree and leaves every kept tree as it was, and the same call afterwards gives the bits it
// gave before. The sanitizer build checks that an interrupted build leaves nothing allocated.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/spatial_search/kdtree.h"
#include "core/spatial_search/packed_tree.h"
#include "environment.h"
#include "harness.h"
#include "interrupt_checks.h"

using mexhost::Array;
using mexhost::call;
using mexhost::CallResult;
using mexhost::double_array;
using mexhost::double_scalar;
using tulm_test::bits;
using tulm_test::expect_interrupted;
using tulm_test::set_environment;

namespace {

const char* const kPoint = "nearestPointSearch";
const char* const kIndex = "nearestIndexSearch";
const char* const kRadius = "radiusPointSearch";

// M uniform points in the unit cube, column-major M x 3.
Array uniform_points(size_t M, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<double> values(3 * M);
  for (double& x : values) x = uniform(random);
  return double_array({M, 3}, values);
}

// 200,000 reference points, whose build polls a few hundred times and is shared among seven
// threads; 20,000 model rows, enough for the tree to get its search copy and for the queries
// to poll a few dozen times; a radius around the middle of the cube that takes in half of
// the points.
struct Inputs {
  Array reference = uniform_points(200000, 31);
  Array model = uniform_points(20000, 32);
  Array noReference = double_array({0, 0});
  Array noModel = double_array({0, 3});
  Array middle = double_array({1, 3}, {0.5, 0.5, 0.5});
  Array radius = double_scalar(0.5);
};

const Inputs& inputs() {
  static const Inputs in;
  return in;
}

// A call that polls; `answers`: its leading outputs that are the same bits every time (a new
// tree's handle is not).
struct LongCall {
  const char* plugin;
  int nlhs;
  size_t answers;
  std::function<std::vector<Array>(const Inputs&, const Array& kept)> inputs;
};

const LongCall kLongCalls[] = {
    {kIndex, 2, 2,
     [](const Inputs& in, const Array&) {
       return std::vector<Array>{in.reference, in.model};
     }},
    // Keeps the tree it builds once the queries are done: an interrupt in them releases it.
    {kIndex, 3, 2,
     [](const Inputs& in, const Array&) {
       return std::vector<Array>{in.reference, in.model};
     }},
    {kPoint, 3, 3,
     [](const Inputs& in, const Array& kept) {
       return std::vector<Array>{in.noReference, in.model, kept};
     }},
    {kRadius, 3, 3,
     [](const Inputs& in, const Array& kept) {
       return std::vector<Array>{kept, in.middle, in.radius};
     }},
};

// The handle of a tree of the reference, kept, without a search copy: one model row is too
// few to pay for one.
Array keep_tree_of_reference() {
  const Inputs& in = inputs();
  const CallResult kept = call(kIndex, 3, {in.reference, double_array({1, 3}, {0.5, 0.5, 0.5})});
  EXPECT_FALSE(kept.failed) << kept.error;
  return kept.outputs.size() == 3 ? kept.outputs[2] : Array();
}

// A call with a handle and fewer than three outputs is the tree's last.
void release(const Array& handle) {
  const Inputs& in = inputs();
  const CallResult released = call(kIndex, 1, {in.noReference, in.noModel, handle});
  EXPECT_FALSE(released.failed) << released.error;
}

tulm::tree_header* kept_tree(const Array& handle) {
  return tulm::find_kept_tree(static_cast<int64_t>(handle.values<double>()[0]));
}

bool is_kept(const Array& handle) { return kept_tree(handle) != nullptr; }

std::string answer_bits(const CallResult& result, size_t answers) {
  CallResult leading = result;
  if (leading.outputs.size() > answers) leading.outputs.resize(answers);
  return bits(leading);
}

class KdTreeInterrupt : public testing::Test {
 protected:
  void TearDown() override {
    mexhost::interrupt_at_poll(0);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

// On one thread the polls of a call are the same every time: an interrupt at the first, a
// middle and the last of them stops the call. On several, the calling thread also asks while it
// waits for the others: the first poll stops the call, a later one stops it or comes after its
// end. The kept tree that two of the calls search has its search copy before the first of them,
// so that their polls are the same from one call to the next.
TEST_F(KdTreeInterrupt, EveryLongCallStopsWithoutOutputOrNewTreeAndThenGivesItsBitsAgain) {
  const Inputs& in = inputs();
  const Array kept = keep_tree_of_reference();
  ASSERT_TRUE(kept.exists());
  ASSERT_FALSE(call(kPoint, 3, {in.noReference, in.model, kept}).failed);
  for (const LongCall& c : kLongCalls) {
    const std::vector<Array> args = c.inputs(in, kept);
    // The tree a call keeps, released once its answers are read.
    const auto call_and_release_new_tree = [&] {
      const size_t before = tulm::kept_tree_count();
      CallResult result = call(c.plugin, c.nlhs, args);
      if (!result.failed && tulm::kept_tree_count() > before) release(result.outputs[2]);
      return result;
    };
    for (const char* threads : {"1", "2", "7"}) {
      const std::string what = std::string(c.plugin) + " with " + std::to_string(c.nlhs) +
                               " outputs at " + threads + " threads";
      ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
      mexhost::interrupt_at_poll(0);
      const CallResult whole = call_and_release_new_tree();
      ASSERT_FALSE(whole.failed) << what << ": " << whole.error;
      ASSERT_GE(whole.interrupt_polls, 1) << what << " never asks whether Ctrl-C was pressed";
      const bool onePass = threads[0] == '1';
      for (int64_t poll : {int64_t{1}, (whole.interrupt_polls + 1) / 2, whole.interrupt_polls}) {
        const std::string at = what + ", interrupted at poll " + std::to_string(poll);
        const size_t keptBefore = tulm::kept_tree_count();
        mexhost::interrupt_at_poll(poll);
        const CallResult stopped = call_and_release_new_tree();
        if (onePass || poll == 1 || stopped.failed) {
          expect_interrupted(stopped, at);
          EXPECT_EQ(tulm::kept_tree_count(), keptBefore) << at;
          EXPECT_TRUE(is_kept(kept)) << at;
        } else {
          EXPECT_EQ(answer_bits(stopped, c.answers), answer_bits(whole, c.answers))
              << at << " ended before that poll";
        }
      }
      mexhost::interrupt_at_poll(0);
      const CallResult again = call_and_release_new_tree();
      ASSERT_FALSE(again.failed) << what << ", after the interrupts: " << again.error;
      EXPECT_EQ(answer_bits(again, c.answers), answer_bits(whole, c.answers))
          << what << ", after the interrupts";
    }
  }
  release(kept);
}

// With a handle and two outputs, a search that ends releases the tree; one that is interrupted
// leaves it kept and searchable. The first three polls of the first search of a kept tree of
// 60,000 points with 1,000 model rows come while its search copy is made (no cache order for so
// few rows; subtrees of 16,384 points and more poll): the copy that the interrupts leave
// unfinished is made again by the next search, and the tree answers as a new tree of the same
// points does.
TEST_F(KdTreeInterrupt, AKeptTreeOutlivesInterruptedSearchesAndAnswersAsBefore) {
  const Array reference = uniform_points(60000, 41);
  const Array model = uniform_points(1000, 42);
  const Array noReference = double_array({0, 0});
  const Array middle = double_array({1, 3}, {0.5, 0.5, 0.5});
  const Array radius = double_scalar(0.3);
  const CallResult kept = call(kIndex, 3, {reference, middle});
  ASSERT_FALSE(kept.failed) << kept.error;
  const Array handle = kept.outputs[2];
  const CallResult fresh = call(kPoint, 2, {reference, model});
  const CallResult inRange = call(kRadius, 3, {handle, middle, radius});
  ASSERT_FALSE(fresh.failed || inRange.failed);
  const size_t keptCount = tulm::kept_tree_count();
  for (const char* threads : {"1", "2", "7"}) {
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", threads), 0);
    for (int64_t poll : {1, 2, 3}) {
      const std::string at =
          std::string("at ") + threads + " threads, poll " + std::to_string(poll);
      mexhost::interrupt_at_poll(poll);
      expect_interrupted(call(kPoint, 2, {noReference, model, handle}), at);
      EXPECT_EQ(tulm::kept_tree_count(), keptCount) << at;
      ASSERT_TRUE(is_kept(handle)) << at;
    }
  }
  mexhost::interrupt_at_poll(0);
  EXPECT_EQ(bits(call(kRadius, 3, {handle, middle, radius})), bits(inRange));
  const CallResult searched = call(kPoint, 3, {noReference, model, handle});
  ASSERT_FALSE(searched.failed) << searched.error;
  EXPECT_EQ(answer_bits(searched, 2), bits(fresh));
  EXPECT_FALSE(tulm::PackedTree::of(*kept_tree(handle)).empty()) << "no search copy made";
  const CallResult last = call(kPoint, 2, {noReference, model, handle});
  ASSERT_FALSE(last.failed) << last.error;
  EXPECT_EQ(bits(last), bits(fresh));
  EXPECT_FALSE(is_kept(handle));
  EXPECT_EQ(tulm::kept_tree_count(), keptCount - 1);
}

}  // namespace
