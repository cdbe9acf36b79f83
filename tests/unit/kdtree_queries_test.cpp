// The nearest queries against the literal procedure, bit for bit: on the literally built tree,
// the descent's candidate, the radius search's list around it with the 0.001 slack, and the
// walk of that list keeping a cell when the distance so far is >= its own. Both deliverables'
// core routines, at one, two and seven threads, on tie-heavy, spherical and non-finite data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/parallel.h"
#include "core/spatial_search/kdtree.h"
#include "core/spatial_search/literal_kdtree.h"
#include "core/spatial_search/nearestIndexSearch.h"
#include "core/spatial_search/nearestPointSearch.h"
#include "core/spatial_search/nearest_queries.h"
#include "icosphere.h"
#include "kdtree_oracle.h"

using tulm_test::Cloud;

namespace {

// What both deliverables give for one model.
struct Answers {
  std::vector<double> rows;
  std::vector<double> rowDistances;
  std::vector<double> points;
  std::vector<double> pointDistances;
  std::string printed;
};

Answers sized_answers(const Cloud& model) {
  const size_t Q = static_cast<size_t>(model.M);
  return {std::vector<double>(Q), std::vector<double>(Q), std::vector<double>(Q * model.N),
          std::vector<double>(Q), ""};
}

// The documented procedure, step by step, on the literal tree.
Answers literal_answers(const Cloud& reference, const Cloud& model) {
  Answers answers = sized_answers(model);
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(reference.M));
  std::iota(idx.begin(), idx.end(), 0);
  tulm::node* root = tulm::reference::build_tree_core(
      reference.xyz.data(), reference.M, reference.N, idx.data(), reference.M, 0, diagnostics);
  const int32_t Q = model.M;
  const int32_t N = model.N;
  for (int32_t i = 0; i < Q; ++i) {
    const std::vector<double> q = model.row(i);
    const tulm::node* candidate = tulm::pointLocation(root, q.data(), N);
    const double r = tulm::calcdistance(candidate->value, q.data(), N) + 0.001;
    tulm::node* cell = tulm::reference::rangeQuery(root, r, q.data(), N);
    if (cell == nullptr) {
      answers.rows[i] = 0;  // -1, then made 1-based
      for (int32_t k = 0; k < N; ++k) answers.points[i + k * Q] = -1;
      answers.printed += "Null LL\n";
      continue;
    }
    double dist = tulm::calcdistance(cell->value, q.data(), N);
    while (cell != nullptr) {
      const double d = tulm::calcdistance(cell->value, q.data(), N);
      if (dist >= d) {
        dist = d;
        answers.rows[i] = cell->idx + 1.0;
        for (int32_t k = 0; k < N; ++k) answers.points[i + k * Q] = cell->value[k];
      }
      tulm::node* next = cell->right;
      std::free(cell->value);
      std::free(cell);
      cell = next;
    }
    answers.rowDistances[i] = dist;
    answers.pointDistances[i] = dist;
  }
  tulm::reference::free_tree(root);
  return answers;
}

struct ReleaseTree {
  void operator()(tulm::tree_header* tree) const { tulm::release_tree(tree); }
};

Answers toolbox_answers(const Cloud& reference, const Cloud& model) {
  Answers answers = sized_answers(model);
  tulm::CapturedDiagnostics diagnostics;
  std::vector<int32_t> idx(static_cast<size_t>(reference.M));
  std::iota(idx.begin(), idx.end(), 0);
  const std::unique_ptr<tulm::tree_header, ReleaseTree> tree(tulm::build_tree(
      reference.xyz.data(), reference.M, reference.N, idx.data(), reference.M, 0, diagnostics));
  tulm::nearestIndexSearch(*tree, model.xyz.data(), model.M, answers.rows.data(),
                           answers.rowDistances.data(), diagnostics);
  tulm::nearestPointSearch(*tree, model.xyz.data(), model.M, answers.points.data(),
                           answers.pointDistances.data(), diagnostics);
  answers.printed = diagnostics.printed;
  return answers;
}

// The first element whose bits differ, or -1.
int64_t first_difference(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (std::memcmp(&a[k], &b[k], sizeof(double)) != 0) return static_cast<int64_t>(k);
  }
  return -1;
}

Cloud from_rows(int32_t N, const std::vector<double>& rowMajor) {
  const int32_t M = static_cast<int32_t>(rowMajor.size() / N);
  Cloud cloud{M, N, std::vector<double>(rowMajor.size())};
  for (int32_t p = 0; p < M; ++p) {
    for (int32_t d = 0; d < N; ++d) cloud.xyz[p + d * M] = rowMajor[p * N + d];
  }
  return cloud;
}

// The points of a side^N grid of unit steps, in shuffled order.
Cloud grid(int32_t side, int32_t N, double step, unsigned seed) {
  std::vector<double> rowMajor;
  int32_t total = 1;
  for (int32_t d = 0; d < N; ++d) total *= side;
  for (int32_t p = 0; p < total; ++p) {
    for (int32_t d = 0, rest = p; d < N; ++d, rest /= side)
      rowMajor.push_back((rest % side) * step);
  }
  std::vector<int32_t> order(static_cast<size_t>(total));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  std::vector<double> shuffled;
  for (int32_t p : order) shuffled.insert(shuffled.end(), &rowMajor[p * N], &rowMajor[p * N + N]);
  return from_rows(N, shuffled);
}

// Each of `distinct` random points `copies` times, interleaved.
Cloud duplicated(int32_t distinct, int32_t copies, unsigned seed) {
  const Cloud base = tulm_test::random_cloud(distinct, 3, 0, seed);
  std::vector<double> rowMajor;
  for (int32_t c = 0; c < copies; ++c) {
    for (int32_t p = 0; p < distinct; ++p) {
      for (int32_t d = 0; d < 3; ++d) rowMajor.push_back(base.at(p, d));
    }
  }
  return from_rows(3, rowMajor);
}

// The rows of a, then those of b.
Cloud stacked(const Cloud& a, const Cloud& b) {
  std::vector<double> rowMajor;
  for (const Cloud* cloud : {&a, &b}) {
    for (int32_t p = 0; p < cloud->M; ++p) {
      const std::vector<double> row = cloud->row(p);
      rowMajor.insert(rowMajor.end(), row.begin(), row.end());
    }
  }
  return from_rows(a.N, rowMajor);
}

// Vertices of the subdivided icosahedron and random points on the sphere, single precision
// widened to double as the location plug-ins pass them.
Cloud sphere_vertices(int subdivisions) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(subdivisions);
  return from_rows(3, std::vector<double>(mesh.vertices.begin(), mesh.vertices.end()));
}

Cloud sphere_points(int32_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal;
  std::vector<double> rowMajor;
  for (int32_t p = 0; p < count; ++p) {
    const double x = normal(random), y = normal(random), z = normal(random);
    const double norm = std::sqrt(x * x + y * y + z * z);
    for (double c : {x, y, z}) rowMajor.push_back(static_cast<float>(c / norm));
  }
  return from_rows(3, rowMajor);
}

// Points on the unit circle in the plane z = 0: their squared distances from points near the
// origin differ by a few units in the last place, and distinct sums often have the same root.
Cloud unit_circle(int32_t M, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
  std::vector<double> rowMajor;
  for (int32_t p = 0; p < M; ++p) {
    const double t = angle(random);
    for (double c : {std::cos(t), std::sin(t), 0.0}) rowMajor.push_back(c);
  }
  return from_rows(3, rowMajor);
}

// Two points at distance 1 from the origin whose sums of squares differ, 1 + 2^-52 on the right
// of the root's split and 1 on its left, with far points around them: a search from the
// origin meets the larger sum first, and the literal answer is that point, later in pre-order.
Cloud equal_roots_of_distinct_sums() {
  std::vector<double> rowMajor = {0.636, 0.7716890565506291, 0, -1, 0, 0, -0.5, 5, 0};
  for (int32_t k = 0; k < 40; ++k) {
    for (double c : {-5 - 0.1 * k, 0.01 * k, 0.0, 3 + 0.1 * k, -0.01 * k, 0.0}) {
      rowMajor.push_back(c);
    }
  }
  return from_rows(3, rowMajor);
}

// Points and queries at multiples of a quarter on a line of `range` values.
Cloud line(int32_t M, int range, double scale, unsigned seed) {
  Cloud cloud = tulm_test::random_cloud(M, 1, range, seed);
  for (double& x : cloud.xyz) x *= scale;
  return cloud;
}

// Replaces rows of the model by rows of special values, in turn.
Cloud with_special_rows(Cloud model) {
  const double specials[][3] = {{NAN, 0, 0},         {0, 0, INFINITY},     {-INFINITY, 1, 1},
                                {1e300, 0.5, 0.5},   {-1e300, -1e300, 0},  {1e11, 0, 0},
                                {0.5, 1e-170, 0.25}, {1e-310, -1e-310, 0}, {-0.0, 0.0, -0.0},
                                {1.5e308, 0, 0},     {-1.5e308, 0, 0}};
  int32_t i = 0;
  for (const auto& special : specials) {
    for (int32_t d = 0; d < model.N; ++d) model.xyz[i + d * model.M] = special[d];
    i += 3;
  }
  return model;
}

Cloud with_special_points(Cloud reference, double special) {
  reference.xyz[reference.M / 3] = special;
  return reference;
}

struct QueryCase {
  const char* name;
  Cloud (*reference)();
  Cloud (*model)();
};

class NearestQueries : public testing::TestWithParam<QueryCase> {
 protected:
  void TearDown() override { tulm::set_thread_count(0); }
};

TEST_P(NearestQueries, GiveTheLiteralAnswersAtAnyThreadCount) {
  const Cloud reference = GetParam().reference();
  const Cloud model = GetParam().model();
  const Answers expected = literal_answers(reference, model);
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    const Answers got = toolbox_answers(reference, model);
    EXPECT_EQ(first_difference(got.rows, expected.rows), -1) << threads << " threads";
    EXPECT_EQ(first_difference(got.rowDistances, expected.rowDistances), -1);
    EXPECT_EQ(first_difference(got.points, expected.points), -1);
    EXPECT_EQ(first_difference(got.pointDistances, expected.pointDistances), -1);
    EXPECT_EQ(got.printed, expected.printed + expected.printed);
  }
}

// Queries between grid points, a quarter step apart, are equidistant from several points.
Cloud quarter_steps(int32_t Q, int32_t N, int range, unsigned seed) {
  Cloud model = tulm_test::random_cloud(Q, N, 4 * range, seed);
  for (double& x : model.xyz) x *= 0.25;
  return model;
}

INSTANTIATE_TEST_SUITE_P(
    Data, NearestQueries,
    testing::Values(
        QueryCase{"IntegerGrid3D", [] { return grid(7, 3, 1.0, 1); },
                  [] { return quarter_steps(7200, 3, 7, 2); }},
        QueryCase{"IntegerGrid2D", [] { return grid(20, 2, 1.0, 3); },
                  [] { return quarter_steps(500, 2, 20, 4); }},
        QueryCase{"TenthGrid3D", [] { return grid(6, 3, 0.1, 5); },
                  [] {
                    Cloud model = quarter_steps(500, 3, 6, 6);
                    for (double& x : model.xyz) x *= 0.1;
                    return model;
                  }},
        QueryCase{
            "DuplicatedPoints", [] { return duplicated(60, 5, 7); },
            [] { return stacked(duplicated(60, 1, 7), tulm_test::random_cloud(60, 3, 0, 8)); }},
        QueryCase{"LineWithRepeats", [] { return line(400, 30, 1.0, 9); },
                  [] { return line(2500, 130, 0.25, 10); }},
        QueryCase{"LineContinuous", [] { return tulm_test::random_cloud(300, 1, 0, 11); },
                  [] { return tulm_test::random_cloud(300, 1, 0, 12); }},
        QueryCase{"LineOfTinyAndHugeSteps",
                  [] {
                    Cloud cloud = line(200, 50, 1e-200, 13);
                    for (int32_t p = 0; p < 50; ++p) cloud.xyz[p] = p * 1e9;
                    return cloud;
                  },
                  [] {
                    Cloud model = line(200, 200, 0.25e-200, 14);
                    for (int32_t p = 0; p < 60; ++p) model.xyz[p] = p * 0.25e9;
                    return model;
                  }},
        // Differences that round alike tie distinct values; the one latest in pre-order is
        // the farther one from the query, on its left and then on its right.
        QueryCase{"LineTiesByRoundingOnTheLeft",
                  [] {
                    return from_rows(1, {1e-200, 2e-200, 1 + 0x1p-52});
                  },
                  [] {
                    return from_rows(1, {0.5, 0.75, 3, -2, 1e-199});
                  }},
        QueryCase{"LineTiesByRoundingOnTheRight",
                  [] {
                    return from_rows(1, {-1 - 0x1p-52, 1e-200, 2e-200});
                  },
                  [] {
                    return from_rows(1, {-0.5, -0.75, 3, -2, 1e-199});
                  }},
        QueryCase{"CircleTiesByRounding", [] { return unit_circle(250, 33); },
                  [] {
                    Cloud model = tulm_test::random_cloud(300, 3, 0, 34);
                    for (double& x : model.xyz) x = (x - 0.5) * 1e-16;
                    return model;
                  }},
        QueryCase{"EqualRootsOfDistinctSums", equal_roots_of_distinct_sums,
                  [] {
                    return from_rows(3, {0, 0, 0});
                  }},
        QueryCase{"SphereVertices", [] { return sphere_vertices(3); },
                  [] { return sphere_points(2500, 15); }},
        QueryCase{"SphereVerticesAtVertices", [] { return sphere_vertices(2); },
                  [] { return sphere_vertices(2); }},
        QueryCase{"FourDimensionsWithTies", [] { return tulm_test::random_cloud(300, 4, 3, 16); },
                  [] { return quarter_steps(400, 4, 3, 17); }},
        QueryCase{"SpecialRows", [] { return grid(5, 3, 1.0, 18); },
                  [] { return with_special_rows(quarter_steps(1200, 3, 5, 19)); }},
        QueryCase{"SpecialRowsOnALine", [] { return line(100, 20, 1.0, 20); },
                  [] {
                    Cloud model = line(60, 80, 0.25, 21);
                    const double specials[] = {NAN, INFINITY, -INFINITY, 1e300, 2e11, -0.0};
                    for (int32_t k = 0; k < 6; ++k) model.xyz[k * 7] = specials[k];
                    return model;
                  }},
        QueryCase{"NanInTheTree", [] { return with_special_points(grid(5, 3, 1.0, 22), NAN); },
                  [] { return quarter_steps(300, 3, 5, 23); }},
        QueryCase{"InfinityInTheTree",
                  [] { return with_special_points(grid(5, 3, 1.0, 24), INFINITY); },
                  [] { return quarter_steps(300, 3, 5, 25); }},
        QueryCase{"HugeCoordinatesInTheTree",
                  [] { return with_special_points(grid(5, 3, 1.0, 26), 1e300); },
                  [] { return with_special_rows(quarter_steps(300, 3, 5, 27)); }},
        QueryCase{"FewQueriesOnAManyPointTree",
                  [] { return tulm_test::random_cloud(5000, 3, 10, 28); },
                  [] { return quarter_steps(20, 3, 10, 29); }},
        QueryCase{"EmptyModel", [] { return grid(3, 3, 1.0, 30); },
                  [] {
                    return Cloud{0, 3, {}};
                  }},
        QueryCase{"OneReferencePoint",
                  [] {
                    return from_rows(3, {0.5, 0.25, 1});
                  },
                  [] { return with_special_rows(quarter_steps(40, 3, 2, 31)); }},
        QueryCase{"OneQuery", [] { return grid(4, 2, 1.0, 32); },
                  [] {
                    return from_rows(2, {1.5, 1.5});
                  }}),
    [](const testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

}  // namespace
