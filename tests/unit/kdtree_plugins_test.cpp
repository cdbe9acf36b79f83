// nearestPointSearch, nearestIndexSearch and radiusPointSearch through the stand-in host,
// and the tree handle that passes between them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/spatial_search/kdtree.h"
#include "environment.h"
#include "harness.h"
#include "kdtree_oracle.h"

using mexhost::Array;
using mexhost::call;
using mexhost::CallResult;
using mexhost::double_array;
using mexhost::double_scalar;
using tulm_test::CloudCase;
using tulm_test::set_environment;

namespace {

const char* const kPoint = "nearestPointSearch";
const char* const kIndex = "nearestIndexSearch";
const char* const kRadius = "radiusPointSearch";
const char* const kInvalidThird = "Third argument is not a valid pointer to a k-D tree\n";
const char* const kInvalidFirst = "First argument must be a valid pointer to a k-D tree\n";
const char* const kDistLim = "Distance limit (DISTLIM) must be a scalar value >= 0.";

// Points given row by row, as a user types them.
Array rows_of(const std::vector<std::vector<double>>& rows) {
  const size_t cols = rows.empty() ? 0 : rows[0].size();
  std::vector<double> values(rows.size() * cols);
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = 0; j < cols; ++j) values[i + j * rows.size()] = rows[i][j];
  }
  return double_array({rows.size(), cols}, values);
}

Array cloud_array(const tulm_test::Cloud& cloud) {
  return double_array({static_cast<size_t>(cloud.M), static_cast<size_t>(cloud.N)}, cloud.xyz);
}

const std::vector<std::vector<double>> kSixPoints = {{2, 3}, {5, 4}, {9, 6},
                                                     {4, 7}, {8, 1}, {7, 2}};

std::vector<double> values(const Array& array) { return array.values<double>(); }

CallResult expect_success(const std::string& name, int nlhs, const std::vector<Array>& inputs) {
  CallResult result = call(name, nlhs, inputs);
  EXPECT_FALSE(result.failed) << name << ": " << result.error;
  EXPECT_TRUE(result.guards_intact);
  EXPECT_TRUE(result.inputs_intact);
  return result;
}

// A kept tree of the six points; the test releases it.
Array keep_six_points() {
  CallResult result = expect_success(kIndex, 3, {rows_of(kSixPoints), rows_of({{7, 2}})});
  return result.outputs[2];
}

struct NearestCase {
  const char* name;
  std::vector<std::vector<double>> reference;
  std::vector<std::vector<double>> model;
  std::vector<double> index;
  std::vector<double> distance;
};

class NearestIndex : public testing::TestWithParam<NearestCase> {};

TEST_P(NearestIndex, LastOfTheNearestInPreorderWins) {
  const NearestCase& c = GetParam();
  const CallResult result = expect_success(kIndex, 2, {rows_of(c.reference), rows_of(c.model)});
  EXPECT_EQ(values(result.outputs[0]), c.index);
  EXPECT_EQ(values(result.outputs[1]), c.distance);
  EXPECT_EQ(result.printed, "");
}

INSTANTIATE_TEST_SUITE_P(
    Examples, NearestIndex,
    testing::Values(NearestCase{"EqualRowsGiveTheSecond", {{1}, {1}}, {{1}}, {2}, {0}},
                    NearestCase{"TwoAtDistanceOne", {{0}, {2}}, {{1}}, {1}, {1}},
                    NearestCase{"ThreeOnALine", {{0}, {2}, {4}}, {{3}, {1}}, {3, 1}, {1, 1}},
                    NearestCase{"SquareCorners",
                                {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
                                {{0.5, 0.5}},
                                {2},
                                {0.7071067811865476}},
                    NearestCase{"SixPoints",
                                kSixPoints,
                                {{6, 3}, {9, 2}},
                                {2, 5},
                                {1.4142135623730951, 1.4142135623730951}}),
    [](const testing::TestParamInfo<NearestCase>& info) { return std::string(info.param.name); });

TEST(NearestPoint, GivesCoordinatesAndDistances) {
  const CallResult result =
      expect_success(kPoint, 2, {rows_of(kSixPoints), rows_of({{6, 3}, {9, 2}})});
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{2, 2}));
  EXPECT_EQ(values(result.outputs[0]), (std::vector<double>{5, 8, 4, 1}));
  EXPECT_EQ(values(result.outputs[1]), (std::vector<double>{std::sqrt(2.0), std::sqrt(2.0)}));
}

TEST(NearestSearch, ModelRowWithNanHasNoMatch) {
  const Array model = rows_of({{NAN, 3}, {9, 2}});
  const CallResult point = expect_success(kPoint, 2, {rows_of(kSixPoints), model});
  EXPECT_EQ(point.printed, "Null LL\n");
  EXPECT_EQ(values(point.outputs[0]), (std::vector<double>{-1, 8, -1, 1}));
  EXPECT_EQ(values(point.outputs[1]), (std::vector<double>{0, std::sqrt(2.0)}));
  const CallResult index = expect_success(kIndex, 1, {rows_of(kSixPoints), model});
  EXPECT_EQ(index.printed, "Null LL\n");
  EXPECT_EQ(values(index.outputs[0]), (std::vector<double>{0, 5}));
}

// Output 1 exists for every nlhs; outputs 2 and 3 only when requested.
TEST(NearestSearch, OutputsForEveryRequestCount) {
  for (const char* name : {kPoint, kIndex}) {
    for (int nlhs = 0; nlhs <= 3; ++nlhs) {
      CallResult result = expect_success(name, nlhs, {rows_of(kSixPoints), rows_of({{6, 3}})});
      ASSERT_EQ(result.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
      EXPECT_EQ(result.outputs[0].dims(),
                (std::vector<size_t>{1, name == kPoint ? size_t{2} : size_t{1}}));
      if (nlhs >= 2) {
        EXPECT_EQ(result.outputs[1].dims(), (std::vector<size_t>{1, 1}));
      }
      if (nlhs == 3) {
        EXPECT_EQ(result.outputs[2].dims(), (std::vector<size_t>{1, 1}));
        expect_success(kIndex, 1, {double_array({0, 0}), rows_of({{6, 3}}), result.outputs[2]});
      }
    }
  }
}

TEST(NearestSearch, EmptyModelGivesEmptyOutputs) {
  const CallResult point = expect_success(kPoint, 2, {rows_of(kSixPoints), double_array({0, 2})});
  EXPECT_EQ(point.outputs[0].dims(), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(point.outputs[1].dims(), (std::vector<size_t>{0, 1}));
  const CallResult index = expect_success(kIndex, 2, {rows_of(kSixPoints), double_array({0, 5})});
  EXPECT_EQ(index.outputs[0].dims(), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(index.printed, "");
}

struct ErrorCase {
  const char* name;
  const char* plugin;
  std::vector<Array> inputs;
  std::string message;
};

class NearestErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(NearestErrors, EndTheCallWithTheMessage) {
  const ErrorCase& c = GetParam();
  const CallResult result = call(c.plugin, 2, c.inputs);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error, c.message);
  EXPECT_TRUE(result.outputs.empty() || !result.outputs[0].exists());
}

const Array kSix = rows_of(kSixPoints);

INSTANTIATE_TEST_SUITE_P(
    Checks, NearestErrors,
    testing::Values(
        ErrorCase{"OneInput", kPoint, {kSix}, "Must have at least two input arrays."},
        ErrorCase{"EmptyHandle", kIndex, {kSix, kSix, double_array({0, 0})}, kInvalidThird},
        ErrorCase{"ZeroHandle", kPoint, {kSix, kSix, double_scalar(0.4)}, kInvalidThird},
        ErrorCase{"MadeUpHandle", kIndex, {kSix, kSix, double_scalar(123456789.0)}, kInvalidThird},
        ErrorCase{"HugeHandle", kIndex, {kSix, kSix, double_scalar(1e300)}, kInvalidThird},
        ErrorCase{"NanHandle", kIndex, {kSix, kSix, double_scalar(NAN)}, kInvalidThird},
        ErrorCase{"HandleOfAnotherClass",
                  kIndex,
                  {kSix, kSix, mexhost::int32_scalar(5)},
                  "handle must be a double scalar (got int32)"},
        ErrorCase{"NoReferenceRows",
                  kPoint,
                  {double_array({0, 3}), kSix},
                  "You have to supply some reference points to build a k-D tree."},
        ErrorCase{"NoReferenceColumns",
                  kIndex,
                  {double_array({3, 0}), kSix},
                  "You have to supply some reference points to build a k-D tree."},
        ErrorCase{"ModelOfOtherDimension",
                  kPoint,
                  {kSix, rows_of({{1, 2, 3}})},
                  "Reference and Model Vectors must be of the same dimension"},
        ErrorCase{"ModelWithoutColumns",
                  kIndex,
                  {kSix, double_array({2, 0})},
                  "Reference and Model Vectors must be of the same dimension"},
        ErrorCase{"ReferenceOfAnotherClass",
                  kIndex,
                  {mexhost::single_array({2, 2}, {1, 2, 3, 4}), kSix},
                  "reference must be a double matrix (got single)"},
        ErrorCase{"ModelOfAnotherClass",
                  kPoint,
                  {kSix, mexhost::int32_array({1, 2}, {1, 2})},
                  "model must be a double matrix (got int32)"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// Built by one plug-in, searched by another, released by the third; afterwards the handle is
// refused everywhere, without a read of the released memory.
TEST(TreeHandle, LivesAcrossPluginsUntilReleased) {
  const Array handle = keep_six_points();

  CallResult radius = expect_success(kRadius, 3, {handle, rows_of({{5, 4}}), double_scalar(3)});
  EXPECT_EQ(values(radius.outputs[2]), (std::vector<double>{6, 2}));

  // Input 1 is ignored when a handle comes, whatever its shape.
  CallResult again = expect_success(kPoint, 3, {rows_of({{1, 2, 3}}), rows_of({{6, 3}}), handle});
  EXPECT_EQ(values(again.outputs[0]), (std::vector<double>{5, 4}));
  EXPECT_EQ(values(again.outputs[2]), values(handle));

  // An error leaves the tree alive.
  EXPECT_TRUE(call(kIndex, 1, {kSix, rows_of({{1, 2, 3}}), handle}).failed);
  EXPECT_TRUE(call(kRadius, 1, {handle, rows_of({{1, 2, 3}}), double_scalar(1)}).failed);

  // Fewer than three outputs with a handle: the last use.
  CallResult last = expect_success(kIndex, 1, {kSix, rows_of({{9, 2}}), handle});
  EXPECT_EQ(values(last.outputs[0]), (std::vector<double>{5}));

  EXPECT_EQ(call(kRadius, 1, {handle, rows_of({{5, 4}}), double_scalar(3)}).error, kInvalidFirst);
  EXPECT_EQ(call(kPoint, 1, {kSix, rows_of({{5, 4}}), handle}).error, kInvalidThird);
  EXPECT_EQ(call(kIndex, 0, {kSix, double_array({0, 2}), handle}).error, kInvalidThird);
}

// The rows a kept tree is asked about add up over calls; the call that brings them to one per
// 64 points makes the search copy, which every later call searches, whichever plug-in makes
// it, and the release by another plug-in frees with the tree (the sanitizer build fails on a
// leak). The answers are the brute force's before and after.
TEST(TreeHandle, KeepsOneSearchCopyUntilReleased) {
  const tulm_test::Cloud cloud = tulm_test::random_cloud(1000, 3, 5, 13);
  const tulm_test::PreorderOracle oracle(cloud);
  tulm_test::Cloud model = tulm_test::random_cloud(6, 3, 10, 14);
  for (double& x : model.xyz) x *= 0.5;
  const Array handle =
      expect_success(kIndex, 3, {cloud_array(cloud), cloud_array(model)}).outputs[2];
  const tulm::tree_header* tree = tulm::find_kept_tree(static_cast<int64_t>(values(handle)[0]));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->searchCopy, nullptr);
  const void* copy = nullptr;
  for (const char* plugin : {kPoint, kPoint, kIndex, kPoint}) {
    const CallResult result =
        expect_success(plugin, 3, {double_array({0, 0}), cloud_array(model), handle});
    for (int32_t i = 0; i < model.M; ++i) {
      const tulm_test::Nearest expected = tulm_test::brute_nearest(cloud, oracle, model.row(i));
      if (plugin == kIndex) {
        EXPECT_EQ(values(result.outputs[0])[i], expected.row + 1) << "model row " << i;
      } else {
        EXPECT_EQ(values(result.outputs[0])[i], cloud.at(expected.row, 0)) << "model row " << i;
      }
      EXPECT_EQ(values(result.outputs[1])[i], expected.distance);
    }
    if (copy == nullptr) {
      copy = tree->searchCopy;
    } else {
      EXPECT_EQ(tree->searchCopy, copy);
    }
  }
  EXPECT_NE(copy, nullptr);
  expect_success(kIndex, 1, {double_array({0, 0}), cloud_array(model), handle});
  EXPECT_EQ(call(kRadius, 1, {handle, rows_of({{0, 0, 0}}), double_scalar(1)}).error,
            kInvalidFirst);
}

TEST(TreeHandle, EmptyModelReleasesTheTree) {
  const Array handle = keep_six_points();
  const CallResult result =
      expect_success(kPoint, 2, {double_array({0, 0}), double_array({0, 2}), handle});
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(call(kIndex, 1, {kSix, kSix, handle}).error, kInvalidThird);
}

TEST(TreeHandle, TreesAreIndependent) {
  const Array first = keep_six_points();
  const Array second = expect_success(kPoint, 3, {rows_of({{0}, {10}}), rows_of({{1}})}).outputs[2];
  EXPECT_NE(values(first), values(second));
  expect_success(kPoint, 0, {double_array({0, 0}), rows_of({{1}}), second});
  EXPECT_EQ(
      values(
          expect_success(kIndex, 1, {double_array({0, 0}), rows_of({{9, 2}}), first}).outputs[0]),
      (std::vector<double>{5}));
  EXPECT_TRUE(call(kRadius, 1, {second, rows_of({{1}}), double_scalar(1)}).failed);
}

// A handle is looked up among the kept trees, never read as an address, and nothing outside
// the plug-ins decides what is a tree: an earlier release took the registry's address from
// this environment variable, and a script that set it made the next call crash. Neither a
// forged variable nor a made-up handle pointing at a plausible tree record gets past the check.
TEST(TreeHandle, ForgedRegistryAndMadeUpHandlesAreRefused) {
  const Array handle = keep_six_points();
  double value[] = {7, 2};
  tulm::node root{value, 0, 5, nullptr, nullptr};
  tulm::tree_header lookalike{&root, 2, 1};
  const Array madeUp = double_scalar(static_cast<double>(reinterpret_cast<intptr_t>(&lookalike)));

  const std::string forged = std::to_string(getpid()) + ":1000";
  ASSERT_EQ(set_environment("TULM_KDTREE_REGISTRY", forged), 0);
  EXPECT_EQ(call(kIndex, 1, {kSix, kSix, double_scalar(12345)}).error, kInvalidThird);
  EXPECT_EQ(call(kPoint, 1, {kSix, kSix, madeUp}).error, kInvalidThird);
  EXPECT_EQ(call(kRadius, 1, {madeUp, rows_of({{7, 2}}), double_scalar(0)}).error, kInvalidFirst);
  EXPECT_EQ(
      values(expect_success(kRadius, 3, {handle, rows_of({{5, 4}}), double_scalar(3)}).outputs[2]),
      (std::vector<double>{6, 2}));
  set_environment("TULM_KDTREE_REGISTRY", "");
  expect_success(kIndex, 0, {double_array({0, 0}), double_array({0, 2}), handle});
}

TEST(RadiusSearch, SixPointExample) {
  const Array handle = keep_six_points();
  const CallResult result =
      expect_success(kRadius, 3, {handle, rows_of({{5, 4}}), double_scalar(3)});
  EXPECT_EQ(result.outputs[0].dims(), (std::vector<size_t>{2, 2}));
  EXPECT_EQ(values(result.outputs[0]), (std::vector<double>{7, 5, 2, 4}));
  EXPECT_EQ(values(result.outputs[1]), (std::vector<double>{2.8284271247461903, 0}));
  EXPECT_EQ(values(result.outputs[2]), (std::vector<double>{6, 2}));

  const auto rows = [&](double limit) {
    return values(
        expect_success(kRadius, 3, {handle, rows_of({{5, 4}}), double_scalar(limit)}).outputs[2]);
  };
  EXPECT_EQ(rows(0), (std::vector<double>{2}));
  EXPECT_EQ(rows(std::sqrt(10.0)), (std::vector<double>{6, 2, 1, 4}));
  EXPECT_EQ(rows(INFINITY), (std::vector<double>{6, 2, 1, 4, 3, 5}));
  EXPECT_EQ(rows(NAN), (std::vector<double>{}));

  // Any numeric class for DISTLIM.
  EXPECT_EQ(values(expect_success(kRadius, 3, {handle, rows_of({{5, 4}}), mexhost::int32_scalar(3)})
                       .outputs[2]),
            (std::vector<double>{6, 2}));

  for (int nlhs = 0; nlhs <= 3; ++nlhs) {
    const CallResult none =
        expect_success(kRadius, nlhs, {handle, rows_of({{100, 100}}), double_scalar(1)});
    ASSERT_EQ(none.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
    EXPECT_EQ(none.outputs[0].dims(), (std::vector<size_t>{0, 2}));
    for (int k = 1; k < nlhs; ++k) {
      EXPECT_EQ(none.outputs[k].dims(), (std::vector<size_t>{0, 1}));
    }
  }
  // No query row: no output at all.
  EXPECT_FALSE(expect_success(kRadius, 1, {handle, double_array({0, 2}), double_scalar(1)})
                   .outputs[0]
                   .exists());
  expect_success(kIndex, 0, {double_array({0, 0}), double_array({0, 2}), handle});
}

TEST(RadiusSearch, ChecksInOrder) {
  const Array handle = keep_six_points();
  const Array q = rows_of({{5, 4}});
  const Array one = double_scalar(1);
  const std::vector<std::pair<std::vector<Array>, std::string>> cases = {
      {{handle, q}, "Must have at least 3 inputs (ROOT, QUERYPT, DISTLIM).\n"},
      {{double_array({0, 0}), q, one}, kInvalidFirst},
      {{double_scalar(0), q, one}, kInvalidFirst},
      {{double_scalar(4096), q, one}, kInvalidFirst},
      {{mexhost::int32_scalar(1), q, one}, "ROOT must be a double scalar (got int32)"},
      {{handle, rows_of({{1, 2, 3}}), one},
       "The dimension of the k-D tree (2) and queried point (3) do not match"},
      {{handle, double_array({0, 0}), one},
       "The dimension of the k-D tree (2) and queried point (0) do not match"},
      {{handle, rows_of({{1, 2}, {3, 4}}), one},
       "Only one search may be performed. QUERYPT must be 1xD array"},
      {{handle, q, double_array({1, 2}, {1, 2})}, kDistLim},
      {{handle, q, double_scalar(-0.5)}, kDistLim},
      {{handle, q, mexhost::numeric_array(mxCHAR_CLASS, {1, 1}, {1})},
       "DISTLIM must be a numeric scalar (got char)"},
      {{handle, mexhost::single_array({1, 2}, {5, 4}), one},
       "QUERYPT must be a double matrix (got single)"},
  };
  for (const auto& [inputs, message] : cases) {
    const CallResult result = call(kRadius, 3, inputs);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.error, message);
  }
  expect_success(kIndex, 0, {double_array({0, 0}), double_array({0, 2}), handle});
}

class AgainstBruteForce : public testing::TestWithParam<CloudCase> {};

TEST_P(AgainstBruteForce, KeptTreeAnswersLikeTheOracle) {
  const CloudCase& c = GetParam();
  const tulm_test::Cloud cloud = tulm_test::random_cloud(c.M, c.N, c.range, 11);
  const tulm_test::PreorderOracle oracle(cloud);
  tulm_test::Cloud model = tulm_test::random_cloud(150, c.N, c.range > 0 ? 2 * c.range : 0, 12);
  if (c.range > 0) {
    for (double& x : model.xyz) x *= 0.5;
  }
  const CallResult index = expect_success(kIndex, 3, {cloud_array(cloud), cloud_array(model)});
  const Array handle = index.outputs[2];
  const CallResult point =
      expect_success(kPoint, 2, {double_array({0, 0}), cloud_array(model), handle});
  // the tree is released now; a fresh one for the radius searches
  const Array kept = expect_success(kPoint, 3, {cloud_array(cloud), cloud_array(model)}).outputs[2];

  const std::vector<double> rows = values(index.outputs[0]);
  const std::vector<double> points = values(point.outputs[0]);
  for (int32_t i = 0; i < model.M; ++i) {
    const std::vector<double> q = model.row(i);
    const tulm_test::Nearest expected = tulm_test::brute_nearest(cloud, oracle, q);
    ASSERT_EQ(rows[i], expected.row + 1) << "model row " << i;
    ASSERT_EQ(values(index.outputs[1])[i], expected.distance);
    for (int32_t d = 0; d < c.N; ++d) ASSERT_EQ(points[i + d * model.M], cloud.at(expected.row, d));

    if (i % 10 != 0) continue;
    const double r = c.range > 0 ? 1.0 : 0.2;
    const CallResult within = expect_success(
        kRadius, 3, {kept, double_array({1, static_cast<size_t>(c.N)}, q), double_scalar(r)});
    std::vector<double> expectedRows;
    for (int32_t p : tulm_test::brute_within(cloud, oracle, q, r)) expectedRows.push_back(p + 1);
    ASSERT_EQ(values(within.outputs[2]), expectedRows);
  }
  expect_success(kIndex, 0,
                 {double_array({0, 0}), double_array({0, static_cast<size_t>(c.N)}), kept});
}

INSTANTIATE_TEST_SUITE_P(
    Clouds, AgainstBruteForce,
    testing::Values(CloudCase{"Line_Ties", 200, 1, 6}, CloudCase{"Plane_Ties", 200, 2, 4},
                    CloudCase{"Space_Ties", 250, 3, 3}, CloudCase{"Space_Continuous", 400, 3, 0}),
    [](const testing::TestParamInfo<CloudCase>& info) { return std::string(info.param.name); });

}  // namespace
